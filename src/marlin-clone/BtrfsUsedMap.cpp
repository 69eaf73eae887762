#include "BtrfsUsedMap.h"

#include "Crc32c.h"
#include "FileIo.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint64_t kSuperOffset = 64 * 1024;
constexpr size_t kSuperSize = 4096;
constexpr char kMagic[8] = {'_', 'B', 'H', 'R', 'f', 'S', '_', 'M'};
constexpr size_t kSysChunkArrayOffset = 811;
constexpr uint32_t kSysChunkArrayMax = 2048;
constexpr size_t kNodeHeader = 101;
constexpr size_t kLeafItem = 25;
constexpr size_t kKeyPointer = 33;
constexpr size_t kDiskKey = 17;
constexpr size_t kChunkHeader = 48;
constexpr size_t kStripe = 32;
constexpr uint8_t kChunkItem = 228;
constexpr uint8_t kRootItem = 132;
constexpr uint8_t kExtentItem = 168;
constexpr uint8_t kMetadataItem = 169;
constexpr uint64_t kExtentTreeObjectId = 2;
constexpr uint64_t kProfileDup = 1u << 5;
// Every profile bit but DUP: single-device file systems use single or DUP only.
constexpr uint64_t kOtherProfiles = (1u << 3) | (1u << 4) | (1u << 6) | (1u << 7) | (1u << 8) | (1u << 9) | (1u << 10);
// Mixed backrefs, default subvolume, mixed groups, lzo, zstd, big metadata, extended iref, skinny metadata, no
// holes, metadata uuid, raid1c34: none changes where the extent tree lists allocations. RAID5/6, zoned and extent
// tree v2 do.
constexpr uint64_t kKnownIncompat = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x100 | 0x200 | 0x400 | 0x800;
// Free space tree (and its valid bit), verity, block group tree.
constexpr uint64_t kKnownRoCompat = 0x1 | 0x2 | 0x4 | 0x8;
constexpr uint64_t kMetadataUuid = 0x400;
constexpr int kMaxLevel = 7;

uint64_t le64(const uint8_t* p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// btrfs checksums cover everything after the 32-byte checksum field; CRC-32C is the one we read.
bool checksumMatches(const uint8_t* data, size_t size)
{
    return le32(data) == Crc32c::of(data + 32, size - 32);
}
} // namespace

bool BtrfsUsedMap::readSuper(std::string& why)
{
    std::vector<uint8_t> super(kSuperSize);
    if (m_deviceSize < kSuperOffset + kSuperSize || !FileIo::readAt(m_fd, super.data(), super.size(), kSuperOffset) ||
        std::memcmp(super.data() + 64, kMagic, sizeof kMagic) != 0) {
        why = "no superblock";
        return false;
    }
    const uint8_t* s = super.data();
    if (le16(s + 196) != 0 || !checksumMatches(s, kSuperSize)) {
        why = "its superblock checksum is not CRC-32C or does not match";
        return false;
    }
    const uint64_t flags = le64(s + 56);
    const uint64_t incompat = le64(s + 188);
    const uint64_t roCompat = le64(s + 180);
    if ((flags & ~uint64_t(3)) != 0 || (incompat & ~kKnownIncompat) != 0 || (roCompat & ~kKnownRoCompat) != 0) {
        why = "it has flags or features we do not read";
        return false;
    }
    if (le64(s + 136) != 1) {
        why = "it spans more than one device";
        return false;
    }
    if (le64(s + 96) != 0) {
        why = "it has a tree log to replay";
        return false;
    }
    std::memcpy(m_fsid, s + ((incompat & kMetadataUuid) ? 571 : 32), sizeof m_fsid);
    m_root = le64(s + 80);
    m_chunkRoot = le64(s + 88);
    m_totalBytes = le64(s + 112);
    m_bytesUsed = le64(s + 120);
    m_sectorSize = le32(s + 144);
    m_nodeSize = le32(s + 148);
    m_rootLevel = s[198];
    m_chunkRootLevel = s[199];
    const uint32_t arraySize = le32(s + 160);
    const bool sane = m_sectorSize >= 4096 && m_sectorSize <= 65536 && (m_sectorSize & (m_sectorSize - 1)) == 0 &&
                      m_nodeSize >= m_sectorSize && m_nodeSize <= 65536 && (m_nodeSize & (m_nodeSize - 1)) == 0 &&
                      m_totalBytes <= m_deviceSize && m_rootLevel <= kMaxLevel && m_chunkRootLevel <= kMaxLevel &&
                      arraySize <= kSysChunkArrayMax;
    if (!sane) {
        why = "its superblock geometry does not fit the device";
        return false;
    }
    // The system chunks, which hold the chunk tree itself: (key, chunk item) pairs.
    for (uint32_t at = 0; at < arraySize;) {
        const uint8_t* entry = s + kSysChunkArrayOffset + at;
        if (arraySize - at < kDiskKey + kChunkHeader || entry[8] != kChunkItem) {
            why = "its system chunk array is damaged";
            return false;
        }
        const uint32_t size = static_cast<uint32_t>(kChunkHeader + kStripe * le16(entry + kDiskKey + 44));
        if (arraySize - at - kDiskKey < size || !addChunk(le64(entry + 9), entry + kDiskKey, size, why)) {
            why = why.empty() ? "its system chunk array is damaged" : why;
            return false;
        }
        at += static_cast<uint32_t>(kDiskKey) + size;
    }
    return true;
}

