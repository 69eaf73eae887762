#include "SourceReader.h"

#include "BlockDevice.h"
#include "FileIo.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr uint64_t kMaxSpan = 16ull << 20;
constexpr size_t kMaxPieces = IOV_MAX;

// Drops the first done bytes from the pieces after a short read.
void advance(std::vector<iovec>& pieces, size_t& first, size_t done)
{
    while (done > 0 && first < pieces.size()) {
        iovec& piece = pieces[first];
        const size_t step = std::min(done, piece.iov_len);
        piece.iov_base = static_cast<uint8_t*>(piece.iov_base) + step;
        piece.iov_len -= step;
        done -= step;
        if (piece.iov_len == 0) {
            ++first;
        }
    }
}
} // namespace

bool SourceReader::open(const std::string& path, std::string& error)
{
    m_path = path;
    m_buffered.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!m_buffered.valid()) {
        error = "cannot open " + path + ": " + FileIo::errorText(errno);
        return false;
    }
    if (!BlockDevice::sizeOf(m_buffered.get(), m_size) || m_size == 0) {
        error = "cannot get the size of " + path;
        return false;
    }
    ::posix_fadvise(m_buffered.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    m_sectorSize = BlockDevice::logicalSectorSize(m_buffered.get());
    m_direct.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT));
    if (!m_scratch.reserve(kMaxGap)) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool SourceReader::readExtents(const std::vector<Extent>& extents, uint8_t* destination, std::string& error)
{
    std::vector<iovec> pieces;
    uint64_t spanStart = 0;
    uint64_t spanEnd = 0;
    size_t spanFirst = 0; // the span's first extent
    uint8_t* spanDestination = destination;
    // Reads the span made of extents [spanFirst, end); in rescue mode a failure is retried in small steps.
    auto flush = [&](size_t end) {
        if (pieces.empty() || readSpan(pieces, spanStart, error)) {
            return true;
        }
        if (!m_rescue) {
            return false;
        }
        rescueSpan(extents, spanFirst, end, spanDestination);
        return true;
    };
    for (size_t i = 0; i < extents.size(); ++i) {
        const Extent& extent = extents[i];
        const uint64_t gap = extent.offset - spanEnd;
        const bool joins = !pieces.empty() && extent.offset >= spanEnd && gap <= kMaxGap &&
                           extent.end() - spanStart <= kMaxSpan && pieces.size() + 2 <= kMaxPieces;
        if (!joins && !pieces.empty()) {
            if (!flush(i)) {
                return false;
            }
            pieces.clear();
        }
        if (pieces.empty()) {
            spanStart = extent.offset;
            spanFirst = i;
            spanDestination = destination;
        } else if (gap > 0) {
            pieces.push_back({m_scratch.data(), static_cast<size_t>(gap)});
        }
        pieces.push_back({destination, static_cast<size_t>(extent.length)});
        destination += extent.length;
        spanEnd = extent.end();
    }
    return flush(extents.size());
}

void SourceReader::rescueSpan(const std::vector<Extent>& extents, size_t first, size_t end, uint8_t* destination)
{
    for (size_t i = first; i < end; ++i) {
        const Extent& extent = extents[i];
        for (uint64_t done = 0; done < extent.length;) {
            // Steps aligned to the source, so that one bad sector costs at most one step.
            const uint64_t offset = extent.offset + done;
            const uint64_t step = std::min(kRescueStep - offset % kRescueStep, extent.length - done);
            std::vector<iovec> piece = {{destination + done, static_cast<size_t>(step)}};
            std::string ignored;
            if (!readSpan(piece, offset, ignored)) {
                std::memset(destination + done, 0, step);
                recordUnreadable(offset, step);
            }
            done += step;
        }
        destination += extent.length;
    }
}

void SourceReader::recordUnreadable(uint64_t offset, uint64_t length)
{
    if (!m_unreadable.empty() && m_unreadable.back().end() == offset) {
        m_unreadable.back().length += length;
        return;
    }
    m_unreadable.push_back({offset, length, false});
}

bool SourceReader::readSpan(std::vector<iovec>& pieces, uint64_t offset, std::string& error)
{
    bool aligned = offset % m_sectorSize == 0;
    for (const iovec& piece : pieces) {
        aligned = aligned && piece.iov_len % m_sectorSize == 0 &&
                  reinterpret_cast<uintptr_t>(piece.iov_base) % m_sectorSize == 0;
    }
    size_t first = 0;
    while (first < pieces.size()) {
        const bool direct = aligned && m_direct.valid();
        const int fd = direct ? m_direct.get() : m_buffered.get();
        const ssize_t done =
            ::preadv(fd, pieces.data() + first, static_cast<int>(pieces.size() - first), static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0 && direct && errno == EINVAL) {
            // The device refuses direct I/O after all: read through the page cache from now on.
            m_direct.reset();
            continue;
        }
        if (done <= 0) {
            error = "cannot read " + m_path + " at offset " + std::to_string(offset) + ": " +
                    (done == 0 ? std::string("unexpected end of device") : FileIo::errorText(errno));
            return false;
        }
        offset += static_cast<uint64_t>(done);
        advance(pieces, first, static_cast<size_t>(done));
        // A short direct read may leave the rest unaligned.
        aligned = aligned && static_cast<uint64_t>(done) % m_sectorSize == 0;
    }
    return true;
}
