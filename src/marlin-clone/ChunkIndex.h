#pragma once

// The list of stored chunks and the source regions each one covers. It is what restore and --rbk-info trust, so
// decoding checks every offset and length against the header before anyone acts on them.

#include "ImageHeader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A source region of a chunk: either bytes stored in the chunk, or a run that was all zero and is not stored.
struct Extent
{
    uint64_t offset = 0;
    uint64_t length = 0;
    bool zero = false;
    uint64_t end() const { return offset + length; }
};

struct ChunkEntry
{
    uint64_t fileOffset = 0;   // where the stored bytes start in the image
    uint64_t sourceOffset = 0; // first source byte the chunk covers
    uint32_t storedLength = 0;
    uint32_t rawLength = 0; // bytes of the chunk's data extents, concatenated
    uint64_t storedChecksum = 0;
    uint64_t rawChecksum = 0;
    uint32_t compression = 0;
    uint32_t extentCount = 0;
    uint64_t firstExtent = 0; // position in extents(); derived, not stored
};

class ChunkIndex
{
public:
    static constexpr uint32_t kStoredPlain = 0;
    static constexpr uint32_t kStoredZstd = 1;
    static constexpr size_t kEntrySize = 48;
    static constexpr size_t kExtentSize = 16;

    // Appends a chunk; its extents must follow the previous chunk's in source order.
    void add(ChunkEntry entry, const std::vector<Extent>& extents);
    std::vector<uint8_t> encode() const;
    bool decode(const uint8_t* data, size_t size, std::string& error);
    // Chunks packed back to back from the header's data offset up to dataEnd, extents ordered and inside the
    // source, lengths consistent with the compression and the header's chunk limit.
    bool validate(const ImageHeader& header, uint64_t dataEnd, std::string& error) const;

    const std::vector<ChunkEntry>& chunks() const { return m_chunks; }
    const std::vector<Extent>& extents() const { return m_extents; }
    uint64_t storedBytes() const;
    uint64_t rawBytes() const;
    uint64_t zeroBytes() const;

private:
    bool validateChunk(const ChunkEntry& chunk, const ImageHeader& header, uint64_t& sourceCursor,
                       std::string& error) const;

    std::vector<ChunkEntry> m_chunks;
    std::vector<Extent> m_extents;
};