bool BtrfsUsedMap::addChunk(uint64_t logical, const uint8_t* data, uint32_t size, std::string& why)
{
    if (size < kChunkHeader) {
        why = "a chunk item is too short";
        return false;
    }
    Chunk chunk;
    chunk.logical = logical;
    chunk.length = le64(data);
    const uint64_t type = le64(data + 24);
    const uint16_t stripes = le16(data + 44);
    const bool dup = (type & kProfileDup) != 0;
    if ((type & kOtherProfiles) != 0 || stripes != (dup ? 2 : 1) || size != kChunkHeader + kStripe * stripes ||
        chunk.length == 0 || chunk.length > m_totalBytes) {
        why = "a chunk has a profile or layout we do not read";
        return false;
    }
    for (uint16_t i = 0; i < stripes; ++i) {
        const uint64_t physical = le64(data + kChunkHeader + kStripe * i + 8);
        if (physical > m_deviceSize || chunk.length > m_deviceSize - physical) {
            why = "a chunk lies outside the device";
            return false;
        }
        chunk.stripes.push_back(physical);
    }
    const auto place = std::lower_bound(m_chunks.begin(), m_chunks.end(), logical,
                                        [](const Chunk& c, uint64_t value) { return c.logical < value; });
    if (place != m_chunks.end() && place->logical == logical) {
        // The chunk tree repeats the system chunks; they must agree.
        if (place->length != chunk.length || place->stripes != chunk.stripes) {
            why = "the chunk tree contradicts the superblock";
            return false;
        }
        return true;
    }
    const bool overlaps = (place != m_chunks.end() && place->logical < logical + chunk.length) ||
                          (place != m_chunks.begin() && std::prev(place)->logical + std::prev(place)->length > logical);
    if (overlaps || logical + chunk.length < logical) {
        why = "chunks overlap";
        return false;
    }
    m_chunks.insert(place, std::move(chunk));
    return true;
}

const BtrfsUsedMap::Chunk* BtrfsUsedMap::chunkOf(uint64_t logical, uint64_t length) const
{
    auto after = std::upper_bound(m_chunks.begin(), m_chunks.end(), logical,
                                  [](uint64_t value, const Chunk& c) { return value < c.logical; });
    if (after == m_chunks.begin()) {
        return nullptr;
    }
    const Chunk& chunk = *std::prev(after);
    const uint64_t offset = logical - chunk.logical;
    return offset < chunk.length && length <= chunk.length - offset ? &chunk : nullptr;
}

bool BtrfsUsedMap::readNode(uint64_t logical, int level, std::vector<uint8_t>& node, std::string& why)
{
    const Chunk* chunk = chunkOf(logical, m_nodeSize);
    if (!chunk) {
        why = "a tree block lies outside every chunk";
        return false;
    }
    // The trees we read share no blocks: a block reached twice makes a graph whose walk could repeat one leaf
    // without end. Each block once keeps what is held in proportion to the blocks the trees really have.
    if (!m_visited.insert(logical).second) {
        why = "a tree block is reached twice";
        return false;
    }
    node.resize(m_nodeSize);
    const uint64_t physical = chunk->stripes[0] + (logical - chunk->logical);
    if (!FileIo::readAt(m_fd, node.data(), m_nodeSize, physical)) {
        why = "cannot read a tree block";
        return false;
    }
    const uint8_t* n = node.data();
    if (!checksumMatches(n, m_nodeSize) || std::memcmp(n + 32, m_fsid, sizeof m_fsid) != 0 || le64(n + 48) != logical ||
        n[100] != level) {
        why = "a tree block fails its checks";
        return false;
    }
    return true;
}

bool BtrfsUsedMap::walkTree(uint64_t root, int level, const ItemVisitor& visit, std::string& why)
{
    m_hasPrevious = false;
    return walk(root, level, visit, why);
}

bool BtrfsUsedMap::follows(const Key& key)
{
    const Key& p = m_previous;
    const bool after =
        !m_hasPrevious || key.objectId > p.objectId ||
        (key.objectId == p.objectId && (key.type > p.type || (key.type == p.type && key.offset > p.offset)));
    m_previous = key;
    m_hasPrevious = true;
    return after;
}

