#pragma once

// One chunk on its way through a backup or restore pipeline, with the buffers it owns between uses.

#include "AlignedBuffer.h"
#include "ChunkIndex.h"
#include "Sha256.h"

#include <cstdint>
#include <string>
#include <vector>

// A range a restore writes because the target holds something else there: zeros, or the chunk's data from position.
struct TargetRange
{
    uint64_t offset = 0;
    uint64_t length = 0;
    bool zero = false;
    uint64_t position = 0; // in raw, for data
    uint64_t end() const { return offset + length; }
};

struct ChunkWork
{
    uint64_t sequence = 0;
    uint64_t sourceBytes = 0; // source bytes the chunk accounts for in the progress
    ChunkEntry entry;
    std::vector<Extent> extents;
    AlignedBuffer raw;               // uncompressed data extents, back to back
    AlignedBuffer stored;            // compressed bytes; plain chunks keep their stored bytes in raw
    Sha256::Digest key{};            // store images: the chunk's store key
    bool inStore = false;            // backups into a store: the store already holds the chunk
    AlignedBuffer current;           // restore: what the target holds where the chunk goes
    std::vector<TargetRange> writes; // restore: the ranges where it differs
    uint64_t inPlace = 0;            // restore: bytes the target already holds
    bool compared = false;           // restore: writes were chosen by comparing, not all taken
    bool failed = false;
    std::string error;

    bool isPlain() const { return entry.compression == ChunkIndex::kStoredPlain; }
    const uint8_t* storedBytes() const { return isPlain() ? raw.data() : stored.data(); }
    uint8_t* storedTarget() { return isPlain() ? raw.data() : stored.data(); }
    void reset(uint64_t nextSequence)
    {
        sequence = nextSequence;
        sourceBytes = 0;
        entry = ChunkEntry();
        extents.clear();
        key = Sha256::Digest();
        inStore = false;
        writes.clear();
        inPlace = 0;
        compared = false;
        failed = false;
        error.clear();
    }
    void fail(const std::string& message)
    {
        failed = true;
        error = message;
    }
};
