#include "CustomFileTable.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Checksum.h"

#include <cstring>

namespace {
constexpr char kMagic[8] = {'R', 'B', 'K', 'C', 'U', 'S', 'T', 'M'};
constexpr size_t kChecksumOffset = 24;
constexpr size_t kEntryOverhead = 6;

uint64_t slotChecksum(const uint8_t* data, size_t size)
{
    // The checksum of the whole encoding with the checksum field itself read as zero.
    std::vector<uint8_t> copy(data, data + size);
    std::memset(copy.data() + kChecksumOffset, 0, 8);
    return Checksum::of(copy.data(), copy.size());
}
} // namespace

bool CustomFileTable::isValidName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

void CustomFileTable::set(const std::string& name, const std::string& data)
{
    const auto found = m_positions.find(name);
    if (found != m_positions.end()) {
        m_files[found->second].data = data;
        return;
    }
    append({name, data});
}

void CustomFileTable::append(File file)
{
    m_positions.emplace(file.name, m_files.size());
    m_files.push_back(std::move(file));
}

const CustomFileTable::File* CustomFileTable::find(const std::string& name) const
{
    const auto found = m_positions.find(name);
    return found == m_positions.end() ? nullptr : &m_files[found->second];
}

size_t CustomFileTable::encodedSize() const
{
    size_t size = kHeaderSize;
    for (const File& file : m_files) {
        size += kEntryOverhead + file.name.size() + file.data.size();
    }
    return size;
}

std::vector<uint8_t> CustomFileTable::encode(uint64_t sequence) const
{
    std::vector<uint8_t> out;
    out.reserve(encodedSize());
    ByteWriter writer(out);
    writer.bytes(kMagic, sizeof kMagic);
    writer.u64(sequence);
    writer.u32(static_cast<uint32_t>(m_files.size()));
    writer.u32(static_cast<uint32_t>(encodedSize() - kHeaderSize));
    writer.u64(0);
    for (const File& file : m_files) {
        writer.u16(static_cast<uint16_t>(file.name.size()));
        writer.u32(static_cast<uint32_t>(file.data.size()));
        writer.bytes(file.name.data(), file.name.size());
        writer.bytes(file.data.data(), file.data.size());
    }
    const uint64_t sum = slotChecksum(out.data(), out.size());
    for (int i = 0; i < 8; ++i) {
        out[kChecksumOffset + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (8 * i));
    }
    return out;
}

bool CustomFileTable::peek(const uint8_t* data, size_t size, uint64_t& sequence, size_t& encodedSize)
{
    if (size < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    ByteReader reader(data + sizeof kMagic, kHeaderSize - sizeof kMagic);
    sequence = reader.u64();
    reader.u32();
    encodedSize = kHeaderSize + reader.u32();
    return reader.ok();
}

bool CustomFileTable::decode(const uint8_t* data, size_t size, uint64_t& sequence)
{
    m_files.clear();
    m_positions.clear();
    size_t expected = 0;
    if (!peek(data, size, sequence, expected) || expected != size) {
        return false;
    }
    ByteReader header(data + 16, kHeaderSize - 16);
    const uint32_t count = header.u32();
    header.u32();
    if (header.u64() != slotChecksum(data, size)) {
        return false;
    }
    ByteReader reader(data + kHeaderSize, size - kHeaderSize);
    for (uint32_t i = 0; i < count && reader.ok(); ++i) {
        const size_t nameLength = reader.u16();
        const size_t dataLength = reader.u32();
        const uint8_t* name = reader.view(nameLength);
        const uint8_t* bytes = reader.view(dataLength);
        if (!reader.ok()) {
            break;
        }
        File file{std::string(reinterpret_cast<const char*>(name), nameLength),
                  std::string(reinterpret_cast<const char*>(bytes), dataLength)};
        if (!isValidName(file.name) || find(file.name)) {
            return false;
        }
        append(std::move(file));
    }
    return reader.ok() && reader.remaining() == 0;
}
