#pragma once

// Compares what a restore is about to write with what the target already holds, so that only the differences are
// written: a restore over the same data writes nothing, and one cut off and run again skips what it had done.
// Ranges are compared in pieces of kPiece bytes at device offsets that are multiples of it; a piece that cannot be
// read counts as different, so an error never saves a write. The pipeline's workers call plan() at once.
//
// Reading costs time that only pays where the target matches. Once kStreak chunks in a row (4 MiB) were found with
// almost none of their data in place (a blank target, another system, the part a cut-off restore had not reached),
// chunks are written without reading, as a restore did before comparing, and only every kProbeEvery-th chunk is
// still compared, to notice where the target matches again. A shorter streak fires on every rewritten file of a few
// chunks and then writes unchanged data behind it: a day's changes cost twice their size.

#include "ChunkWork.h"

#include <atomic>
#include <cstdint>

class TargetComparer
{
public:
    // A page, the block size of most file systems: 2000 scattered changed blocks of a 4 GiB ext4 cost 8 MiB of
    // writes in 4 KiB pieces and 98 MiB in 64 KiB pieces, in the same time; neighbouring pieces that differ are
    // written as one, so a target that differs everywhere still gets large writes.
    static constexpr uint64_t kPiece = 4096;
    static constexpr unsigned kStreak = 32;
    static constexpr uint64_t kProbeEvery = 8;

    // fd: the target opened for reading; directFd: the same opened with O_DIRECT, or -1.
    TargetComparer(int fd, int directFd);

    // From work.extents (data extents' bytes back to back in work.raw) fills work.writes with what differs and
    // work.inPlace with the bytes that are already there.
    void plan(ChunkWork& work) const;
    // What a planned chunk found, told in chunk order (by the pipeline's consumer): decides whether to compare.
    void record(const ChunkWork& work);
    // Every extent is to be written, with nothing read: when comparing is known to be useless.
    static void planAll(ChunkWork& work);

private:
    bool read(uint8_t* buffer, uint64_t offset, uint64_t length) const;
    void compareData(ChunkWork& work, const Extent& extent, uint64_t position) const;
    void compareZeros(ChunkWork& work, const Extent& extent, uint8_t* scratch) const;
    static void add(ChunkWork& work, uint64_t offset, uint64_t length, bool zero, uint64_t position);

    int m_fd;
    int m_directFd;
    uint32_t m_sectorSize;
    std::atomic<bool> m_writeThrough{false};
    unsigned m_streak = 0;
};
