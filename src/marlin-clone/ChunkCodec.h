#pragma once

// Turns a chunk's source bytes into stored bytes and back: all-zero runs become extents without data, the rest is
// checksummed and zstd-compressed (or kept plain when that does not make it smaller). One per worker thread.

#include "ChunkWork.h"

#include <zstd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

class ChunkCodec
{
public:
    // Zero runs are looked for in steps of granularity bytes and only kept apart from the data from minZeroRun on.
    ChunkCodec(int level, uint32_t granularity, uint64_t minZeroRun);
    ~ChunkCodec();
    ChunkCodec(const ChunkCodec&) = delete;
    ChunkCodec& operator=(const ChunkCodec&) = delete;

    // Input: work.extents (data only) and their bytes in work.raw. Fills work.entry and the stored bytes.
    bool pack(ChunkWork& work);
    // pack() in two steps, so a backup into a store can skip compressing what the store holds: zero runs split off
    // and the data checksummed, then compressed.
    void summarize(ChunkWork& work);
    bool compress(ChunkWork& work);
    // The SHA-256 store key, its time counted with the checksums.
    static Sha256::Digest timedKey(const uint8_t* data, size_t size);
    // Input: work.entry and the stored bytes. Fills work.raw and checks it against the uncompressed checksum.
    bool unpack(ChunkWork& work);
    // unpack() after checking the stored bytes against their own checksum: all a restore checks before writing.
    bool check(ChunkWork& work);

    static bool isAllZero(const uint8_t* data, size_t size);
    // CPU time all codecs spent on checksums so far: what integrity costs a backup or restore.
    static double checksumSeconds();

private:
    void splitZeroRuns(ChunkWork& work) const;
    static uint64_t timedChecksum(const uint8_t* data, size_t size);

    ZSTD_CCtx* m_compressor = nullptr;
    ZSTD_DCtx* m_decompressor = nullptr;
    int m_level;
    uint32_t m_granularity;
    uint64_t m_minZeroRun;
};