bool BtrfsUsedMap::walk(uint64_t logical, int level, const ItemVisitor& visit, std::string& why)
{
    std::vector<uint8_t> node;
    if (!readNode(logical, level, node, why)) {
        return false;
    }
    const uint32_t count = le32(node.data() + 96);
    const size_t room = m_nodeSize - kNodeHeader;
    if (count > room / (level == 0 ? kLeafItem : kKeyPointer)) {
        why = "a tree block holds more items than fit";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (level > 0) {
            const uint8_t* pointer = node.data() + kNodeHeader + kKeyPointer * i;
            if (!walk(le64(pointer + kDiskKey), level - 1, visit, why)) {
                return false;
            }
            continue;
        }
        const uint8_t* item = node.data() + kNodeHeader + kLeafItem * i;
        const Key key{le64(item), item[8], le64(item + 9)};
        const uint32_t offset = le32(item + 17);
        const uint32_t size = le32(item + 21);
        if (offset > room || size > room - offset) {
            why = "a tree item lies outside its block";
            return false;
        }
        if (!follows(key)) {
            why = "tree items are out of order";
            return false;
        }
        if (!visit(key, node.data() + kNodeHeader + offset, size)) {
            why = why.empty() ? "a tree item fails its checks" : why;
            return false;
        }
    }
    return true;
}

bool BtrfsUsedMap::collect(UsedMap& map, std::string& why)
{
    auto chunks = [&](const Key& key, const uint8_t* data, uint32_t size) {
        return key.type != kChunkItem || addChunk(key.offset, data, size, why);
    };
    if (!walkTree(m_chunkRoot, m_chunkRootLevel, chunks, why)) {
        return false;
    }
    uint64_t extentRoot = 0;
    int extentLevel = -1;
    auto roots = [&](const Key& key, const uint8_t* data, uint32_t size) {
        if (key.objectId == kExtentTreeObjectId && key.type == kRootItem) {
            if (size < 239) {
                return false;
            }
            extentRoot = le64(data + 176);
            extentLevel = data[238];
        }
        return true;
    };
    if (!walkTree(m_root, m_rootLevel, roots, why)) {
        return false;
    }
    if (extentLevel < 0 || extentLevel > kMaxLevel) {
        why = "no extent tree found";
        return false;
    }
    // Every allocated extent, mapped onto each of its copies on the device.
    std::vector<Extent> physical = {{0, 1u << 20, false}};
    for (const uint64_t mirror : {64ull << 20, 256ull << 30}) {
        if (mirror + kSuperSize <= m_deviceSize) {
            physical.push_back({mirror, kSuperSize, false});
        }
    }
    uint64_t allocated = 0;
    uint64_t allocatedEnd = 0;
    auto extents = [&](const Key& key, const uint8_t*, uint32_t) {
        if (key.type != kExtentItem && key.type != kMetadataItem) {
            return true;
        }
        const uint64_t length = key.type == kExtentItem ? key.offset : m_nodeSize;
        const Chunk* chunk = chunkOf(key.objectId, length);
        if (!chunk || length == 0) {
            why = "an extent lies outside every chunk";
            return false;
        }
        // Checked as they are read: extents apart, in address order, never more than the superblock counts.
        if (key.objectId < allocatedEnd || length > m_bytesUsed - allocated) {
            why = "its extents overlap or add up to more than the bytes it counts as used";
            return false;
        }
        allocatedEnd = key.objectId + length;
        for (const uint64_t stripe : chunk->stripes) {
            physical.push_back({stripe + (key.objectId - chunk->logical), length, false});
        }
        allocated += length;
        return true;
    };
    if (!walkTree(extentRoot, extentLevel, extents, why)) {
        return false;
    }
    if (allocated != m_bytesUsed) {
        why = "its extents do not add up to the bytes it counts as used";
        return false;
    }
    std::sort(physical.begin(), physical.end(), [](const Extent& a, const Extent& b) { return a.offset < b.offset; });
    uint64_t cursor = 0;
    for (const Extent& extent : physical) {
        const uint64_t start = std::max(cursor, extent.offset);
        if (extent.end() > start) {
            map.add(start, extent.end() - start);
            cursor = extent.end();
        }
    }
    return true;
}

bool BtrfsUsedMap::read(int fd, uint64_t deviceSize, UsedMap& map, std::string& why)
{
    BtrfsUsedMap reader(fd, deviceSize);
    if (!reader.readSuper(why)) {
        return false;
    }
    UsedMap result = UsedMap::withBlockSize(reader.m_sectorSize);
    if (!reader.collect(result, why)) {
        return false;
    }
    map = std::move(result);
    return true;
}
