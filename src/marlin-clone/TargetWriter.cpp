#include "TargetWriter.h"

#include "BlockDevice.h"
#include "FileIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {
constexpr uint64_t kPage = 4096;
constexpr uint64_t kSyncStep = 128ull << 20;
constexpr size_t kZeroBufferSize = 1u << 20;
} // namespace

TargetWriter::TargetWriter(int fd, int directFd)
    : m_fd(fd), m_directFd(directFd), m_sectorSize(BlockDevice::logicalSectorSize(fd)), m_syncer(fd)
{
}

bool TargetWriter::writeDirect(const uint8_t* data, uint64_t offset, uint64_t length, bool& done, std::string& error)
{
    done = false;
    const bool aligned = offset % m_sectorSize == 0 && length % m_sectorSize == 0 &&
                         reinterpret_cast<uintptr_t>(data) % m_sectorSize == 0;
    if (m_directFd < 0 || !aligned) {
        return true;
    }
    if (FileIo::writeAt(m_directFd, data, length, offset)) {
        done = true;
        return true;
    }
    if (errno == EINVAL) {
        // The device takes no direct I/O after all: everything goes through the page cache from now on.
        m_directFd = -1;
        return true;
    }
    error = "cannot write the target at offset " + std::to_string(offset) + ": " + FileIo::errorText(errno);
    return false;
}

bool TargetWriter::write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error)
{
    const bool follows = m_gatheredLength > 0 && offset == m_gatheredOffset + m_gatheredLength;
    if (!follows || m_gatheredLength + length > kGather) {
        if (!flushGathered(error)) {
            return false;
        }
        if (length >= kAlone || !m_gathered.reserve(kGather)) {
            return writeNow(data, offset, length, error);
        }
        m_gatheredOffset = offset;
    }
    std::memcpy(m_gathered.data() + m_gatheredLength, data, length);
    m_gatheredLength += length;
    return true;
}

bool TargetWriter::flushGathered(std::string& error)
{
    const uint64_t length = m_gatheredLength;
    m_gatheredLength = 0;
    return length == 0 || writeNow(m_gathered.data(), m_gatheredOffset, length, error);
}

bool TargetWriter::writeNow(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error)
{
    bool done = false;
    if (!writeDirect(data, offset, length, done, error)) {
        return false;
    }
    if (!done && !FileIo::writeAt(m_fd, data, length, offset)) {
        error = "cannot write the target at offset " + std::to_string(offset) + ": " + FileIo::errorText(errno);
        return false;
    }
    countWritten(length);
    return true;
}

bool TargetWriter::zero(uint64_t offset, uint64_t length, std::string& error)
{
    // The device zeroes the page-aligned middle (on loop devices and many disks without moving the data); the
    // unaligned ends go through the page cache with the neighbouring data.
    const uint64_t end = offset + length;
    const uint64_t alignedStart = std::min(end, (offset + kPage - 1) / kPage * kPage);
    const uint64_t alignedEnd = std::max(alignedStart, end / kPage * kPage);
    bool ok = flushGathered(error) && writeZeros(offset, alignedStart - offset, error);
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
    m_written += ok ? length : 0;
    return ok;
}

bool TargetWriter::finish(std::string& error)
{
    if (!flushGathered(error) || !m_syncer.finish(error)) {
        return false;
    }
    if (::fsync(m_fd) != 0) {
        error = "cannot sync the target: " + FileIo::errorText(errno);
        return false;
    }
    return true;
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

void TargetWriter::countWritten(uint64_t bytes)
{
    m_written += bytes;
    m_unsynced += bytes;
    if (m_unsynced >= kSyncStep) {
        m_syncer.request();
        m_unsynced = 0;
    }
}
