#include "XfsUsedMap.h"

#include "Crc32c.h"
#include "FileIo.h"

#include <algorithm>
#include <unordered_set>

namespace {
constexpr uint32_t kSuperMagic = 0x58465342;      // "XFSB"
constexpr uint32_t kAgfMagic = 0x58414746;        // "XAGF"
constexpr uint32_t kFreeTreeMagicV4 = 0x41425442; // "ABTB"
constexpr uint32_t kFreeTreeMagicV5 = 0x41423342; // "AB3B"
constexpr uint32_t kLogRecordMagic = 0xFEEDBABE;
constexpr uint32_t kBasicBlock = 512;
constexpr uint8_t kUnmountTransaction = 0x20;
constexpr uint32_t kLogHeaderCycleSize = 32 * 1024;
// Incompatible features whose on-disk allocation map we read: file type, sparse inodes, meta uuid, big time,
// large extent counts. "Needs repair" (0x10) and anything newer make us copy everything.
constexpr uint32_t kKnownIncompat = 0x1 | 0x2 | 0x4 | 0x8 | 0x20;
// Free inode tree, reverse map, reflink, inode btree counters: none of them changes the free-space records.
constexpr uint32_t kKnownRoCompat = 0x1 | 0x2 | 0x4 | 0x8;
constexpr uint32_t kMaxTreeLevels = 9;

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint64_t be64(const uint8_t* p)
{
    return uint64_t(be32(p)) << 32 | be32(p + 4);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool readBlock(int fd, std::vector<uint8_t>& buffer, uint64_t offset, size_t size)
{
    buffer.resize(size);
    return FileIo::readAt(fd, buffer.data(), size, offset);
}
} // namespace

struct XfsUsedMap::Geometry
{
    uint32_t blockSize = 0;
    uint32_t sectorSize = 0;
    uint64_t blocks = 0;
    uint32_t agBlocks = 0;
    uint32_t agCount = 0;
    uint32_t agBlockLog = 0;
    bool v5 = false;
    uint64_t logStart = 0; // byte offset of the internal log
    uint64_t logBytes = 0;

