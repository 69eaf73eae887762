#pragma once

// What the tool must know about a block device before it reads or overwrites it: its size and whether anything
// (a mount, swap, another exclusive opener) is using it.

#include <sys/types.h>

#include <cstdint>
#include <string>

class BlockDevice
{
public:
    static bool isBlockDevice(const std::string& path);
    static bool sizeOf(int fd, uint64_t& bytes);
    static uint32_t logicalSectorSize(int fd);
    // Where the device (or, for a whole disk, one of its partitions) is mounted or used as swap; empty when unused.
    static std::string usage(const std::string& path);
    // Where the device (or one of its partitions) is mounted with a writable file system; empty when nowhere.
    static std::string writableMountOf(const std::string& path);
    // Opens with O_EXCL, which the kernel refuses for a device that is mounted or claimed.
    static int openExclusive(const std::string& path, int flags);
    static bool isWholeDisk(const std::string& path);
    // Asks the kernel to re-read the partition table of a whole disk after a restore wrote a new one.
    static bool rereadPartitions(int fd);

private:
    // The first mount of the device (only writable ones if asked), matched by device number or source path.
    static std::string mountPointOf(dev_t device, const std::string& canonicalPath, bool writableOnly = false);
    static bool isActiveSwap(const std::string& canonicalPath);
};
