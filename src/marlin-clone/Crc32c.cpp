#include "Crc32c.h"

#include <array>

namespace {
const std::array<uint32_t, 256>& table()
{
    static const std::array<uint32_t, 256> values = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0);
            }
            entries[i] = crc;
        }
        return entries;
    }();
    return values;
}
} // namespace

uint32_t Crc32c::of(const uint8_t* data, size_t size, size_t fieldOffset)
{
    const std::array<uint32_t, 256>& entries = table();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        const bool inField = fieldOffset != kNoField && i >= fieldOffset && i - fieldOffset < 4;
        crc = (crc >> 8) ^ entries[(crc ^ (inField ? 0 : data[i])) & 0xFF];
    }
    return ~crc;
}
