#include "ChunkPlanner.h"

#include <algorithm>
#include <cstdint>

ChunkPlanner::ChunkPlanner(const std::vector<Extent>& ranges, uint32_t maxChunkBytes, bool aligned)
    : m_ranges(ranges), m_maxChunkBytes(maxChunkBytes), m_aligned(aligned)
{
}

bool ChunkPlanner::next(std::vector<Extent>& extents)
{
    extents.clear();
    uint64_t room = m_maxChunkBytes;
    uint64_t windowEnd = UINT64_MAX;
    while (room > 0 && m_range < m_ranges.size()) {
        const Extent& range = m_ranges[m_range];
        const uint64_t start = range.offset + m_consumed;
        if (m_aligned && extents.empty()) {
            windowEnd = (start / m_maxChunkBytes + 1) * m_maxChunkBytes;
        }
        if (start >= windowEnd) {
            break;
        }
        const uint64_t take = std::min({room, range.length - m_consumed, windowEnd - start});
        extents.push_back({range.offset + m_consumed, take, false});
        room -= take;
        m_consumed += take;
        if (m_consumed == range.length) {
            ++m_range;
            m_consumed = 0;
        }
    }
    return !extents.empty();
}
