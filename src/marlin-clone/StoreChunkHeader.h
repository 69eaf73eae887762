#pragma once

// The fixed head of a chunk file in a store: enough to check the file on its own (its key, how its bytes are stored,
// their lengths and checksums), so prune, verify and a later backup need no image to judge it.

#include "ChunkIndex.h"
#include "Sha256.h"

#include <cstddef>
#include <cstdint>
#include <string>

class StoreChunkHeader
{
public:
    static constexpr size_t kSize = 80;

    // The head of the file that stores a chunk the index describes by entry, under key.
    static StoreChunkHeader of(const Sha256::Digest& key, const ChunkEntry& entry);

    void encode(uint8_t* out) const;
    // Our magic and version, an intact checksum, a known compression and lengths that fit it.
    bool decode(const uint8_t* data, size_t size, std::string& error);

    Sha256::Digest key{};
    uint32_t compression = 0; // ChunkIndex::kStoredPlain or kStoredZstd
    uint32_t storedLength = 0;
    uint32_t rawLength = 0;
    uint64_t storedChecksum = 0;
    uint64_t rawChecksum = 0;
};
