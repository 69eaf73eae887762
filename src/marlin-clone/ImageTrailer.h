#pragma once

// The last bytes of an image: where its index is and the checksums that tie the index and the header together.
// A file without an intact trailer at its very end is not a finished image.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ImageTrailer
{
public:
    static constexpr size_t kSize = 128;

    std::vector<uint8_t> encode() const;
    bool decode(const uint8_t* data, size_t size, std::string& error);

    uint32_t formatVersion = 1;
    uint64_t indexOffset = 0;
    uint64_t indexLength = 0;
    uint64_t indexChecksum = 0;
    uint64_t headerChecksum = 0;
    uint64_t chunkCount = 0;
};
