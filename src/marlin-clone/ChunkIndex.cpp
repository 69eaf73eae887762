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
    entry.firstExtent = m_extentCount;
    entry.extentCount = static_cast<uint32_t>(extents.size());
    ByteWriter writer(m_entryBytes);
    writer.u64(entry.fileOffset);
    writer.u64(entry.sourceOffset);
    writer.u64(entry.firstExtent);
    writer.u32(entry.storedLength);
    writer.u32(entry.rawLength);
    writer.u64(entry.storedChecksum);
    writer.u64(entry.rawChecksum);
    writer.u32(entry.compression);
    writer.u32(entry.extentCount);
    ByteWriter extentWriter(m_extentBytes);
    for (const Extent& extent : extents) {
        extentWriter.u64(extent.offset);
        extentWriter.u64(extent.length | (extent.zero ? kZeroBit : 0));
        m_zeroBytes += extent.zero ? extent.length : 0;
    }
    ++m_chunkCount;
    m_extentCount += extents.size();
    m_storedBytes += entry.storedLength;
    m_rawBytes += entry.rawLength;
}

void ChunkIndex::add(ChunkEntry entry, const std::vector<Extent>& extents, const Sha256::Digest& key)
{
    m_hasKeys = true;
    m_keyBytes.insert(m_keyBytes.end(), key.begin(), key.end());
    add(entry, extents);
}

Sha256::Digest ChunkIndex::key(size_t index) const
{
    Sha256::Digest digest{};
    std::memcpy(digest.data(), keys() + index * kKeySize, kKeySize);
    return digest;
}

std::vector<uint8_t> ChunkIndex::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(kHeadSize + m_entryBytes.size() + m_extentBytes.size());
    ByteWriter writer(out);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u64(m_chunkCount);
    writer.u64(m_extentCount);
    writer.bytes(m_entryBytes.data(), m_entryBytes.size());
    writer.bytes(m_extentBytes.data(), m_extentBytes.size());
    writer.bytes(m_keyBytes.data(), m_keyBytes.size());
    if (!m_unreadable.empty()) {
        writer.u64(m_unreadable.size());
        for (const Extent& range : m_unreadable) {
            writer.u64(range.offset);
            writer.u64(range.length);
        }
    }
    return out;
}

uint64_t ChunkIndex::unreadableBytes() const
{
    uint64_t bytes = 0;
    for (const Extent& range : m_unreadable) {
        bytes += range.length;
    }
    return bytes;
}

bool ChunkIndex::attach(const uint8_t* data, size_t size, std::string& error, bool withUnreadable, bool withKeys)
{
    ByteReader reader(data, size);
    const uint8_t* magic = reader.view(sizeof kMagic);
    const uint64_t chunkCount = reader.u64();
    const uint64_t extentCount = reader.u64();
    if (!reader.ok() || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
        error = "no index magic";
        return false;
    }
    const uint64_t room = reader.remaining();
    const uint64_t perChunk = kEntrySize + (withKeys ? kKeySize : 0);
    const bool fits = chunkCount <= room / perChunk && extentCount <= room / kExtentSize &&
                      chunkCount * perChunk <= room - extentCount * kExtentSize;
    const uint64_t rest = fits ? room - chunkCount * perChunk - extentCount * kExtentSize : 0;
    if (!fits || (rest != 0 && !withUnreadable) || !readUnreadable(data + size - rest, rest, withUnreadable)) {
        error = "index length does not match its counts";
        return false;
    }
    m_entryBytes.clear();
    m_extentBytes.clear();
    m_keyBytes.clear();
    m_attached = true;
    m_hasKeys = withKeys;
    m_entryView = data + kHeadSize;
    m_extentView = m_entryView + chunkCount * kEntrySize;
    m_keyView = m_extentView + extentCount * kExtentSize;
    m_chunkCount = chunkCount;
    m_extentCount = extentCount;
    return true;
}

bool ChunkIndex::readUnreadable(const uint8_t* data, size_t size, bool expected)
{
    m_unreadable.clear();
    if (!expected) {
        return size == 0;
    }
    ByteReader reader(data, size);
    const uint64_t count = reader.u64();
    if (!reader.ok() || count > reader.remaining() / kExtentSize || count * kExtentSize != reader.remaining()) {
        return false;
    }
    m_unreadable.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        Extent range;
        range.offset = reader.u64();
        range.length = reader.u64();
        m_unreadable.push_back(range);
    }
    return true;
}

ChunkEntry ChunkIndex::chunk(size_t index) const
{
    ByteReader reader(entries() + index * kEntrySize, kEntrySize);
    ChunkEntry entry;
    entry.fileOffset = reader.u64();
    entry.sourceOffset = reader.u64();
    entry.firstExtent = reader.u64();
    entry.storedLength = reader.u32();
    entry.rawLength = reader.u32();
    entry.storedChecksum = reader.u64();
    entry.rawChecksum = reader.u64();
    entry.compression = reader.u32();
    entry.extentCount = reader.u32();
    return entry;
}

