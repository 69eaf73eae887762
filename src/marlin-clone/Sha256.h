#pragma once

// The store's chunk key: SHA-256 through libcrypto, which uses the CPU's SHA instructions where it has them, so two
// different chunks can never be taken for one at a cost of a few percent of a backup's CPU time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class Sha256
{
public:
    using Digest = std::array<uint8_t, 32>;

    static Digest of(const void* data, size_t size);
    static std::string hex(const Digest& digest);
    // Parses exactly 64 lowercase hex digits.
    static bool fromHex(const std::string& text, Digest& digest);
    static bool isZero(const Digest& digest);

    // The digest is already uniformly spread: its first bytes make a good hash-table key.
    struct DigestHash
    {
        size_t operator()(const Digest& digest) const
        {
            size_t value = 0;
            std::memcpy(&value, digest.data(), sizeof value);
            return value;
        }
    };
};
