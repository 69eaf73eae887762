#include "ChunkPlanner.h"

#include <algorithm>

ChunkPlanner::ChunkPlanner(const std::vector<Extent>& ranges, uint32_t maxChunkBytes)
    : m_ranges(ranges), m_maxChunkBytes(maxChunkBytes)
{
}

bool ChunkPlanner::next(std::vector<Extent>& extents)
{
    extents.clear();
    uint64_t room = m_maxChunkBytes;
    while (room > 0 && m_range < m_ranges.size()) {
        const Extent& range = m_ranges[m_range];
        const uint64_t take = std::min(room, range.length - m_consumed);
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
