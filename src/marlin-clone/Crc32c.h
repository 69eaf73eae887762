#pragma once

// CRC-32C (Castagnoli), the checksum xfs and btrfs put on their metadata blocks.

#include <cstddef>
#include <cstdint>

class Crc32c
{
public:
    static constexpr size_t kNoField = static_cast<size_t>(-1);
    // The checksum of the bytes with the 4-byte field at fieldOffset read as zero (the block's own checksum field).
    static uint32_t of(const uint8_t* data, size_t size, size_t fieldOffset = kNoField);
};
