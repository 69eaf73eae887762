#pragma once

// Cuts the used regions of a source into chunks of at most a fixed number of bytes, in source order. Aligned, every
// chunk lies within one window of that size in the source's offset space (what a store needs: an unchanged window
// gives the same chunk in every backup, whatever changed elsewhere).

#include "ChunkIndex.h"

#include <cstdint>
#include <vector>

class ChunkPlanner
{
public:
    ChunkPlanner(const std::vector<Extent>& ranges, uint32_t maxChunkBytes, bool aligned = false);

    // The extents of the next chunk; false when everything was handed out.
    bool next(std::vector<Extent>& extents);

private:
    const std::vector<Extent>& m_ranges;
    uint32_t m_maxChunkBytes;
    bool m_aligned;
    size_t m_range = 0;
    uint64_t m_consumed = 0; // bytes of m_ranges[m_range] already handed out
};
