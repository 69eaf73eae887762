// The xfs and btrfs used-block readers on file systems their own mkfs made in a plain file, then crafted so that the
// nodes of a tree all point at the same child: the readers must refuse such a tree at once, holding no more memory
// than the metadata really present calls for (before, one leaf read over and over filled gigabytes). Then thousands
// of mutations of their metadata, checksums repaired: each refused, or read into a map that stays on the device.

#include "BtrfsUsedMap.h"
#include "Crc32c.h"
#include "FileIo.h"
#include "PeakMemory.h"
#include "UniqueFd.h"
#include "XfsUsedMap.h"

#include <QtTest>

#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr long kMemoryBoundKiB = 64 * 1024;

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void putBe32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t(value >> (24 - 8 * i));
    }
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t le64(const uint8_t* p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

void putLe(uint8_t* p, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        p[i] = uint8_t(value >> (8 * i));
    }
}

std::vector<uint8_t> readAt(int fd, uint64_t offset, size_t size)
{
    std::vector<uint8_t> bytes(size);
    if (!FileIo::readAt(fd, bytes.data(), size, offset)) {
        bytes.clear();
    }
    return bytes;
}

bool writeAt(int fd, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    return ::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)) == ssize_t(bytes.size());
}

// A file system made by mkfs in a sparse file of the given size; the file stays open for crafting and reading.
struct Made
{
    QTemporaryDir dir;
    QString path;
    UniqueFd fd;
    uint64_t size = 0;
};

// A fresh xfs (four groups of 32768 blocks) or btrfs (DUP metadata, 16 KiB nodes) made by its own mkfs.
bool makeFileSystem(Made& made, const QString& type)
{
    const bool xfs = type == "xfs";
    made.path = made.dir.filePath("fs.img");
    made.size = xfs ? 512ull << 20 : 256ull << 20;
    QFile file(made.path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(made.size))) {
        return false;
    }
    file.close();
    const QStringList args = xfs ? QStringList{"-q", "-K", "-f", "-b", "size=4096", "-d", "agcount=4"}
                                 : QStringList{"-q", "-f", "-K", "-m", "dup", "-n", "16384"};
    if (!run(xfs ? "mkfs.xfs" : "mkfs.btrfs", QStringList(args) << made.path)) {
        return false;
    }
    made.fd.reset(::open(QFile::encodeName(made.path).constData(), O_RDWR | O_CLOEXEC));
    return made.fd.valid();
}

bool readUsedMap(const QString& type, const Made& made, UsedMap& map, std::string& why)
{
    return type == "xfs" ? XfsUsedMap::read(made.fd.get(), made.size, map, why)
                         : BtrfsUsedMap::read(made.fd.get(), made.size, map, why);
}

// The reader must refuse, with a reason holding the expected words, while the process's peak memory grows by less
// than the bound.
void expectBoundedRefusal(const QString& type, const Made& made, const char* expected)
{
    UsedMap map;
    std::string why;
    bool accepted = true;
    const long growth = PeakMemory::growthKiB([&] { accepted = readUsedMap(type, made, map, why); });
    QVERIFY(!accepted);
    QVERIFY2(growth >= 0 && growth < kMemoryBoundKiB, qPrintable(QString("peak memory grew by %1 KiB").arg(growth)));
    QVERIFY2(why.find(expected) != std::string::npos, why.c_str());
}

// ---- xfs: the by-block free-space tree of allocation group 0 ----

constexpr uint32_t kXfsHeader = 56; // a v5 short-form tree block header
constexpr uint32_t kXfsLevels = 9;  // the most a free-space tree may have

std::vector<uint8_t> xfsTreeBlock(uint32_t blockSize, uint32_t level, uint32_t count)
{
    std::vector<uint8_t> block(blockSize, 0);
    putBe32(block.data(), 0x41423342); // "AB3B"
    block[5] = uint8_t(level);
    block[6] = uint8_t(count >> 8);
    block[7] = uint8_t(count);
    putBe32(block.data() + 8, 0xFFFFFFFF);
    putBe32(block.data() + 12, 0xFFFFFFFF);
    return block; // owned by allocation group 0
}