    uint64_t agOffset(uint32_t ag) const { return uint64_t(ag) * agBlocks * blockSize; }
};

bool XfsUsedMap::readGeometry(int fd, uint64_t deviceSize, Geometry& geometry, std::string& why)
{
    std::vector<uint8_t> sb;
    if (!readBlock(fd, sb, 0, kBasicBlock) || be32(sb.data()) != kSuperMagic) {
        why = "no superblock";
        return false;
    }
    Geometry& g = geometry;
    g.blockSize = be32(sb.data() + 4);
    g.blocks = be64(sb.data() + 8);
    g.agBlocks = be32(sb.data() + 84);
    g.agCount = be32(sb.data() + 88);
    const uint32_t logBlocks = be32(sb.data() + 96);
    const uint16_t version = be16(sb.data() + 100) & 0xF;
    g.sectorSize = be16(sb.data() + 102);
    g.agBlockLog = sb[124];
    g.v5 = version == 5;
    const bool sane = (version == 4 || version == 5) && g.blockSize >= 512 && g.blockSize <= 65536 &&
                      (g.blockSize & (g.blockSize - 1)) == 0 && g.sectorSize >= 512 && g.sectorSize <= g.blockSize &&
                      (g.sectorSize & (g.sectorSize - 1)) == 0 && g.agBlocks > 0 && g.agCount > 0 &&
                      g.agBlockLog < 32 && g.agBlocks <= (1u << g.agBlockLog) &&
                      g.blocks > uint64_t(g.agCount - 1) * g.agBlocks && g.blocks <= uint64_t(g.agCount) * g.agBlocks;
    if (!sane || g.blocks > deviceSize / g.blockSize) {
        why = "its superblock geometry does not fit the device";
        return false;
    }
    if (!readBlock(fd, sb, 0, g.sectorSize)) {
        why = "cannot read its superblock";
        return false;
    }
    if (sb[126] != 0) {
        why = "it was never finished (mkfs in progress)";
        return false;
    }
    if (g.v5) {
        if (le32(sb.data() + 224) != Crc32c::of(sb.data(), g.sectorSize, 224)) {
            why = "its superblock checksum is wrong";
            return false;
        }
        const uint32_t roCompat = be32(sb.data() + 212);
        const uint32_t incompat = be32(sb.data() + 216);
        const uint32_t logIncompat = be32(sb.data() + 220);
        if ((incompat & ~kKnownIncompat) != 0 || (roCompat & ~kKnownRoCompat) != 0 || logIncompat != 0) {
            why = "it uses features we do not read, or needs repair";
            return false;
        }
    }
    const uint64_t logStart = be64(sb.data() + 48);
    if (logStart == 0) {
        why = "its log is on another device";
        return false;
    }
    const uint64_t logAg = logStart >> g.agBlockLog;
    const uint64_t logAgBlock = logStart & ((1ull << g.agBlockLog) - 1);
    g.logStart = (logAg * g.agBlocks + logAgBlock) * g.blockSize;
    g.logBytes = uint64_t(logBlocks) * g.blockSize;
    if (logAg >= g.agCount || logAgBlock >= g.agBlocks || logBlocks == 0 ||
        g.logStart + g.logBytes > g.blocks * g.blockSize) {
        why = "its log lies outside the file system";
        return false;
    }
    return true;
}

bool XfsUsedMap::logIsClean(int fd, const Geometry& geometry, std::string& why)
{
    // Clean after an unmount: one cycle number up to the head, the previous one after it, and the last record
    // before the head a lone unmount record. Anything else may hold changes the free-space records do not show yet.
    // The log is read in pieces: it can be as large as 2 GiB.
    constexpr uint64_t kPiece = 4u << 20;
    const uint64_t blocks = geometry.logBytes / kBasicBlock;
    std::vector<uint8_t> piece;
    uint32_t cycle = 0;
    uint64_t head = blocks;
    uint64_t record = blocks; // the last record header before the head
    for (uint64_t first = 0; first < blocks; first += kPiece / kBasicBlock) {
        const uint64_t count = std::min<uint64_t>(kPiece / kBasicBlock, blocks - first);
        if (!readBlock(fd, piece, geometry.logStart + first * kBasicBlock, count * kBasicBlock)) {
            why = "cannot read its log";
            return false;
        }
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* sector = piece.data() + i * kBasicBlock;
            const bool header = be32(sector) == kLogRecordMagic;
            const uint32_t blockCycle = header ? be32(sector + 4) : be32(sector);
            cycle = first + i == 0 ? blockCycle : cycle;
            if (head == blocks && blockCycle != cycle) {
                head = first + i;
            }
            if (head == blocks && header) {
                record = first + i;
            } else if (head != blocks && blockCycle + 1 != cycle) {
                why = "its log was not cleanly unmounted (log writes out of order)";
                return false;
            }
        }
    }
    std::vector<uint8_t> header;
    if (record == blocks || !readBlock(fd, header, geometry.logStart + record * kBasicBlock, kBasicBlock)) {
        why = "no record found in its log";
        return false;
    }
    const uint32_t version = be32(header.data() + 8);
    const uint32_t length = be32(header.data() + 12);
    const uint32_t operations = be32(header.data() + 40);
    const uint32_t bufferSize = be32(header.data() + 320);
    const uint64_t headerBlocks = (version & 2) && bufferSize > kLogHeaderCycleSize
                                      ? (bufferSize + kLogHeaderCycleSize - 1) / kLogHeaderCycleSize
                                      : 1;
    const uint64_t dataBlocks = (uint64_t(length) + kBasicBlock - 1) / kBasicBlock;
    const uint64_t opBlock = (record + headerBlocks) % blocks;
    const bool endsAtHead = (record + headerBlocks + dataBlocks) % blocks == head % blocks;
    std::vector<uint8_t> op;
    if (!readBlock(fd, op, geometry.logStart + opBlock * kBasicBlock, kBasicBlock)) {
        why = "cannot read its log";
        return false;
    }
    if (be32(header.data() + 4) != cycle || operations != 1 || !endsAtHead || !(op[9] & kUnmountTransaction)) {
        why = "its log was not cleanly unmounted (mount and unmount it, or repair it, first)";
        return false;
    }
    return true;
}

namespace {
// A leaf's records must follow each other in block order, apart and inside the group: a record that does not is
// refused as it is read, so no more records are ever held than the group has room for.
bool takeRecord(const uint8_t* record, uint32_t agLength, std::vector<XfsUsedMap::FreeExtent>& free, std::string& why)
{
    const XfsUsedMap::FreeExtent extent{be32(record), be32(record + 4)};
    const uint64_t cursor = free.empty() ? 0 : uint64_t(free.back().start) + free.back().length;
    if (extent.length == 0 || extent.start < cursor || uint64_t(extent.start) + extent.length > agLength) {
        why = "its free-space records are out of order, overlap or overrun their allocation group";
        return false;
    }
    free.push_back(extent);
    return true;
}
} // namespace

