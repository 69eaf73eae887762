#include "ImageDeviceView.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

ImageDeviceView::ImageDeviceView(const ImageReader& image, uint64_t cacheBytes)
    : m_image(image), m_cacheBytes(cacheBytes), m_codec(1, 4096, 64 * 1024)
{
}

uint64_t ImageDeviceView::extentAt(uint64_t offset) const
{
    const ChunkIndex& index = m_image.index();
    uint64_t low = 0;
    uint64_t high = index.extentCount();
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (index.extent(middle).offset <= offset) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low == 0 ? index.extentCount() : low - 1;
}

size_t ImageDeviceView::chunkOf(uint64_t extent) const
{
    const ChunkIndex& index = m_image.index();
    size_t low = 0;
    size_t high = index.chunkCount();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (index.chunk(middle).firstExtent <= extent) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low - 1;
}

bool ImageDeviceView::decode(size_t chunk, Cached& cached)
{
    ChunkWork& work = m_work;
    work.reset(chunk);
    const uint32_t capacity = m_image.header().maxChunkBytes;
    if (!work.raw.reserve(capacity)) {
        return false;
    }
    m_image.readChunk(chunk, work);
    if (work.failed || !m_codec.check(work)) {
        return false;
    }
    const bool store = m_image.isStoreImage();
    if (store && work.entry.rawLength > 0 && ChunkCodec::timedKey(work.raw.data(), work.entry.rawLength) != work.key) {
        return false;
    }
    // The work buffer stays for the next chunk; the cache keeps its own.
    std::swap(cached.raw, work.raw);
    cached.chunk = chunk;
    cached.rawPositions.clear();
    uint64_t position = 0;
    const ChunkIndex& index = m_image.index();
    for (uint64_t e = work.entry.firstExtent; e < work.entry.firstExtent + work.entry.extentCount; ++e) {
        const Extent extent = index.extent(e);
        cached.rawPositions.push_back(position);
        position += extent.zero ? 0 : extent.length;
    }
    return true;
}

const ImageDeviceView::Cached* ImageDeviceView::load(size_t chunk)
{
    const auto found = m_byChunk.find(chunk);
    if (found != m_byChunk.end()) {
        m_lru.splice(m_lru.begin(), m_lru, found->second);
        return &m_lru.front();
    }
    Cached cached;
    if (!m_lru.empty() && m_cachedBytes + m_image.header().maxChunkBytes > m_cacheBytes) {
        // Reuse the least recently used buffer instead of allocating a new one.
        cached = std::move(m_lru.back());
        m_byChunk.erase(cached.chunk);
        m_lru.pop_back();
        m_cachedBytes -= cached.raw.capacity();
    }
    if (!decode(chunk, cached)) {
        return nullptr;
    }
    m_cachedBytes += cached.raw.capacity();
    m_lru.push_front(std::move(cached));
    m_byChunk[chunk] = m_lru.begin();
    return &m_lru.front();
}

long ImageDeviceView::read(uint8_t* buffer, size_t length, uint64_t offset)
{
    const ChunkIndex& index = m_image.index();
    const uint64_t count = index.extentCount();
    const uint64_t start = std::min(offset, size());
    const uint64_t end = start + std::min<uint64_t>(length, size() - start);
    uint64_t position = start;
    while (position < end) {
        uint8_t* out = buffer + (position - start);
        const uint64_t e = extentAt(position);
        if (e == count || index.extent(e).end() <= position) {
            // No chunk covers it: zeros up to the next extent.
            const uint64_t next = e == count ? 0 : e + 1;
            const uint64_t stop = next < count ? std::min(end, index.extent(next).offset) : end;
            std::memset(out, 0, stop - position);
            position = stop;
            continue;
        }
        const Extent extent = index.extent(e);
        const uint64_t stop = std::min(end, extent.end());
        if (extent.zero) {
            std::memset(out, 0, stop - position);
        } else {
            const size_t chunk = chunkOf(e);
            const Cached* cached = load(chunk);
            if (cached == nullptr) {
                return -EIO;
            }
            const uint64_t first = index.chunk(chunk).firstExtent;
            std::memcpy(out, cached->raw.data() + cached->rawPositions[e - first] + (position - extent.offset),
                        stop - position);
        }
        position = stop;
    }
    return static_cast<long>(end - start);
}