void sealXfs(std::vector<uint8_t>& block, size_t crcAt)
{
    putLe(block.data() + crcAt, Crc32c::of(block.data(), block.size(), crcAt), 4);
}

// A full leaf of sound records, and above it one node per level whose every pointer leads to the node below.
bool craftXfs(Made& made)
{
    const std::vector<uint8_t> sb = readAt(made.fd.get(), 0, 512);
    if (sb.empty()) {
        return false;
    }
    const uint32_t blockSize = be32(sb.data() + 4);
    const uint32_t agBlocks = be32(sb.data() + 84);
    const uint32_t sectorSize = uint32_t(sb[102]) << 8 | sb[103];
    const uint32_t records = (blockSize - kXfsHeader) / 8;
    const uint32_t pointers = (blockSize - kXfsHeader) / 12;
    const uint32_t first = agBlocks - 2 * kXfsLevels;
    for (uint32_t level = 0; level < kXfsLevels; ++level) {
        std::vector<uint8_t> block = xfsTreeBlock(blockSize, level, level == 0 ? records : pointers);
        for (uint32_t i = 0; i < (level == 0 ? records : pointers); ++i) {
            if (level == 0) {
                putBe32(block.data() + kXfsHeader + 8 * i, 100 + 2 * i);
                putBe32(block.data() + kXfsHeader + 8 * i + 4, 1);
            } else {
                putBe32(block.data() + kXfsHeader + 8 * pointers + 4 * i, first + level - 1);
            }
        }
        sealXfs(block, 52);
        if (!writeAt(made.fd.get(), uint64_t(first + level) * blockSize, block)) {
            return false;
        }
    }
    std::vector<uint8_t> agf = readAt(made.fd.get(), sectorSize, sectorSize);
    if (agf.empty() || be32(agf.data()) != 0x58414746) {
        return false;
    }
    putBe32(agf.data() + 16, first + kXfsLevels - 1);
    putBe32(agf.data() + 28, kXfsLevels);
    sealXfs(agf, 216);
    return writeAt(made.fd.get(), sectorSize, agf);
}

// ---- btrfs: the extent tree ----

constexpr uint64_t kBtrfsSuper = 64 * 1024;
constexpr size_t kBtrfsHeader = 101;
constexpr int kBtrfsLevels = 3;

struct BtrfsGeometry
{
    std::vector<uint8_t> super;
    uint32_t nodeSize = 0;
    uint64_t root = 0;
};

void sealBtrfs(std::vector<uint8_t>& block)
{
    std::fill(block.begin(), block.begin() + 32, 0);
    putLe(block.data(), Crc32c::of(block.data() + 32, block.size() - 32), 4);
}

// Every place on the device that holds the tree block with this logical address (two with DUP metadata).
std::vector<uint64_t> btrfsCopiesOf(const Made& made, const BtrfsGeometry& g, uint64_t logical)
{
    std::vector<uint64_t> copies;
    constexpr size_t kPiece = 1u << 20;
    for (uint64_t at = 0; at < made.size; at += kPiece) {
        const std::vector<uint8_t> piece = readAt(made.fd.get(), at, kPiece);
        for (size_t i = 0; i + g.nodeSize <= piece.size(); i += 4096) {
            if (le64(piece.data() + i + 48) == logical &&
                std::equal(piece.begin() + i + 32, piece.begin() + i + 48, g.super.begin() + 32)) {
                copies.push_back(at + i);
            }
        }
    }
    return copies;
}

