#include "ImageHeader.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Checksum.h"

#include <cstring>

namespace {
constexpr char kMagic[8] = {'M', 'A', 'R', 'L', 'N', 'R', 'B', 'K'};
constexpr size_t kChecksumOffset = ImageHeader::kSize - 8;
constexpr uint64_t kSlotSize = 480u << 10;

std::string clipped(const std::string& value, size_t maxSize)
{
    return value.size() <= maxSize ? value : value.substr(0, maxSize);
}

bool isPowerOfTwo(uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}
} // namespace

ImageHeader ImageHeader::withDefaultLayout()
{
    ImageHeader header;
    header.customSlotOffset[0] = 64u << 10;
    header.customSlotOffset[1] = header.customSlotOffset[0] + kSlotSize;
    header.customSlotSize = kSlotSize;
    header.dataOffset = 1u << 20;
    return header;
}

std::vector<uint8_t> ImageHeader::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(kSize);
    ByteWriter writer(out);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u32(formatVersion);
    writer.u32(flags);
    writer.u32(compression);
    writer.u32(static_cast<uint32_t>(compressionLevel));
    writer.u32(blockSize);
    writer.u32(maxChunkBytes);
    writer.u64(sourceSize);
    writer.u64(usedBytes);
    writer.u64(static_cast<uint64_t>(creationTime));
    writer.u64(customSlotOffset[0]);
    writer.u64(customSlotOffset[1]);
    writer.u64(customSlotSize);
    writer.u64(dataOffset);
    writer.text(clipped(fsType, kMaxTypeLength));
    writer.text(clipped(fsId, kMaxIdLength));
    writer.text(clipped(fsLabel, kMaxLabelLength));
    writer.text(clipped(sourceDevice, kMaxDeviceLength));
    if (formatVersion == kStoreFormatVersion) {
        writer.text(clipped(storePath, kMaxStorePathLength));
    }
    writer.padTo(kChecksumOffset);
    m_checksum = Checksum::of(out.data(), kChecksumOffset);
    writer.u64(m_checksum);
    return out;
}

bool ImageHeader::decode(const uint8_t* data, size_t size, std::string& error)
{
    if (size != kSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        error = "not an image (no header magic)";
        return false;
    }
    ByteReader tail(data + kChecksumOffset, 8);
    const uint64_t stored = tail.u64();
    if (stored != Checksum::of(data, kChecksumOffset)) {
        error = "header checksum mismatch";
        return false;
    }
    ByteReader reader(data + sizeof kMagic, kChecksumOffset - sizeof kMagic);
    formatVersion = reader.u32();
    flags = reader.u32();
    compression = reader.u32();
    compressionLevel = static_cast<int32_t>(reader.u32());
    blockSize = reader.u32();
    maxChunkBytes = reader.u32();
    sourceSize = reader.u64();
    usedBytes = reader.u64();
    creationTime = static_cast<int64_t>(reader.u64());
    customSlotOffset[0] = reader.u64();
    customSlotOffset[1] = reader.u64();
    customSlotSize = reader.u64();
    dataOffset = reader.u64();
    fsType = reader.text(kMaxTypeLength);
    fsId = reader.text(kMaxIdLength);
    fsLabel = reader.text(kMaxLabelLength);
    sourceDevice = reader.text(kMaxDeviceLength);
    storePath = formatVersion == kStoreFormatVersion ? reader.text(kMaxStorePathLength) : std::string();
    if (!reader.ok()) {
        error = "header fields overrun the header";
        return false;
    }
    m_checksum = stored;
    return layoutIsSane(error);
}

bool ImageHeader::layoutIsSane(std::string& error) const
{
    if (formatVersion != kFormatVersion && formatVersion != kStoreFormatVersion) {
        error = "unsupported format version " + std::to_string(formatVersion);
        return false;
    }
    const bool store = formatVersion == kStoreFormatVersion;
    if (store != ((flags & kFlagStore) != 0) || store == storePath.empty()) {
        error = "the store flag, store path and format version do not agree";
        return false;
    }
    if ((flags & ~kKnownFlags) != 0 || compression != kCompressionZstd) {
        error = "unknown header flags or compression";
        return false;
    }
    if (!isPowerOfTwo(blockSize) || blockSize < 512 || blockSize > (1u << 20) || sourceSize == 0) {
        error = "bad block size or source size";
        return false;
    }
    if (maxChunkBytes == 0 || maxChunkBytes > kMaxChunkLimit) {
        error = "bad chunk size";
        return false;
    }
    // Offsets are bounded before they are added to, so no value near 2^64 can wrap past a check.
    const bool bounded = customSlotSize >= 4096 && customSlotSize <= (16u << 20) && dataOffset <= (64u << 20) &&
                         customSlotOffset[0] <= dataOffset && customSlotOffset[1] <= dataOffset;
    const bool slotsFit = bounded && customSlotOffset[0] >= kSize &&
                          customSlotOffset[0] + customSlotSize <= customSlotOffset[1] &&
                          customSlotOffset[1] + customSlotSize <= dataOffset;
    if (!slotsFit) {
        error = "bad region layout";
        return false;
    }
    return true;
}
