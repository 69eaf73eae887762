#include "ChunkIndex.h"

#include "ByteReader.h"
#include "ByteWriter.h"

#include <zstd.h>

#include <cstring>

namespace {
constexpr char kMagic[8] = {'R', 'B', 'K', 'I', 'N', 'D', 'E', 'X'};
constexpr uint64_t kZeroBit = 1ull << 63;
} // namespace

void ChunkIndex::add(ChunkEntry entry, const std::vector<Extent>& extents)
{
    entry.firstExtent = m_extents.size();
    entry.extentCount = static_cast<uint32_t>(extents.size());
    m_chunks.push_back(entry);
    for (const Extent& extent : extents) {
        m_extents.push_back(extent);
    }
}

std::vector<uint8_t> ChunkIndex::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(24 + m_chunks.size() * kEntrySize + m_extents.size() * kExtentSize);
    ByteWriter writer(out);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u64(m_chunks.size());
    writer.u64(m_extents.size());
    for (const ChunkEntry& chunk : m_chunks) {
        writer.u64(chunk.fileOffset);
        writer.u64(chunk.sourceOffset);
        writer.u32(chunk.storedLength);
        writer.u32(chunk.rawLength);
        writer.u64(chunk.storedChecksum);
        writer.u64(chunk.rawChecksum);
        writer.u32(chunk.compression);
        writer.u32(chunk.extentCount);
    }
    for (const Extent& extent : m_extents) {
        writer.u64(extent.offset);
        writer.u64(extent.length | (extent.zero ? kZeroBit : 0));
    }
    return out;
}

bool ChunkIndex::decode(const uint8_t* data, size_t size, std::string& error)
{
    m_chunks.clear();
    m_extents.clear();
    ByteReader reader(data, size);
    const uint8_t* magic = reader.view(sizeof kMagic);
    const uint64_t chunkCount = reader.u64();
    const uint64_t extentCount = reader.u64();
    if (!reader.ok() || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
        error = "no index magic";
        return false;
    }
    const uint64_t room = reader.remaining();
    if (chunkCount > room / kEntrySize || extentCount > room / kExtentSize ||
        chunkCount * kEntrySize + extentCount * kExtentSize != room) {
        error = "index length does not match its counts";
        return false;
    }
    m_chunks.resize(chunkCount);
    uint64_t nextExtent = 0;
    for (ChunkEntry& chunk : m_chunks) {
        chunk.fileOffset = reader.u64();
        chunk.sourceOffset = reader.u64();
        chunk.storedLength = reader.u32();
        chunk.rawLength = reader.u32();
        chunk.storedChecksum = reader.u64();
        chunk.rawChecksum = reader.u64();
        chunk.compression = reader.u32();
        chunk.extentCount = reader.u32();
        chunk.firstExtent = nextExtent;
        nextExtent += chunk.extentCount;
    }
    if (nextExtent != extentCount) {
        error = "chunks claim more extents than the index holds";
        return false;
    }
    m_extents.resize(extentCount);
    for (Extent& extent : m_extents) {
        extent.offset = reader.u64();
        const uint64_t length = reader.u64();
        extent.length = length & ~kZeroBit;
        extent.zero = (length & kZeroBit) != 0;
    }
    return reader.ok();
}

bool ChunkIndex::validate(const ImageHeader& header, uint64_t dataEnd, std::string& error) const
{
    uint64_t fileCursor = header.dataOffset;
    uint64_t sourceCursor = 0;
    for (size_t i = 0; i < m_chunks.size(); ++i) {
        const ChunkEntry& chunk = m_chunks[i];
        if (chunk.fileOffset != fileCursor) {
            error = "chunk " + std::to_string(i) + " does not follow the previous one";
            return false;
        }
        if (!validateChunk(chunk, header, sourceCursor, error)) {
            error = "chunk " + std::to_string(i) + ": " + error;
            return false;
        }
        fileCursor += chunk.storedLength;
    }
    if (fileCursor != dataEnd) {
        error = "chunk data does not end where the index starts";
        return false;
    }
    return true;
}

bool ChunkIndex::validateChunk(const ChunkEntry& chunk, const ImageHeader& header, uint64_t& sourceCursor,
                               std::string& error) const
{
    if (chunk.extentCount == 0 || chunk.rawLength > header.maxChunkBytes) {
        error = "no extents or too large";
        return false;
    }
    const bool plain = chunk.compression == kStoredPlain && chunk.storedLength == chunk.rawLength;
    const bool zstd = chunk.compression == kStoredZstd && chunk.rawLength > 0 && chunk.storedLength > 0 &&
                      chunk.storedLength <= ZSTD_compressBound(chunk.rawLength);
    if (!plain && !zstd) {
        error = "stored length does not fit its compression";
        return false;
    }
    if (m_extents[chunk.firstExtent].offset != chunk.sourceOffset) {
        error = "source offset differs from its first extent";
        return false;
    }
    uint64_t dataBytes = 0;
    for (uint64_t e = chunk.firstExtent; e < chunk.firstExtent + chunk.extentCount; ++e) {
        const Extent& extent = m_extents[e];
        const bool inside = extent.length > 0 && extent.length <= header.sourceSize &&
                            extent.offset <= header.sourceSize - extent.length;
        if (!inside || extent.offset < sourceCursor) {
            error = "extent outside the source or out of order";
            return false;
        }
        sourceCursor = extent.end();
        dataBytes += extent.zero ? 0 : extent.length;
    }
    if (dataBytes != chunk.rawLength) {
        error = "data extents do not add up to the chunk length";
        return false;
    }
    return true;
}

uint64_t ChunkIndex::storedBytes() const
{
    uint64_t total = 0;
    for (const ChunkEntry& chunk : m_chunks) {
        total += chunk.storedLength;
    }
    return total;
}

uint64_t ChunkIndex::rawBytes() const
{
    uint64_t total = 0;
    for (const ChunkEntry& chunk : m_chunks) {
        total += chunk.rawLength;
    }
    return total;
}

uint64_t ChunkIndex::zeroBytes() const
{
    uint64_t total = 0;
    for (const Extent& extent : m_extents) {
        total += extent.zero ? extent.length : 0;
    }
    return total;
}
