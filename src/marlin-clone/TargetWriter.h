#pragma once

// Writes a restore onto the target device in source order: data extents as they come, zero extents (and, for
// whole-device images, everything no chunk lists) zeroed by the device itself where it can. Aligned data goes
// straight to the device (O_DIRECT): no copy into the page cache and no backlog of dirty pages; a background sync
// keeps what lies below the device (a loop device's file, a disk's cache) from piling up until the end.

#include "DeviceSyncer.h"

#include <cstdint>
#include <string>

class TargetWriter
{
public:
    // directFd: the same device opened with O_DIRECT, or -1.
    TargetWriter(int fd, int directFd, bool zeroUnlisted);

    bool write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error);
    bool zero(uint64_t offset, uint64_t length, std::string& error);
    // Zeroes what no chunk listed up to the given source size (whole-device images), then syncs the device.
    bool finish(uint64_t sourceSize, std::string& error);

private:
    bool fillGapBefore(uint64_t offset, std::string& error);
    bool writeZeros(uint64_t offset, uint64_t length, std::string& error);
    // Has the device synced in the background every so many bytes.
    void countWritten(uint64_t bytes);
    bool writeDirect(const uint8_t* data, uint64_t offset, uint64_t length, bool& done, std::string& error);

    int m_fd;
    int m_directFd;
    uint32_t m_sectorSize;
    bool m_zeroUnlisted;
    bool m_deviceZeroing = true;
    uint64_t m_cursor = 0; // everything before it has been written or zeroed
    uint64_t m_unsynced = 0;
    DeviceSyncer m_syncer;
};
