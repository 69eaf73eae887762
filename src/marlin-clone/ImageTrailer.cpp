#include "ImageTrailer.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Checksum.h"

#include <cstring>

namespace {
constexpr char kMagic[8] = {'R', 'B', 'K', 'T', 'R', 'A', 'I', 'L'};
constexpr size_t kChecksumOffset = ImageTrailer::kSize - 8;
} // namespace

std::vector<uint8_t> ImageTrailer::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(kSize);
    ByteWriter writer(out);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u32(formatVersion);
    writer.u32(0);
    writer.u64(indexOffset);
    writer.u64(indexLength);
    writer.u64(indexChecksum);
    writer.u64(headerChecksum);
    writer.u64(chunkCount);
    writer.padTo(kChecksumOffset);
    writer.u64(Checksum::of(out.data(), kChecksumOffset));
    return out;
}

bool ImageTrailer::decode(const uint8_t* data, size_t size, std::string& error)
{
    if (size != kSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        error = "no trailer at the end of the file (incomplete image?)";
        return false;
    }
    ByteReader tail(data + kChecksumOffset, 8);
    if (tail.u64() != Checksum::of(data, kChecksumOffset)) {
        error = "trailer checksum mismatch";
        return false;
    }
    ByteReader reader(data + sizeof kMagic, kChecksumOffset - sizeof kMagic);
    formatVersion = reader.u32();
    reader.u32();
    indexOffset = reader.u64();
    indexLength = reader.u64();
    indexChecksum = reader.u64();
    headerChecksum = reader.u64();
    chunkCount = reader.u64();
    return reader.ok();
}