bool XfsUsedMap::walkFreeTree(int fd, const Geometry& geometry, uint32_t ag, uint32_t root, uint32_t levels,
                              uint32_t agLength, std::vector<FreeExtent>& free, std::string& why)
{
    const size_t headerSize = geometry.v5 ? 56 : 16;
    const uint32_t expectedMagic = geometry.v5 ? kFreeTreeMagicV5 : kFreeTreeMagicV4;
    const uint32_t maxRecords = static_cast<uint32_t>((geometry.blockSize - headerSize) / 8);
    const uint32_t maxPointers = static_cast<uint32_t>((geometry.blockSize - headerSize) / 12);
    struct Pending
    {
        uint32_t block;
        uint32_t level;
    };
    std::vector<Pending> stack = {{root, levels - 1}};
    std::vector<uint8_t> block;
    // A block reached twice makes the tree a graph whose walk could repeat one leaf without end; each block once
    // keeps what is held in proportion to the blocks the tree really has.
    std::unordered_set<uint32_t> visited;
    while (!stack.empty()) {
        const Pending next = stack.back();
        stack.pop_back();
        if (next.block == 0 || next.block >= agLength) {
            why = "its free-space tree points outside its allocation group";
            return false;
        }
        if (!visited.insert(next.block).second) {
            why = "its free-space tree reaches a block twice";
            return false;
        }
        if (!readBlock(fd, block, geometry.agOffset(ag) + uint64_t(next.block) * geometry.blockSize,
                       geometry.blockSize)) {
            why = "cannot read its free-space tree";
            return false;
        }
        const uint8_t* data = block.data();
        const uint32_t count = be16(data + 6);
        const bool intact =
            be32(data) == expectedMagic && be16(data + 4) == next.level &&
            (!geometry.v5 || (le32(data + 52) == Crc32c::of(data, geometry.blockSize, 52) && be32(data + 48) == ag));
        if (!intact || count > (next.level == 0 ? maxRecords : maxPointers)) {
            why = "a free-space tree block fails its checks";
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (next.level == 0) {
                if (!takeRecord(data + headerSize + 8 * i, agLength, free, why)) {
                    return false;
                }
            } else {
                // Last child first on the stack, so that leaves are met in block order.
                const uint32_t child = count - 1 - i;
                stack.push_back({be32(data + headerSize + 8 * maxPointers + 4 * child), next.level - 1});
            }
        }
    }
    return true;
}

bool XfsUsedMap::readFreeExtents(int fd, const Geometry& geometry, uint32_t ag, uint32_t& agLength,
                                 std::vector<FreeExtent>& free, std::string& why)
{
    std::vector<uint8_t> agf;
    if (!readBlock(fd, agf, geometry.agOffset(ag) + geometry.sectorSize, geometry.sectorSize)) {
        why = "cannot read allocation group " + std::to_string(ag);
        return false;
    }
    const uint8_t* data = agf.data();
    agLength = be32(data + 12);
    const uint64_t expectedLength =
        std::min<uint64_t>(geometry.agBlocks, geometry.blocks - uint64_t(ag) * geometry.agBlocks);
    const uint32_t root = be32(data + 16);
    const uint32_t levels = be32(data + 28);
    const bool intact = be32(data) == kAgfMagic && be32(data + 4) == 1 && be32(data + 8) == ag &&
                        agLength == expectedLength && levels >= 1 && levels <= kMaxTreeLevels &&
                        (!geometry.v5 || le32(data + 216) == Crc32c::of(data, geometry.sectorSize, 216));
    if (!intact) {
        why = "the header of allocation group " + std::to_string(ag) + " fails its checks";
        return false;
    }
    free.clear();
    if (!walkFreeTree(fd, geometry, ag, root, levels, agLength, free, why)) {
        why += " (allocation group " + std::to_string(ag) + ")";
        return false;
    }
    // The records came ordered and apart; together they must make the group's own count of free blocks.
    uint64_t total = 0;
    for (const FreeExtent& extent : free) {
        total += extent.length;
    }
    if (total != be32(data + 52)) {
        why = "free-space records of allocation group " + std::to_string(ag) + " do not add up to its free count";
        return false;
    }
    return true;
}

bool XfsUsedMap::read(int fd, uint64_t deviceSize, UsedMap& map, std::string& why)
{
    Geometry geometry;
    if (!readGeometry(fd, deviceSize, geometry, why) || !logIsClean(fd, geometry, why)) {
        return false;
    }
    UsedMap result = UsedMap::withBlockSize(geometry.blockSize);
    std::vector<FreeExtent> free;
    for (uint32_t ag = 0; ag < geometry.agCount; ++ag) {
        uint32_t agLength = 0;
        if (!readFreeExtents(fd, geometry, ag, agLength, free, why)) {
            return false;
        }
        const uint64_t base = geometry.agOffset(ag);
        uint64_t cursor = 0;
        for (const FreeExtent& extent : free) {
            result.add(base + cursor * geometry.blockSize, (extent.start - cursor) * geometry.blockSize);
            cursor = uint64_t(extent.start) + extent.length;
        }
        result.add(base + cursor * geometry.blockSize, (agLength - cursor) * geometry.blockSize);
    }
    map = std::move(result);
    return true;
}