std::vector<uint8_t> btrfsBlock(const BtrfsGeometry& g, uint64_t logical, int level, uint32_t count)
{
    std::vector<uint8_t> block(g.nodeSize, 0);
    std::copy(g.super.begin() + 32, g.super.begin() + 48, block.begin() + 32);
    putLe(block.data() + 48, logical, 8);
    putLe(block.data() + 80, le64(g.super.data() + 72), 8); // generation
    putLe(block.data() + 88, 2, 8);                         // owner: the extent tree
    putLe(block.data() + 96, count, 4);
    block[100] = uint8_t(level);
    return block;
}

// Writes a block at a logical address next to a known one, on every copy.
bool btrfsPlace(const Made& made, const std::vector<uint64_t>& copies, int64_t delta, std::vector<uint8_t> block)
{
    sealBtrfs(block);
    for (const uint64_t copy : copies) {
        if (!writeAt(made.fd.get(), uint64_t(int64_t(copy) + delta), block)) {
            return false;
        }
    }
    return true;
}

// The extent tree replaced by a chain of nodes, each pointing only at the one below, over one full leaf of sound
// extents; the superblock's count of used bytes made to match the leaf, so that nothing but the sharing is wrong.
// The root item of the extent tree in a root tree that is a single leaf, as mkfs makes it; null when there is none.
uint8_t* extentRootItemIn(std::vector<uint8_t>& rootLeaf)
{
    for (uint32_t i = 0; rootLeaf.size() > kBtrfsHeader && rootLeaf[100] == 0 && i < le32(rootLeaf.data() + 96); ++i) {
        uint8_t* item = rootLeaf.data() + kBtrfsHeader + 25 * i;
        if (le64(item) == 2 && item[8] == 132) {
            return rootLeaf.data() + kBtrfsHeader + le32(item + 17);
        }
    }
    return nullptr;
}

BtrfsGeometry btrfsGeometry(const Made& made)
{
    BtrfsGeometry g;
    g.super = readAt(made.fd.get(), kBtrfsSuper, 4096);
    g.nodeSize = g.super.empty() ? 0 : le32(g.super.data() + 148);
    g.root = g.super.empty() ? 0 : le64(g.super.data() + 80);
    return g;
}

bool craftBtrfs(Made& made)
{
    BtrfsGeometry g = btrfsGeometry(made);
    const std::vector<uint64_t> rootCopies = btrfsCopiesOf(made, g, g.root);
    if (rootCopies.empty()) {
        return false;
    }
    std::vector<uint8_t> rootLeaf = readAt(made.fd.get(), rootCopies.front(), g.nodeSize);
    uint8_t* extentRootItem = extentRootItemIn(rootLeaf);
    if (!extentRootItem) {
        return false;
    }
    const uint64_t extentRoot = le64(extentRootItem + 176);
    const std::vector<uint64_t> copies = btrfsCopiesOf(made, g, extentRoot);
    // The new blocks go into unused room of the same metadata chunk, after the old extent tree root.
    std::vector<int64_t> free;
    for (int64_t delta = g.nodeSize; free.size() <= kBtrfsLevels && delta < (8 << 20); delta += g.nodeSize) {
        bool unused = !copies.empty();
        for (const uint64_t copy : copies) {
            const std::vector<uint8_t> bytes = readAt(made.fd.get(), copy + uint64_t(delta), g.nodeSize);
            unused = unused && !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return !b; });
        }
        if (unused) {
            free.push_back(delta);
        }
    }
    if (free.size() <= kBtrfsLevels) {
        return false;
    }
    // Sound extents, a sector each, inside the system chunk the superblock lists first.
    const uint64_t systemChunk = le64(g.super.data() + 811 + 9);
    const uint32_t room = g.nodeSize - kBtrfsHeader;
    const uint32_t extents = std::min<uint64_t>(300, le64(g.super.data() + 811 + 17) / 4096);
    std::vector<uint8_t> leaf = btrfsBlock(g, extentRoot + uint64_t(free[0]), 0, extents);
    for (uint32_t i = 0; i < extents; ++i) {
        uint8_t* item = leaf.data() + kBtrfsHeader + 25 * i;
        putLe(item, systemChunk + 4096ull * i, 8);
        item[8] = 168;
        putLe(item + 9, 4096, 8);
        putLe(item + 17, room, 4);
    }
    if (!btrfsPlace(made, copies, free[0], leaf)) {
        return false;
    }
    const uint32_t pointers = room / 33;
    for (int level = 1; level <= kBtrfsLevels; ++level) {
        std::vector<uint8_t> node = btrfsBlock(g, extentRoot + uint64_t(free[level]), level, pointers);
        for (uint32_t i = 0; i < pointers; ++i) {
            putLe(node.data() + kBtrfsHeader + 33 * i + 17, extentRoot + uint64_t(free[level - 1]), 8);
        }
        if (!btrfsPlace(made, copies, free[level], node)) {
            return false;
        }
    }
    putLe(extentRootItem + 176, extentRoot + uint64_t(free[kBtrfsLevels]), 8);
    extentRootItem[238] = kBtrfsLevels;
    if (!btrfsPlace(made, rootCopies, 0, rootLeaf)) {
        return false;
    }
    putLe(g.super.data() + 120, 4096ull * extents, 8);
    sealBtrfs(g.super);
    return writeAt(made.fd.get(), kBtrfsSuper, g.super);
}

