#pragma once

// Writes a restore onto the target device in source order: data ranges as they come, zero ranges zeroed by the
// device itself where it can. It writes what it is given and nothing else (which ranges need writing is the
// TargetComparer's question), and counts the bytes it wrote. Aligned data goes
// straight to the device (O_DIRECT): no copy into the page cache and no backlog of dirty pages; a background sync
// keeps what lies below the device (a loop device's file, a disk's cache) from piling up until the end.
// Small data ranges that follow each other are gathered into one write of up to kGather bytes: a store image's chunks
// are 128 KiB, and one synchronous write each keeps a disk waiting between them. Ranges of kAlone bytes or more are
// written as they come, without the copy.

#include "AlignedBuffer.h"
#include "DeviceSyncer.h"

#include <cstdint>
#include <string>

class TargetWriter
{
public:
    // directFd: the same device opened with O_DIRECT, or -1.
    TargetWriter(int fd, int directFd);

    static constexpr uint64_t kGather = 4ull << 20;
    static constexpr uint64_t kAlone = 1ull << 20;

    // May only gather the data: it reaches the device by the next write elsewhere, zero() or finish().
    bool write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error);
    bool zero(uint64_t offset, uint64_t length, std::string& error);
    // Writes what was gathered, waits for the background syncs, then syncs the device: also when nothing was written.
    bool finish(std::string& error);
    uint64_t written() const { return m_written; }

private:
    bool writeNow(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error);
    bool flushGathered(std::string& error);
    bool writeZeros(uint64_t offset, uint64_t length, std::string& error);
    // Has the device synced in the background every so many bytes.
    void countWritten(uint64_t bytes);
    bool writeDirect(const uint8_t* data, uint64_t offset, uint64_t length, bool& done, std::string& error);

    int m_fd;
    int m_directFd;
    uint32_t m_sectorSize;
    bool m_deviceZeroing = true;
    uint64_t m_written = 0;
    uint64_t m_unsynced = 0;
    DeviceSyncer m_syncer;
    AlignedBuffer m_gathered;
    uint64_t m_gatheredOffset = 0;
    uint64_t m_gatheredLength = 0;
};