Extent ChunkIndex::extent(uint64_t index) const
{
    ByteReader reader(extents() + index * kExtentSize, kExtentSize);
    Extent extent;
    extent.offset = reader.u64();
    const uint64_t length = reader.u64();
    extent.length = length & ~kZeroBit;
    extent.zero = (length & kZeroBit) != 0;
    return extent;
}

bool ChunkIndex::validate(const ImageHeader& header, uint64_t dataEnd, std::string& error)
{
    uint64_t fileCursor = header.dataOffset;
    uint64_t sourceCursor = 0;
    uint64_t nextExtent = 0;
    uint64_t rawBytes = 0;
    uint64_t zeroBytes = 0;
    const bool store = (header.flags & ImageHeader::kFlagStore) != 0;
    if (store != m_hasKeys) {
        error = "the index does not match the image kind";
        return false;
    }
    for (size_t i = 0; i < m_chunkCount; ++i) {
        const ChunkEntry entry = chunk(i);
        // Store chunks have no bytes in the image: their offset and stored length are zero.
        if (entry.fileOffset != (store ? 0 : fileCursor) || entry.firstExtent != nextExtent) {
            error = "chunk " + std::to_string(i) + " does not follow the previous one";
            return false;
        }
        if (entry.extentCount > m_extentCount - nextExtent) {
            error = "chunk " + std::to_string(i) + " claims more extents than the index holds";
            return false;
        }
        if (!validateChunk(entry, header, sourceCursor, zeroBytes, error)) {
            error = "chunk " + std::to_string(i) + ": " + error;
            return false;
        }
        if (store && !validateStoreChunk(entry, i, error)) {
            return false;
        }
        fileCursor += entry.storedLength;
        nextExtent += entry.extentCount;
        rawBytes += entry.rawLength;
    }
    if (nextExtent != m_extentCount || fileCursor != dataEnd) {
        error = "chunk data does not end where the index starts";
        return false;
    }
    if (!validateUnreadable(header, error)) {
        return false;
    }
    m_storedBytes = fileCursor - header.dataOffset;
    m_rawBytes = rawBytes;
    m_zeroBytes = zeroBytes;
    return true;
}

bool ChunkIndex::validateUnreadable(const ImageHeader& header, std::string& error) const
{
    const bool flagged = (header.flags & ImageHeader::kFlagUnreadable) != 0;
    if (flagged && m_unreadable.empty()) {
        error = "the header announces unreadable ranges the index does not list";
        return false;
    }
    uint64_t cursor = 0;
    for (const Extent& range : m_unreadable) {
        const bool inside = range.length > 0 && range.length <= header.sourceSize &&
                            range.offset <= header.sourceSize - range.length && range.offset >= cursor;
        if (!inside) {
            error = "unreadable range outside the source or out of order";
            return false;
        }
        cursor = range.end();
    }
    return true;
}

bool ChunkIndex::validateChunk(const ChunkEntry& entry, const ImageHeader& header, uint64_t& sourceCursor,
                               uint64_t& zeroBytes, std::string& error) const
{
    if (entry.extentCount == 0 || entry.rawLength > header.maxChunkBytes) {
        error = "no extents or too large";
        return false;
    }
    const bool plain = !m_hasKeys && entry.compression == kStoredPlain && entry.storedLength == entry.rawLength;
    const bool zstd = !m_hasKeys && entry.compression == kStoredZstd && entry.rawLength > 0 && entry.storedLength > 0 &&
                      entry.storedLength <= ZSTD_compressBound(entry.rawLength);
    const bool inStore =
        m_hasKeys && entry.compression == kStoredInStore && entry.storedLength == 0 && entry.storedChecksum == 0;
    if (!plain && !zstd && !inStore) {
        error = "stored length does not fit its compression";
        return false;
    }
    if (extent(entry.firstExtent).offset != entry.sourceOffset) {
        error = "source offset differs from its first extent";
        return false;
    }
    uint64_t dataBytes = 0;
    for (uint64_t e = entry.firstExtent; e < entry.firstExtent + entry.extentCount; ++e) {
        const Extent part = extent(e);
        const bool inside =
            part.length > 0 && part.length <= header.sourceSize && part.offset <= header.sourceSize - part.length;
        if (!inside || part.offset < sourceCursor) {
            error = "extent outside the source or out of order";
            return false;
        }
        sourceCursor = part.end();
        dataBytes += part.zero ? 0 : part.length;
        zeroBytes += part.zero ? part.length : 0;
    }
    if (dataBytes != entry.rawLength) {
        error = "data extents do not add up to the chunk length";
        return false;
    }
    return true;
}

bool ChunkIndex::validateStoreChunk(const ChunkEntry& entry, size_t index, std::string& error) const
{
    // A chunk without data has no store file and says so with an all-zero key; every other one names its file.
    if (Sha256::isZero(key(index)) != (entry.rawLength == 0)) {
        error = "chunk " + std::to_string(index) + ": its store key does not fit its length";
        return false;
    }
    return true;
}