// ---- mutations of the metadata the readers look at, each block's checksum made to match again ----

struct MetadataBlock
{
    enum Seal
    {
        None,
        Xfs,  // CRC-32C over the block with its own field read as zero
        Btrfs // CRC-32C over all that follows the 32-byte checksum field
    };
    std::vector<uint64_t> copies; // where it lies on the device: one place, or two with DUP metadata
    uint32_t size;
    Seal seal;
    size_t crcAt;
    std::vector<std::pair<uint32_t, uint32_t>> regions; // what the reader uses of it: start and length
};

void seal(std::vector<uint8_t>& bytes, const MetadataBlock& block)
{
    if (block.seal == MetadataBlock::Xfs) {
        putLe(bytes.data() + block.crcAt, Crc32c::of(bytes.data(), bytes.size(), block.crcAt), 4);
    } else if (block.seal == MetadataBlock::Btrfs) {
        sealBtrfs(bytes);
    }
}

// The superblock, the start of the log, and each group's header and free-space tree root: the parts in use.
std::vector<MetadataBlock> xfsMetadata(const Made& made)
{
    const std::vector<uint8_t> sb = readAt(made.fd.get(), 0, 512);
    const uint32_t blockSize = be32(sb.data() + 4);
    const uint32_t agBlocks = be32(sb.data() + 84);
    const uint32_t agCount = be32(sb.data() + 88);
    const uint32_t sectorSize = uint32_t(sb[102]) << 8 | sb[103];
    const uint64_t logStart = uint64_t(be32(sb.data() + 48)) << 32 | be32(sb.data() + 52);
    const uint64_t logAg = logStart >> sb[124];
    const uint64_t logBlock = logStart & ((1ull << sb[124]) - 1);
    std::vector<MetadataBlock> blocks = {
        {{0}, sectorSize, MetadataBlock::Xfs, 224, {{0, 232}}},
        {{(logAg * agBlocks + logBlock) * blockSize}, 1024, MetadataBlock::None, 0, {{0, 1024}}}};
    for (uint32_t ag = 0; ag < agCount; ++ag) {
        const uint64_t base = uint64_t(ag) * agBlocks * blockSize;
        const std::vector<uint8_t> agf = readAt(made.fd.get(), base + sectorSize, sectorSize);
        const uint64_t root = base + uint64_t(be32(agf.data() + 16)) * blockSize;
        const std::vector<uint8_t> leaf = readAt(made.fd.get(), root, 8);
        blocks.push_back({{base + sectorSize}, sectorSize, MetadataBlock::Xfs, 216, {{0, 224}}});
        blocks.push_back({{root}, blockSize, MetadataBlock::Xfs, 52, {{0, 56 + 8 * (leaf[6] << 8 | leaf[7])}}});
    }
    return blocks;
}

