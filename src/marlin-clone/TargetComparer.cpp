#include "TargetComparer.h"

#include "BlockDevice.h"
#include "ChunkCodec.h"
#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr uint64_t kPage = 4096;
// Zero ranges are read in steps of this size into a scratch area behind the chunk's data: a gap of a whole-device
// image can be gigabytes long.
constexpr uint64_t kZeroStep = 1u << 20;

uint64_t pieceEnd(uint64_t offset, uint64_t end)
{
    return std::min(end, (offset / TargetComparer::kPiece + 1) * TargetComparer::kPiece);
}
} // namespace

TargetComparer::TargetComparer(int fd, int directFd)
    : m_fd(fd), m_directFd(directFd), m_sectorSize(BlockDevice::logicalSectorSize(fd))
{
}

void TargetComparer::add(ChunkWork& work, uint64_t offset, uint64_t length, bool zero, uint64_t position)
{
    if (!work.writes.empty()) {
        TargetRange& last = work.writes.back();
        if (last.end() == offset && last.zero == zero && (zero || last.position + last.length == position)) {
            last.length += length;
            return;
        }
    }
    work.writes.push_back({offset, length, zero, position});
}

void TargetComparer::planAll(ChunkWork& work)
{
    work.writes.clear();
    work.inPlace = 0;
    work.compared = false;
    uint64_t position = 0;
    for (const Extent& extent : work.extents) {
        add(work, extent.offset, extent.length, extent.zero, position);
        position += extent.zero ? 0 : extent.length;
    }
}

bool TargetComparer::read(uint8_t* buffer, uint64_t offset, uint64_t length) const
{
    // Direct reads leave the page cache alone, as the writes do; the page cache serves what is not aligned.
    const bool aligned = offset % m_sectorSize == 0 && length % m_sectorSize == 0 &&
                         reinterpret_cast<uintptr_t>(buffer) % m_sectorSize == 0;
    if (m_directFd >= 0 && aligned) {
        if (FileIo::readAt(m_directFd, buffer, length, offset)) {
            return true;
        }
        if (errno != EINVAL) {
            return false;
        }
    }
    return FileIo::readAt(m_fd, buffer, length, offset);
}

void TargetComparer::compareData(ChunkWork& work, const Extent& extent, uint64_t position) const
{
    const uint8_t* wanted = work.raw.data() + position;
    const uint8_t* held = work.current.data() + position;
    const bool readable = read(work.current.data() + position, extent.offset, extent.length);
    for (uint64_t at = extent.offset; at < extent.end(); at = pieceEnd(at, extent.end())) {
        const uint64_t length = pieceEnd(at, extent.end()) - at;
        const uint64_t skip = at - extent.offset;
        if (readable && std::memcmp(wanted + skip, held + skip, length) == 0) {
            work.inPlace += length;
        } else {
            add(work, at, length, false, position + skip);
        }
    }
}

void TargetComparer::compareZeros(ChunkWork& work, const Extent& extent, uint8_t* scratch) const
{
    for (uint64_t step = extent.offset; step < extent.end();) {
        const uint64_t stepEnd = std::min(extent.end(), step / kPiece * kPiece + kZeroStep);
        const bool readable = read(scratch, step, stepEnd - step);
        for (uint64_t at = step; at < stepEnd; at = pieceEnd(at, stepEnd)) {
            const uint64_t length = pieceEnd(at, stepEnd) - at;
            if (readable && ChunkCodec::isAllZero(scratch + (at - step), length)) {
                work.inPlace += length;
            } else {
                add(work, at, length, true, 0);
            }
        }
        step = stepEnd;
    }
}

void TargetComparer::record(const ChunkWork& work)
{
    uint64_t data = 0;
    for (const Extent& extent : work.extents) {
        data += extent.zero ? 0 : extent.length;
    }
    if (!work.compared || data == 0) {
        return;
    }
    uint64_t written = 0;
    for (const TargetRange& range : work.writes) {
        written += range.zero ? 0 : range.length;
    }
    // Judged by the data alone: zero ranges are cheap to write, and a blank target holds them all.
    m_streak = (data - written) * 8 < data ? m_streak + 1 : 0;
    m_writeThrough = m_streak >= kStreak;
}

void TargetComparer::plan(ChunkWork& work) const
{
    if (m_writeThrough && work.sequence % kProbeEvery != 0) {
        planAll(work);
        return;
    }
    const uint64_t dataArea = (work.entry.rawLength + kPage - 1) / kPage * kPage;
    if (!work.current.reserve(dataArea + kZeroStep)) {
        // Without room to compare, everything is written: slower, never wrong.
        planAll(work);
        return;
    }
    work.writes.clear();
    work.inPlace = 0;
    work.compared = true;
    uint64_t position = 0;
    for (const Extent& extent : work.extents) {
        if (extent.zero) {
            compareZeros(work, extent, work.current.data() + dataArea);
        } else {
            compareData(work, extent, position);
            position += extent.length;
        }
    }
}
