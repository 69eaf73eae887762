#pragma once

// The used blocks of an unmounted xfs file system, read from its own allocation map without writing anything and
// without replaying its log: every allocation group's free-space records (the by-block B+tree) are the free space,
// everything else is used. Anything unexpected (unknown features, a log that is not cleanly unmounted, a tree block
// reached twice, a record that fails its checks) is a failure with the reason, and the caller copies the whole device
// instead.

#include "UsedMap.h"

#include <cstdint>
#include <string>
#include <vector>

class XfsUsedMap
{
public:
    static bool read(int fd, uint64_t deviceSize, UsedMap& map, std::string& why);

    struct FreeExtent
    {
        uint32_t start = 0; // block number inside its allocation group
        uint32_t length = 0;
    };

private:
    struct Geometry;

    static bool readGeometry(int fd, uint64_t deviceSize, Geometry& geometry, std::string& why);
    static bool logIsClean(int fd, const Geometry& geometry, std::string& why);
    static bool readFreeExtents(int fd, const Geometry& geometry, uint32_t ag, uint32_t& agLength,
                                std::vector<FreeExtent>& free, std::string& why);
    static bool walkFreeTree(int fd, const Geometry& geometry, uint32_t ag, uint32_t root, uint32_t levels,
                             uint32_t agLength, std::vector<FreeExtent>& free, std::string& why);
};