// The superblock and the blocks of the three trees the reader walks (chunk, root, extent; each a single leaf after
// mkfs), with all their copies: their headers, item headers and item data.
std::vector<MetadataBlock> btrfsMetadata(const Made& made)
{
    const BtrfsGeometry g = btrfsGeometry(made);
    std::vector<MetadataBlock> blocks = {{{kBtrfsSuper}, 4096, MetadataBlock::Btrfs, 0, {{0, 1024}, {1024, 2048}}}};
    std::vector<uint64_t> roots = {le64(g.super.data() + 88), g.root};
    for (size_t r = 0; r < roots.size(); ++r) {
        const std::vector<uint64_t> copies = btrfsCopiesOf(made, g, roots[r]);
        std::vector<uint8_t> leaf =
            copies.empty() ? std::vector<uint8_t>() : readAt(made.fd.get(), copies[0], g.nodeSize);
        if (leaf.empty() || leaf[100] != 0) {
            return {};
        }
        if (roots[r] == g.root && extentRootItemIn(leaf)) {
            roots.push_back(le64(extentRootItemIn(leaf) + 176));
        }
        const uint32_t items = le32(leaf.data() + 96);
        const uint32_t headers = uint32_t(kBtrfsHeader) + items * 25;
        const uint32_t data = items > 0 ? uint32_t(kBtrfsHeader) + le32(leaf.data() + headers - 25 + 17) : g.nodeSize;
        blocks.push_back({copies, g.nodeSize, MetadataBlock::Btrfs, 0, {{0, headers}, {data, g.nodeSize - data}}});
    }
    return blocks;
}

// A bit flipped, or a field of 1 to 8 bytes set to a value near a boundary, in a part of the block the reader uses.
QString mutate(std::vector<uint8_t>& bytes, const MetadataBlock& block, std::mt19937_64& random)
{
    const auto& region = block.regions[random() % block.regions.size()];
    const size_t at = region.first + random() % region.second;
    if (random() % 3 == 0) {
        bytes[at] ^= uint8_t(1u << (random() % 8));
        return QString("bit flip at %1").arg(at);
    }
    const int width = std::min<int>(1 << (random() % 4), int(bytes.size() - at));
    uint64_t old = 0;
    for (int i = 0; i < width; ++i) {
        old = old << 8 | bytes[at + size_t(i)];
    }
    const uint64_t values[] = {0, 1, old + 1, old - 1, old * 2, old / 2, 0xffffffffull, ~0ull, random(), random() % 64};
    const uint64_t value = values[random() % std::size(values)];
    for (int i = 0; i < width; ++i) {
        bytes[at + size_t(i)] = uint8_t(value >> (8 * (width - 1 - i)));
    }
    return QString("%1 bytes at %2 set to %3").arg(width).arg(at).arg(value);
}

// A map the copy can follow: ordered, apart, on the device, adding up.
bool staysOnTheDevice(const UsedMap& map, uint64_t deviceSize)
{
    uint64_t cursor = 0;
    uint64_t total = 0;
    for (const Extent& range : map.ranges()) {
        if (range.length == 0 || range.offset < cursor || range.end() > deviceSize) {
            return false;
        }
        cursor = range.end();
        total += range.length;
    }
    return total == map.usedBytes();
}

} // namespace

class TestUsedMaps : public QObject
{
    Q_OBJECT

private slots:
    void xfsTreeSharingChildrenIsRefused();
    void btrfsTreeSharingChildrenIsRefused();
    void fuzzedMetadataIsRefusedOrStaysOnTheDevice_data();
    void fuzzedMetadataIsRefusedOrStaysOnTheDevice();
};

