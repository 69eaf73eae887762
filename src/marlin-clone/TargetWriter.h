#pragma once

// Writes a restore onto the target device in source order: data extents as they come, zero extents (and, for
// whole-device images, everything no chunk lists) zeroed by the device itself where it can.

#include <cstdint>
#include <string>

class TargetWriter
{
public:
    TargetWriter(int fd, bool zeroUnlisted);

    bool write(const uint8_t* data, uint64_t offset, uint64_t length, std::string& error);
    bool zero(uint64_t offset, uint64_t length, std::string& error);
    // Zeroes what no chunk listed up to the given source size (whole-device images), then syncs the device.
    bool finish(uint64_t sourceSize, std::string& error);

private:
    bool fillGapBefore(uint64_t offset, std::string& error);
    bool writeZeros(uint64_t offset, uint64_t length, std::string& error);
    void pushWriteback();

    int m_fd;
    bool m_zeroUnlisted;
    bool m_deviceZeroing = true;
    uint64_t m_cursor = 0; // everything before it has been written or zeroed
    uint64_t m_writebackStarted = 0;
    uint64_t m_writebackWaited = 0;
};
