#include "TargetWriter.h"

#include "FileIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {
constexpr uint64_t kPage = 4096;
constexpr uint64_t kWritebackStep = 16ull << 20;
constexpr uint64_t kMaxDirtyBytes = 256ull << 20;
constexpr size_t kZeroBufferSize = 1u << 20;
} // namespace

TargetWriter::TargetWriter(int fd, bool zeroUnlisted) : m_fd(fd), m_zeroUnlisted(zeroUnlisted) {}

bool TargetWriter::write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error)
{
    if (!fillGapBefore(offset, error)) {
        return false;
    }
    if (!FileIo::writeAt(m_fd, data, length, offset)) {
        error = "cannot write the target at offset " + std::to_string(offset) + ": " + FileIo::errorText(errno);
        return false;
    }
    m_cursor = offset + length;
    pushWriteback();
    return true;
}

bool TargetWriter::zero(uint64_t offset, uint64_t length, std::string& error)
{
    if (!fillGapBefore(offset, error)) {
        return false;
    }
    // The device zeroes the page-aligned middle (on loop devices and many disks without moving the data); the
    // unaligned ends go through the page cache with the neighbouring data.
    const uint64_t end = offset + length;
    const uint64_t alignedStart = std::min(end, (offset + kPage - 1) / kPage * kPage);
    const uint64_t alignedEnd = std::max(alignedStart, end / kPage * kPage);
    bool ok = writeZeros(offset, alignedStart - offset, error);
    if (ok && alignedEnd > alignedStart && m_deviceZeroing) {
        uint64_t range[2] = {alignedStart, alignedEnd - alignedStart};
        if (::ioctl(m_fd, BLKZEROOUT, range) != 0) {
            m_deviceZeroing = false;
        }
    }
    if (ok && alignedEnd > alignedStart && !m_deviceZeroing) {
        ok = writeZeros(alignedStart, alignedEnd - alignedStart, error);
    }
    ok = ok && writeZeros(alignedEnd, end - alignedEnd, error);
    m_cursor = end;
    return ok;
}

bool TargetWriter::finish(uint64_t sourceSize, std::string& error)
{
    if (!fillGapBefore(sourceSize, error)) {
        return false;
    }
    if (::fsync(m_fd) != 0) {
        error = "cannot sync the target: " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

bool TargetWriter::fillGapBefore(uint64_t offset, std::string& error)
{
    if (!m_zeroUnlisted || offset <= m_cursor) {
        return true;
    }
    return zero(m_cursor, offset - m_cursor, error);
}

bool TargetWriter::writeZeros(uint64_t offset, uint64_t length, std::string& error)
{
    static const std::vector<uint8_t> zeros(kZeroBufferSize, 0);
    while (length > 0) {
        const uint64_t piece = std::min<uint64_t>(length, zeros.size());
        if (!FileIo::writeAt(m_fd, zeros.data(), piece, offset)) {
            error = "cannot write the target at offset " + std::to_string(offset) + ": " + FileIo::errorText(errno);
            return false;
        }
        offset += piece;
        length -= piece;
    }
    return true;
}

void TargetWriter::pushWriteback()
{
    // Keeps the amount of unwritten data small: the final sync is then short and the progress honest.
    if (m_cursor - m_writebackStarted >= kWritebackStep) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_writebackStarted), static_cast<off_t>(m_cursor - m_writebackStarted),
                          SYNC_FILE_RANGE_WRITE);
        m_writebackStarted = m_cursor;
    }
    if (m_writebackStarted - m_writebackWaited > kMaxDirtyBytes) {
        const uint64_t upTo = m_writebackStarted - kMaxDirtyBytes / 2;
        ::sync_file_range(m_fd, static_cast<off_t>(m_writebackWaited), static_cast<off_t>(upTo - m_writebackWaited),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        m_writebackWaited = upTo;
    }
}