void TestUsedMaps::xfsTreeSharingChildrenIsRefused()
{
    Made made;
    if (!makeFileSystem(made, "xfs")) {
        QSKIP("mkfs.xfs cannot make a file system here");
    }
    UsedMap map;
    std::string why;
    QVERIFY2(readUsedMap("xfs", made, map, why), why.c_str());
    // Groups of 32768 blocks: read over and over, the one leaf's records would fill about 130 MiB.
    QVERIFY(craftXfs(made));
    expectBoundedRefusal("xfs", made, "reaches a block twice");
}

void TestUsedMaps::btrfsTreeSharingChildrenIsRefused()
{
    Made made;
    if (!makeFileSystem(made, "btrfs")) {
        QSKIP("mkfs.btrfs cannot make a file system here");
    }
    UsedMap map;
    std::string why;
    QVERIFY2(readUsedMap("btrfs", made, map, why), why.c_str());
    // 16384 tree blocks' worth: read over and over, the one leaf's extents (two copies each) would fill 200 MiB.
    QVERIFY(craftBtrfs(made));
    expectBoundedRefusal("btrfs", made, "reached twice");
}

void TestUsedMaps::fuzzedMetadataIsRefusedOrStaysOnTheDevice_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("xfs") << "xfs";
    QTest::newRow("btrfs") << "btrfs";
}

void TestUsedMaps::fuzzedMetadataIsRefusedOrStaysOnTheDevice()
{
    QFETCH(QString, type);
    Made made;
    if (!makeFileSystem(made, type)) {
        QSKIP("mkfs cannot make a file system here");
    }
    const std::vector<MetadataBlock> blocks = type == "xfs" ? xfsMetadata(made) : btrfsMetadata(made);
    QVERIFY(blocks.size() > 3);
    const int rounds = qEnvironmentVariableIntValue("MARLIN_FUZZ_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("MARLIN_FUZZ_ROUNDS")
                           : 1000;
    std::mt19937_64 random(20261210);
    int refused = 0;
    QElapsedTimer timer;
    timer.start();
    qint64 slowest = 0;
    const long growth = PeakMemory::growthKiB([&] {
        for (int round = 0; round < rounds; ++round) {
            const MetadataBlock& block = blocks[random() % blocks.size()];
            const std::vector<uint8_t> original = readAt(made.fd.get(), block.copies.front(), block.size);
            std::vector<uint8_t> bytes = original;
            const QString what =
                QString("round %1, block at %2: ").arg(round).arg(block.copies.front()) + mutate(bytes, block, random);
            seal(bytes, block);
            for (const uint64_t copy : block.copies) {
                QVERIFY(writeAt(made.fd.get(), copy, bytes));
            }
            UsedMap map;
            std::string why;
            const qint64 started = timer.elapsed();
            const bool accepted = readUsedMap(type, made, map, why);
            slowest = std::max(slowest, timer.elapsed() - started);
            QVERIFY2(!accepted || staysOnTheDevice(map, made.size), qPrintable(what));
            refused += accepted ? 0 : 1;
            for (const uint64_t copy : block.copies) {
                QVERIFY(writeAt(made.fd.get(), copy, original));
            }
        }
    });
    if (QTest::currentTestFailed()) {
        return;
    }
    qInfo() << rounds << "mutations of" << type << "metadata:" << refused << "refused in" << timer.elapsed()
            << "ms, slowest" << slowest << "ms, peak memory +" << growth << "KiB";
    // Many fields are not the readers' business (labels, reference counts); a good share must reach their checks.
    QVERIFY2(refused > rounds / 10, "mutations reach the checks");
    QVERIFY2(slowest < 2000, "no mutation takes long to read");
    QVERIFY2(growth >= 0 && growth < kMemoryBoundKiB, "no large allocation");
}

QTEST_GUILESS_MAIN(TestUsedMaps)
#include "tst_usedmaps.moc"
