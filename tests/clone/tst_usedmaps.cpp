// The xfs and btrfs used-block readers on file systems their own mkfs made in a plain file, then crafted so that the
// nodes of a tree all point at the same child: the readers must refuse such a tree at once, holding no more memory
// than the metadata really present calls for (before, one leaf read over and over filled gigabytes).

#include "BtrfsUsedMap.h"
#include "Crc32c.h"
#include "FileIo.h"
#include "UniqueFd.h"
#include "XfsUsedMap.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr uint64_t kMemoryBound = 64ull << 20;

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

uint64_t peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return uint64_t(usage.ru_maxrss) * 1024;
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

bool make(Made& made, uint64_t size, const QString& mkfs, QStringList args)
{
    made.path = made.dir.filePath("fs.img");
    made.size = size;
    QFile file(made.path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(size))) {
        return false;
    }
    file.close();
    if (!run(mkfs, args << made.path)) {
        return false;
    }
    made.fd.reset(::open(QFile::encodeName(made.path).constData(), O_RDWR | O_CLOEXEC));
    return made.fd.valid();
}

// Runs a reader; true when it refused with a reason holding the expected words, and the peak memory of the process
// grew by less than the bound meanwhile.
template <typename Reader>
void expectBoundedRefusal(Reader read, const char* expected)
{
    const uint64_t before = peakResidentBytes();
    UsedMap map;
    std::string why;
    QVERIFY(!read(map, why));
    const uint64_t growth = peakResidentBytes() - before;
    QVERIFY2(growth < kMemoryBound, qPrintable(QString("peak memory grew by %1 MiB").arg(growth >> 20)));
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
bool craftBtrfs(Made& made)
{
    BtrfsGeometry g;
    g.super = readAt(made.fd.get(), kBtrfsSuper, 4096);
    if (g.super.empty()) {
        return false;
    }
    g.nodeSize = le32(g.super.data() + 148);
    g.root = le64(g.super.data() + 80);
    const std::vector<uint64_t> rootCopies = btrfsCopiesOf(made, g, g.root);
    if (rootCopies.empty() || g.super[198] != 0) {
        return false;
    }
    std::vector<uint8_t> rootLeaf = readAt(made.fd.get(), rootCopies.front(), g.nodeSize);
    uint8_t* extentRootItem = nullptr;
    for (uint32_t i = 0; i < le32(rootLeaf.data() + 96); ++i) {
        uint8_t* item = rootLeaf.data() + kBtrfsHeader + 25 * i;
        if (le64(item) == 2 && item[8] == 132) {
            extentRootItem = rootLeaf.data() + kBtrfsHeader + le32(item + 17);
        }
    }
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

} // namespace

class TestUsedMaps : public QObject
{
    Q_OBJECT

private slots:
    void xfsTreeSharingChildrenIsRefused();
    void btrfsTreeSharingChildrenIsRefused();
};

void TestUsedMaps::xfsTreeSharingChildrenIsRefused()
{
    Made made;
    // Four groups of 32768 blocks: read over and over, the one leaf's records would fill about 130 MiB.
    if (!make(made, 512ull << 20, "mkfs.xfs", {"-q", "-K", "-f", "-b", "size=4096", "-d", "agcount=4"})) {
        QSKIP("mkfs.xfs cannot make a file system here");
    }
    UsedMap map;
    std::string why;
    QVERIFY2(XfsUsedMap::read(made.fd.get(), made.size, map, why), why.c_str());
    QVERIFY(craftXfs(made));
    expectBoundedRefusal([&](UsedMap& m, std::string& w) { return XfsUsedMap::read(made.fd.get(), made.size, m, w); },
                         "reaches a block twice");
}

void TestUsedMaps::btrfsTreeSharingChildrenIsRefused()
{
    Made made;
    // 16384 tree blocks' worth: read over and over, the one leaf's extents (two copies each) would fill 200 MiB.
    if (!make(made, 256ull << 20, "mkfs.btrfs", {"-q", "-f", "-K", "-m", "dup", "-n", "16384"})) {
        QSKIP("mkfs.btrfs cannot make a file system here");
    }
    UsedMap map;
    std::string why;
    QVERIFY2(BtrfsUsedMap::read(made.fd.get(), made.size, map, why), why.c_str());
    QVERIFY(craftBtrfs(made));
    expectBoundedRefusal([&](UsedMap& m, std::string& w) { return BtrfsUsedMap::read(made.fd.get(), made.size, m, w); },
                         "reached twice");
}

QTEST_GUILESS_MAIN(TestUsedMaps)
#include "tst_usedmaps.moc"
