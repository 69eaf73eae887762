#pragma once

// The used blocks of an unmounted single-device btrfs file system, read from its own trees without writing
// anything: the chunk tree maps logical addresses onto the device, the extent tree lists every allocated extent
// (data and tree blocks). The superblocks and the reserved first MiB are always copied. Anything unexpected (more
// devices, features or profiles we do not read, a tree log to replay, a block that fails its checksum or is reached
// twice, items out of order, totals that do not add up) is a failure with the reason, and the caller copies the whole
// device instead.

#include "UsedMap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class BtrfsUsedMap
{
public:
    static bool read(int fd, uint64_t deviceSize, UsedMap& map, std::string& why);

private:
    struct Chunk
    {
        uint64_t logical = 0;
        uint64_t length = 0;
        std::vector<uint64_t> stripes; // physical offsets of its copies
    };
    struct Key
    {
        uint64_t objectId = 0;
        uint8_t type = 0;
        uint64_t offset = 0;
    };
    using ItemVisitor = std::function<bool(const Key& key, const uint8_t* data, uint32_t size)>;

    BtrfsUsedMap(int fd, uint64_t deviceSize) : m_fd(fd), m_deviceSize(deviceSize) {}
    bool readSuper(std::string& why);
    bool addChunk(uint64_t logical, const uint8_t* data, uint32_t size, std::string& why);
    const Chunk* chunkOf(uint64_t logical, uint64_t length) const;
    // Visits every item of a tree in key order; refuses a block reached twice and items out of order.
    bool walkTree(uint64_t root, int level, const ItemVisitor& visit, std::string& why);
    bool walk(uint64_t logical, int level, const ItemVisitor& visit, std::string& why);
    bool follows(const Key& key);
    bool readNode(uint64_t logical, int level, std::vector<uint8_t>& node, std::string& why);
    bool collect(UsedMap& map, std::string& why);

    int m_fd;
    uint64_t m_deviceSize;
    uint32_t m_nodeSize = 0;
    uint32_t m_sectorSize = 0;
    uint8_t m_fsid[16] = {};
    uint64_t m_root = 0;
    uint64_t m_chunkRoot = 0;
    int m_rootLevel = 0;
    int m_chunkRootLevel = 0;
    uint64_t m_bytesUsed = 0;
    uint64_t m_totalBytes = 0;
    std::vector<Chunk> m_chunks;            // ordered by logical address
    std::unordered_set<uint64_t> m_visited; // logical addresses of the tree blocks read
    Key m_previous;
    bool m_hasPrevious = false;
};
