#pragma once

// One chunk on its way through a backup or restore pipeline, with the buffers it owns between uses.

#include "AlignedBuffer.h"
#include "ChunkIndex.h"
#include "Sha256.h"

#include <cstdint>
#include <string>
#include <vector>

struct ChunkWork
{
    uint64_t sequence = 0;
    uint64_t sourceBytes = 0; // source bytes the chunk accounts for in the progress
    ChunkEntry entry;
    std::vector<Extent> extents;
    AlignedBuffer raw;    // uncompressed data extents, back to back
    AlignedBuffer stored; // compressed bytes; plain chunks keep their stored bytes in raw
    Sha256::Digest key{}; // store images: the chunk's store key
    bool inStore = false; // backups into a store: the store already holds the chunk
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
        failed = false;
        error.clear();
    }
    void fail(const std::string& message)
    {
        failed = true;
        error = message;
    }
};
