#include "StoreChunkHeader.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Checksum.h"
#include "ChunkIndex.h"
#include "ImageHeader.h"

#include <zstd.h>

#include <cstring>
#include <vector>

namespace {
constexpr char kMagic[8] = {'R', 'B', 'K', 'C', 'H', 'U', 'N', 'K'};
constexpr uint32_t kVersion = 1;
constexpr size_t kChecksumOffset = StoreChunkHeader::kSize - 8;
} // namespace

StoreChunkHeader StoreChunkHeader::of(const Sha256::Digest& key, const ChunkEntry& entry)
{
    StoreChunkHeader header;
    header.key = key;
    header.compression = entry.compression;
    header.storedLength = entry.storedLength;
    header.rawLength = entry.rawLength;
    header.storedChecksum = entry.storedChecksum;
    header.rawChecksum = entry.rawChecksum;
    return header;
}

void StoreChunkHeader::encode(uint8_t* out) const
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kSize);
    ByteWriter writer(bytes);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u32(kVersion);
    writer.u32(compression);
    writer.bytes(key.data(), key.size());
    writer.u32(storedLength);
    writer.u32(rawLength);
    writer.u64(storedChecksum);
    writer.u64(rawChecksum);
    writer.u64(Checksum::of(bytes.data(), kChecksumOffset));
    std::memcpy(out, bytes.data(), kSize);
}

bool StoreChunkHeader::decode(const uint8_t* data, size_t size, std::string& error)
{
    if (size != kSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        error = "no chunk magic";
        return false;
    }
    ByteReader tail(data + kChecksumOffset, 8);
    if (tail.u64() != Checksum::of(data, kChecksumOffset)) {
        error = "chunk header checksum mismatch";
        return false;
    }
    ByteReader reader(data + sizeof kMagic, kChecksumOffset - sizeof kMagic);
    const uint32_t version = reader.u32();
    compression = reader.u32();
    reader.bytes(key.data(), key.size());
    storedLength = reader.u32();
    rawLength = reader.u32();
    storedChecksum = reader.u64();
    rawChecksum = reader.u64();
    const bool plain = compression == ChunkIndex::kStoredPlain && storedLength == rawLength;
    const bool zstd =
        compression == ChunkIndex::kStoredZstd && storedLength > 0 && storedLength <= ZSTD_compressBound(rawLength);
    if (!reader.ok() || version != kVersion || rawLength == 0 || rawLength > ImageHeader::kMaxChunkLimit ||
        (!plain && !zstd)) {
        error = "unknown chunk version, compression or lengths";
        return false;
    }
    return true;
}
