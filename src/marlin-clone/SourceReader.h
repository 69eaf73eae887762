#pragma once

// Reads the used regions of a source device for a backup. Regions separated by small free gaps are read with one
// request (the gaps land in a scratch buffer), so a fragmented file system is still read in large sequential I/O.
// Aligned requests bypass the page cache (O_DIRECT): a backup reads each block once, so caching it would only cost a
// copy and evict what the rest of the system needs.

#include "AlignedBuffer.h"
#include "ChunkIndex.h"
#include "UniqueFd.h"

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SourceReader
{
public:
    // Free gaps up to this size are read over instead of skipped.
    static constexpr uint64_t kMaxGap = 256 * 1024;

    bool open(const std::string& path, std::string& error);
    // Rescue mode: a failed read is retried once in small reads; what still fails reads as zeros and is recorded.
    void setRescue(bool rescue) { m_rescue = rescue; }
    // The source ranges that could not be read, ordered and merged.
    const std::vector<Extent>& unreadable() const { return m_unreadable; }
    // Reads the extents, in order, back to back into destination.
    bool readExtents(const std::vector<Extent>& extents, uint8_t* destination, std::string& error);
    uint64_t size() const { return m_size; }

    // The size of the reads a rescue retries with.
    static constexpr uint64_t kRescueStep = 4096;

private:
    bool readSpan(std::vector<iovec>& pieces, uint64_t offset, std::string& error);
    // Reads the span's extents again in small steps, zeroing and recording what stays unreadable.
    void rescueSpan(const std::vector<Extent>& extents, size_t first, size_t end, uint8_t* destination);
    void recordUnreadable(uint64_t offset, uint64_t length);

    UniqueFd m_buffered;
    UniqueFd m_direct;
    uint64_t m_size = 0;
    uint32_t m_sectorSize = 512;
    std::string m_path;
    AlignedBuffer m_scratch;
    bool m_rescue = false;
    std::vector<Extent> m_unreadable;
};
