#pragma once

// Writes a restore onto the target device in source order: data ranges as they come, zero ranges zeroed by the
// device itself where it can. It writes what it is given and nothing else (which ranges need writing is the
// TargetComparer's question), and counts the bytes it wrote. Aligned data goes
// straight to the device (O_DIRECT): no copy into the page cache and no backlog of dirty pages; a background sync
// keeps what lies below the device (a loop device's file, a disk's cache) from piling up until the end.

#include "DeviceSyncer.h"

#include <cstdint>
#include <string>

class TargetWriter
{
public:
    // directFd: the same device opened with O_DIRECT, or -1.
    TargetWriter(int fd, int directFd);

    bool write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error);
    bool zero(uint64_t offset, uint64_t length, std::string& error);
    // Waits for the background syncs, then syncs the device: also when nothing was written.
    bool finish(std::string& error);
    uint64_t written() const { return m_written; }

private:
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
};
