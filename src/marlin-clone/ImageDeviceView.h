#pragma once

// The source device an image was made from, read at any offset: each chunk is read, checked and decompressed when a
// read first needs it, as a restore checks it (a store chunk also against its key), and the last few are kept. What
// no chunk covers reads as zeros. A chunk that fails its checks fails every read that needs it; no other bytes are
// ever returned for it.

#include "ChunkCodec.h"
#include "ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

class ImageDeviceView
{
public:
    static constexpr uint64_t kDefaultCacheBytes = 64ull << 20;

    // image must be open and outlive the view.
    explicit ImageDeviceView(const ImageReader& image, uint64_t cacheBytes = kDefaultCacheBytes);

    uint64_t size() const { return m_image.header().sourceSize; }
    // Fills buffer with the bytes at offset (fewer at the end of the device); the count, or -EIO.
    long read(uint8_t* buffer, size_t length, uint64_t offset);

private:
    struct Cached
    {
        size_t chunk = 0;
        AlignedBuffer raw;
        std::vector<uint64_t> rawPositions; // per extent of the chunk: where its data starts in raw
    };

    // The index of the last extent starting at or before offset, or extentCount() when none does.
    uint64_t extentAt(uint64_t offset) const;
    // The chunk that holds extent e.
    size_t chunkOf(uint64_t extent) const;
    // The checked chunk from the cache, read into it first when missing; nullptr when it cannot be read or is damaged.
    const Cached* load(size_t chunk);
    bool decode(size_t chunk, Cached& cached);

    const ImageReader& m_image;
    uint64_t m_cacheBytes;
    uint64_t m_cachedBytes = 0;
    ChunkCodec m_codec;
    ChunkWork m_work;
    std::list<Cached> m_lru; // most recently used first
    std::unordered_map<size_t, std::list<Cached>::iterator> m_byChunk;
};
