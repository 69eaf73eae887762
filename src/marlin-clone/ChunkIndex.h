#pragma once

// The list of stored chunks and the source regions each one covers, kept in its encoded form: a backup appends to
// it, a reader checks it in one pass and then decodes entries as it walks them. Nothing is expanded into per-entry
// objects, so even the index of a terabyte source is checked in milliseconds. It is what restore and --rbk-info
// trust, so every offset and length is checked against the header before anyone acts on it.

#include "ImageHeader.h"
#include "Sha256.h"

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
    uint64_t firstExtent = 0;  // position of its first extent in the index
    uint32_t storedLength = 0;
    uint32_t rawLength = 0; // bytes of the chunk's data extents, concatenated
    uint64_t storedChecksum = 0;
    uint64_t rawChecksum = 0;
    uint32_t compression = 0;
    uint32_t extentCount = 0;
};

class ChunkIndex
{
public:
    static constexpr uint32_t kStoredPlain = 0;
    static constexpr uint32_t kStoredZstd = 1;
    // In store images: the chunk's bytes are the store file named by its key (none when it holds no data).
    static constexpr uint32_t kStoredInStore = 2;
    static constexpr size_t kHeadSize = 24;
    static constexpr size_t kEntrySize = 56;
    static constexpr size_t kExtentSize = 16;
    static constexpr size_t kKeySize = 32;

    // Appends a chunk (its firstExtent and extentCount are set here); its extents must follow the previous ones.
    void add(ChunkEntry entry, const std::vector<Extent>& extents);
    // The same for a store image: every chunk of it carries the key of its store file (all zero for no data).
    void add(ChunkEntry entry, const std::vector<Extent>& extents, const Sha256::Digest& key);
    // Source ranges a rescue backup could not read, ordered; encoded after the extents when not empty.
    void setUnreadable(std::vector<Extent> ranges) { m_unreadable = std::move(ranges); }
    const std::vector<Extent>& unreadable() const { return m_unreadable; }
    uint64_t unreadableBytes() const;
    std::vector<uint8_t> encode() const;
    // Reads an encoded index in place; the bytes must outlive this object. Only the layout is checked here.
    // withUnreadable: the index ends with the list of unreadable ranges (the header's flag says so); withKeys: the
    // extents are followed by a key per chunk (a store image).
    bool attach(const uint8_t* data, size_t size, std::string& error, bool withUnreadable = false,
                bool withKeys = false);
    // Chunks packed back to back from the header's data offset up to dataEnd, extents ordered and inside the source,
    // lengths consistent with the compression and the header's chunk limit. Also sums up the totals.
    bool validate(const ImageHeader& header, uint64_t dataEnd, std::string& error);

    size_t chunkCount() const { return m_chunkCount; }
    size_t extentCount() const { return m_extentCount; }
    ChunkEntry chunk(size_t index) const;
    Extent extent(uint64_t index) const;
    bool hasKeys() const { return m_hasKeys; }
    Sha256::Digest key(size_t index) const;
    uint64_t storedBytes() const { return m_storedBytes; }
    uint64_t rawBytes() const { return m_rawBytes; }
    uint64_t zeroBytes() const { return m_zeroBytes; }

private:
    // The list of unreadable ranges at the end of the index: exactly size bytes, or none when not expected.
    bool readUnreadable(const uint8_t* data, size_t size, bool expected);
    bool validateUnreadable(const ImageHeader& header, std::string& error) const;
    bool validateChunk(const ChunkEntry& chunk, const ImageHeader& header, uint64_t& sourceCursor, uint64_t& zeroBytes,
                       std::string& error) const;
    const uint8_t* entries() const { return m_attached ? m_entryView : m_entryBytes.data(); }
    const uint8_t* extents() const { return m_attached ? m_extentView : m_extentBytes.data(); }
    const uint8_t* keys() const { return m_attached ? m_keyView : m_keyBytes.data(); }
    bool validateStoreChunk(const ChunkEntry& entry, size_t index, std::string& error) const;

    std::vector<uint8_t> m_entryBytes;
    std::vector<uint8_t> m_extentBytes;
    std::vector<uint8_t> m_keyBytes;
    const uint8_t* m_entryView = nullptr;
    const uint8_t* m_extentView = nullptr;
    const uint8_t* m_keyView = nullptr;
    bool m_hasKeys = false;
    bool m_attached = false;
    size_t m_chunkCount = 0;
    size_t m_extentCount = 0;
    uint64_t m_storedBytes = 0;
    uint64_t m_rawBytes = 0;
    uint64_t m_zeroBytes = 0;
    std::vector<Extent> m_unreadable;
};
