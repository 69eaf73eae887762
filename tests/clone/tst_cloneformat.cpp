// The image format and the chunk codec without devices: damaged bytes must be caught wherever they are, custom-file
// writes must survive being cut short, and what the codec stores must decode to exactly what it was given.

#include "Checksum.h"
#include "ChunkCodec.h"
#include "ChunkIndex.h"
#include "ChunkPipeline.h"
#include "ChunkPlanner.h"
#include "ChunkStore.h"
#include "Crc32c.h"
#include "CustomFileCommand.h"
#include "CustomFileStore.h"
#include "FileIo.h"
#include "ImageDeviceView.h"
#include "ImageReader.h"
#include "ImageTrailer.h"
#include "ImageVerifier.h"
#include "ImageWriter.h"
#include "InfoCommand.h"
#include "PeakMemory.h"
#include "ProgressReporter.h"
#include "StoreChunkHeader.h"
#include "TargetComparer.h"
#include "UniqueFd.h"

#include <QtTest>

#include <future>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

namespace {

constexpr uint32_t kChunk = 1u << 20;

ImageHeader sampleHeader()
{
    ImageHeader header = ImageHeader::withDefaultLayout();
    header.sourceSize = 64ull << 20;
    header.usedBytes = 3ull << 20;
    header.maxChunkBytes = kChunk;
    header.creationTime = 1700000000;
    header.fsType = "ext4";
    header.fsId = "0b1c2d3e-4f50-4617-8293-a4b5c6d7e8f9";
    header.fsLabel = "root";
    header.sourceDevice = "/dev/sda2";
    return header;
}

std::vector<uint8_t> randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(generator());
    }
    return bytes;
}

// Text-like bytes: compressible, never zero.
std::vector<uint8_t> textBytes(size_t size)
{
    static const std::string words = "restore backup partition image chunk index trailer ";
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(words[(i * 7 + i / 13) % words.size()]);
    }
    return bytes;
}

// Packs the given source bytes (all one data extent at sourceOffset) the way a backup does.
ChunkWork packed(ChunkCodec& codec, const std::vector<uint8_t>& source, uint64_t sourceOffset)
{
    ChunkWork work;
    work.raw.reserve(source.size());
    std::copy(source.begin(), source.end(), work.raw.data());
    work.extents = {{sourceOffset, source.size(), false}};
    codec.pack(work);
    return work;
}

// Two chunks with an all-zero extent in between: a valid index for sampleHeader().
ChunkIndex sampleIndex(const ImageHeader& header)
{
    ChunkIndex index;
    ChunkEntry first;
    first.fileOffset = header.dataOffset;
    first.sourceOffset = 0;
    first.rawLength = 8192;
    first.storedLength = 8192;
    first.compression = ChunkIndex::kStoredPlain;
    index.add(first, {{0, 4096, false}, {4096, 65536, true}, {69632, 4096, false}});
    ChunkEntry second;
    second.fileOffset = header.dataOffset + 8192;
    second.sourceOffset = 1 << 20;
    second.rawLength = 4096;
    second.storedLength = 100;
    second.compression = ChunkIndex::kStoredZstd;
    index.add(second, {{1 << 20, 4096, false}});
    return index;
}

bool validates(ChunkIndex index, const ImageHeader& header, uint64_t dataEnd)
{
    std::string error;
    return index.validate(header, dataEnd, error);
}

struct TempDir
{
    QTemporaryDir dir;
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
};

// Puts a packed chunk into the store the way a backup into a store does, and references it.
bool storeChunk(ChunkStore& store, ImageWriter& writer, ChunkWork& work, std::string& error)
{
    work.key = work.entry.rawLength > 0 ? Sha256::of(work.raw.data(), work.entry.rawLength) : Sha256::Digest();
    if (work.entry.rawLength > 0 && !store.has(work.key, work.entry.rawLength)) {
        const StoreChunkHeader header = StoreChunkHeader::of(work.key, work.entry);
        if (!store.put(header, work.storedBytes(), error)) {
            return false;
        }
    }
    writer.appendReference(work.entry, work.extents, work.key);
    return true;
}

// A complete image of the given chunks of source bytes, written the way a backup writes it; with storeName, a store
// image whose chunks go into the store of that name beside it.
bool writeImage(const std::string& path, const std::vector<std::vector<uint8_t>>& chunks, std::string& error,
                const std::vector<Extent>& unreadable = {}, const std::string& storeName = std::string())
{
    ChunkCodec codec(1, 4096, 65536);
    ImageWriter writer;
    ChunkStore store;
    ImageHeader header = sampleHeader();
    if (!storeName.empty()) {
        header.formatVersion = ImageHeader::kStoreFormatVersion;
        header.flags |= ImageHeader::kFlagStore;
        header.storePath = storeName;
        if (!store.open(FileIo::parentDirectory(path) + "/" + storeName, true, error)) {
            return false;
        }
    }
    if (!writer.create(path, header, error)) {
        return false;
    }
    uint64_t offset = 0;
    for (const std::vector<uint8_t>& source : chunks) {
        ChunkWork work = packed(codec, source, offset);
        const bool ok = storeName.empty() ? writer.append(work.entry, work.extents, work.storedBytes(), error)
                                          : storeChunk(store, writer, work, error);
        if (!ok) {
            return false;
        }
        offset += source.size();
    }
    writer.setUnreadable(unreadable);
    return (storeName.empty() || store.flush(error)) && writer.commit(error);
}

bool flipByte(const std::string& path, uint64_t offset)
{
    const int fd = ::open(path.c_str(), O_RDWR);
    uint8_t byte = 0;
    const bool ok = fd >= 0 && FileIo::readAt(fd, &byte, 1, offset);
    byte ^= 0x20;
    const bool written = ok && FileIo::writeAt(fd, &byte, 1, offset);
    ::close(fd);
    return written;
}

bool opens(const std::string& path)
{
    ImageReader reader;
    std::string error;
    return reader.open(path, false, error);
}

// Replaces an image's trailer.
bool writeTrailer(const std::string& path, const ImageTrailer& trailer)
{
    const std::vector<uint8_t> bytes = trailer.encode();
    const int fd = ::open(path.c_str(), O_RDWR);
    struct stat status
    {
    };
    const bool ok = fd >= 0 && ::fstat(fd, &status) == 0 &&
                    FileIo::writeAt(fd, bytes.data(), bytes.size(), uint64_t(status.st_size) - bytes.size());
    ::close(fd);
    return ok;
}

// Mutates a small image in place, thousands of times, and checks what the reader and the restore's checks make of it.
class ImageFuzzer
{
public:
    enum class Verdict
    {
        Refused,   // open() or the pass before writing said no
        Accepted,  // and every chunk then also unpacks as a restore's writing pass would
        WriteFails // accepted, yet the writing pass would fail: a write before a refusal
    };

    // A store image keeps its chunks in a store beside it, which the mutations leave alone: they reach the image.
    bool setUp(const std::string& path, bool store, std::string& error)
    {
        m_path = path;
        std::vector<std::vector<uint8_t>> chunks = {textBytes(70000), randomBytes(30000, 9), textBytes(20000)};
        chunks[2].insert(chunks[2].end(), 100000, 0);
        if (!writeImage(path, chunks, error, {{8192, 4096, false}, {150000, 512, false}}, store ? ".chunks" : "")) {
            return false;
        }
        ImageReader reader;
        if (!reader.open(path, false, error)) {
            return false;
        }
        m_trailer = reader.trailer();
        m_header = reader.header();
        CustomFileTable table;
        table.set("DiskInfo", "{\"disk\": \"/dev/sda\"}");
        table.set("notes", std::string(300, 'n'));
        const std::vector<uint8_t> slot = table.encode(1);
        m_slotLength = slot.size();
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadWrite) || !file.seek(qint64(m_header.customSlotOffset[0])) ||
            file.write(reinterpret_cast<const char*>(slot.data()), qint64(slot.size())) != qint64(slot.size())) {
            return false;
        }
        file.seek(0);
        const QByteArray all = file.readAll();
        m_base.assign(all.begin(), all.end());
        return opens(path);
    }

    // Applies one mutation chosen by the generator; damaged tells whether the image can no longer be sound (bytes
    // changed behind their checksums), as opposed to crafted with every checksum made to match.
    std::vector<uint8_t> mutate(std::mt19937_64& random, bool& damaged, QString& what) const
    {
        std::vector<uint8_t> bytes = m_base;
        const uint64_t kind = random() % 10;
        damaged = kind < 4;
        if (kind < 3) {
            const std::pair<uint64_t, uint64_t> covered[] = {
                {0, ImageHeader::kSize},
                {m_header.customSlotOffset[0], m_slotLength},
                {m_header.dataOffset, m_trailer.indexOffset - m_header.dataOffset},
                {m_trailer.indexOffset, bytes.size() - m_trailer.indexOffset}};
            // A store image has no chunk data in the file: its data region is empty.
            const auto& picked = covered[random() % std::size(covered)];
            // A store image has no chunk data in the file: its empty data region gives way to the index.
            const auto& region = picked.second > 0 ? picked : covered[std::size(covered) - 1];
            const int flips = 1 + int(random() % 4);
            for (int i = 0; i < flips; ++i) {
                const uint64_t at = region.first + random() % region.second;
                bytes[at] ^= uint8_t(1u << (random() % 8));
            }
            what = QString("%1 bit flips from %2").arg(flips).arg(region.first);
        } else if (kind == 3) {
            const uint64_t size = random() % 2 ? random() % bytes.size() : bytes.size() + 1 + random() % 5000;
            bytes.resize(size, uint8_t(random()));
            what = QString("cut or extended to %1").arg(size);
        } else if (kind < 7) {
            craftIndex(bytes, random, what);
        } else if (kind < 9) {
            craftHeader(bytes, random, what);
        } else {
            craftSlot(bytes, random, what);
        }
        return bytes;
    }

    Verdict judge(const std::vector<uint8_t>& bytes) const
    {
        // Overwritten, then cut: truncating to zero first would have the file system flush it on every round.
        const int fd = ::open(m_path.c_str(), O_WRONLY);
        const bool written =
            fd >= 0 && FileIo::writeAt(fd, bytes.data(), bytes.size(), 0) && ::ftruncate(fd, off_t(bytes.size())) == 0;
        ::close(fd);
        if (!written) {
            return Verdict::WriteFails;
        }
        ImageReader image;
        image.useStore(std::string(), false);
        std::string error;
        ProgressReporter progress([](const std::string&) {}, [] { return 0.0; });
        if (!image.open(m_path, false, error) || !ImageVerifier::verify(image, progress, error)) {
            return Verdict::Refused;
        }
        return writingPassSucceeds(image) ? Verdict::Accepted : Verdict::WriteFails;
    }

private:
    // What a restore does with each chunk after the checks: unpack it and lay its extents onto the source.
    static bool writingPassSucceeds(const ImageReader& image)
    {
        ChunkCodec codec(1, 4096, 65536);
        const ChunkIndex& index = image.index();
        for (size_t i = 0; i < index.chunkCount(); ++i) {
            ChunkWork work;
            work.raw.reserve(image.header().maxChunkBytes);
            image.readChunk(i, work);
            if (work.failed || !codec.unpack(work)) {
                return false;
            }
            uint64_t position = 0;
            for (uint64_t e = work.entry.firstExtent; e < work.entry.firstExtent + work.entry.extentCount; ++e) {
                const Extent extent = index.extent(e);
                position += extent.zero ? 0 : extent.length;
                if (position > work.entry.rawLength || extent.end() > image.header().sourceSize) {
                    return false;
                }
            }
        }
        return true;
    }

    static uint64_t interesting(std::mt19937_64& random, uint64_t old)
    {
        const uint64_t values[] = {0,
                                   1,
                                   old + 1,
                                   old - 1,
                                   old * 2,
                                   0xffffffffull,
                                   0x100000000ull,
                                   1ull << 63,
                                   ~0ull,
                                   ~0ull - 4095,
                                   random(),
                                   random() % 4096,
                                   old ^ (1ull << (random() % 64))};
        return values[random() % std::size(values)];
    }

    static uint64_t field(const std::vector<uint8_t>& bytes, uint64_t at, int width)
    {
        uint64_t value = 0;
        for (int i = 0; i < width; ++i) {
            value |= uint64_t(bytes[at + uint64_t(i)]) << (8 * i);
        }
        return value;
    }

    static void setField(std::vector<uint8_t>& bytes, uint64_t at, int width, uint64_t value)
    {
        for (int i = 0; i < width; ++i) {
            bytes[at + uint64_t(i)] = uint8_t(value >> (8 * i));
        }
    }

    // Recomputes the trailer's checksums over the (possibly moved) index and header.
    void sealTrailer(std::vector<uint8_t>& bytes) const
    {
        const uint64_t trailer = bytes.size() - ImageTrailer::kSize;
        const uint64_t indexOffset = field(bytes, trailer + 16, 8);
        const uint64_t indexLength = field(bytes, trailer + 24, 8);
        if (indexOffset <= trailer && indexLength <= trailer - indexOffset) {
            setField(bytes, trailer + 32, 8, Checksum::of(bytes.data() + indexOffset, indexLength));
        }
        setField(bytes, trailer + 40, 8, field(bytes, ImageHeader::kSize - 8, 8));
        setField(bytes, trailer + 120, 8, Checksum::of(bytes.data() + trailer, 120));
    }

    void craftIndex(std::vector<uint8_t>& bytes, std::mt19937_64& random, QString& what) const
    {
        const uint64_t trailer = bytes.size() - ImageTrailer::kSize;
        uint64_t at = 0;
        int width = 8;
        switch (random() % 4) {
        case 0: // the counts
            at = m_trailer.indexOffset + 8 + 8 * (random() % 2);
            break;
        case 1: // where the trailer says the index is, and how many chunks it has
            at = trailer + 16 + 8 * (random() % 2) + (random() % 4 == 0 ? 16 : 0);
            break;
        default: { // any field of a chunk entry or extent
            const uint64_t body = m_trailer.indexOffset + ChunkIndex::kHeadSize;
            at = body + (random() % (trailer - body)) / 4 * 4;
            width = random() % 2 ? 4 : 8;
            width = at + uint64_t(width) > trailer ? 4 : width;
        }
        }
        const uint64_t value = interesting(random, field(bytes, at, width));
        setField(bytes, at, width, value);
        what = QString("index field at %1 set to %2").arg(at).arg(value);
        sealTrailer(bytes);
    }

    void craftHeader(std::vector<uint8_t>& bytes, std::mt19937_64& random, QString& what) const
    {
        const uint64_t fields[] = {12, 24, 28, 32, 56, 64, 72, 80, 88};
        const uint64_t at = fields[random() % std::size(fields)];
        const int width = at < 32 ? 4 : at == 88 ? 2 : 8;
        const uint64_t value = interesting(random, field(bytes, at, width));
        setField(bytes, at, width, value);
        setField(bytes, ImageHeader::kSize - 8, 8, Checksum::of(bytes.data(), ImageHeader::kSize - 8));
        what = QString("header field at %1 set to %2").arg(at).arg(value);
        sealTrailer(bytes);
    }

    void craftSlot(std::vector<uint8_t>& bytes, std::mt19937_64& random, QString& what) const
    {
        const uint64_t slot = m_header.customSlotOffset[0];
        const uint64_t fields[] = {16, 20, 32, 34, 32 + 6 + 8 + 36};
        const uint64_t at = slot + fields[random() % std::size(fields)];
        const int width = at - slot == 16 || at - slot == 20 || at - slot == 34 ? 4 : 2;
        const uint64_t value = interesting(random, field(bytes, at, width));
        setField(bytes, at, width, value);
        std::vector<uint8_t> copy(bytes.begin() + int64_t(slot), bytes.begin() + int64_t(slot + m_slotLength));
        std::fill(copy.begin() + 24, copy.begin() + 32, 0);
        setField(bytes, slot + 24, 8, Checksum::of(copy.data(), copy.size()));
        what = QString("custom slot field at %1 set to %2").arg(at).arg(value);
    }

    std::string m_path;
    std::vector<uint8_t> m_base;
    ImageHeader m_header;
    ImageTrailer m_trailer;
    size_t m_slotLength = 0;
};

} // namespace

class TestCloneFormat : public QObject
{
    Q_OBJECT

private slots:
    void headerRoundTrip();
    void headerRejectsAnyDamagedByte();
    void headerRejectsUnknownVersionAndBadLayout();
    void trailerRejectsDamage();
    void indexRoundTrip();
    void indexValidationCatchesInconsistencies_data();
    void indexValidationCatchesInconsistencies();
    void indexDecodeRejectsWrongLength();
    void customTableRoundTripAndReplace();
    void customTableRejectsDamageAndBadNames();
    void customStoreAlternatesSlots();
    void customStoreSurvivesTornWrite();
    void customStoreRefusesOversizedTable();
    void codecRoundTripSplitsZeroRuns();
    void codecStoresIncompressibleDataPlain();
    void codecAllZeroChunkHasNoData();
    void codecDetectsCorruption();
    void plannerCutsRangesIntoChunks();
    void plannerKeepsAlignedChunksInTheirWindows();
    void storeImageSharesChunksAndCatchesDamage();
    void pipelineDeliversInOrderAndStopsAtFirstFailure();
    void imageWrittenAndReadBack();
    void imageRejectsDamageTruncationAndExtension();
    void writerRemovesOnlyDeadPartials();
    void customFileUrls_data();
    void customFileUrls();
    void infoValuesCannotForgeKeys();
    void headerLayoutCannotWrapAround_data();
    void headerLayoutCannotWrapAround();
    void indexPositionCannotWrapAround();
    void customTableWithManyFilesIsCheckedQuickly();
    void readerOpensOnlyRegularFiles();
    void unreadableRangesAreRecordedAndChecked_data();
    void unreadableRangesAreRecordedAndChecked();
    void fuzzedImagesAreRefusedOrSound_data();
    void fuzzedImagesAreRefusedOrSound();
    void crc32cMatchesTheStandard();
    void progressLine_data();
    void progressLine();
    void progressClaimsCompletionOnlyOnFinish();
    void comparerWritesOnlyWhatDiffers_data();
    void comparerWritesOnlyWhatDiffers();
    void deviceViewReadsTheSourceAndFailsDamagedChunks();
};

void TestCloneFormat::headerRoundTrip()
{
    const ImageHeader header = sampleHeader();
    const std::vector<uint8_t> bytes = header.encode();
    QCOMPARE(bytes.size(), ImageHeader::kSize);
    ImageHeader decoded;
    std::string error;
    QVERIFY2(decoded.decode(bytes.data(), bytes.size(), error), error.c_str());
    QCOMPARE(decoded.sourceSize, header.sourceSize);
    QCOMPARE(decoded.creationTime, header.creationTime);
    QCOMPARE(decoded.customSlotOffset[1], header.customSlotOffset[1]);
    QCOMPARE(decoded.fsId, header.fsId);
    QCOMPARE(decoded.sourceDevice, header.sourceDevice);
    QCOMPARE(decoded.checksum(), header.checksum());
}

void TestCloneFormat::headerRejectsAnyDamagedByte()
{
    const std::vector<uint8_t> bytes = sampleHeader().encode();
    // Magic, fields, strings, the zero padding and the checksum itself.
    for (const size_t position : {0, 9, 33, 90, 100, 2000, 4087, 4090}) {
        std::vector<uint8_t> damaged = bytes;
        damaged[position] ^= 0x01;
        ImageHeader decoded;
        std::string error;
        QVERIFY2(!decoded.decode(damaged.data(), damaged.size(), error), std::to_string(position).c_str());
    }
}

void TestCloneFormat::headerRejectsUnknownVersionAndBadLayout()
{
    ImageHeader future = sampleHeader();
    future.formatVersion = 2;
    std::vector<uint8_t> bytes = future.encode();
    ImageHeader decoded;
    std::string error;
    QVERIFY(!decoded.decode(bytes.data(), bytes.size(), error));
    QVERIFY(error.find("version") != std::string::npos);

    ImageHeader overlapping = sampleHeader();
    overlapping.customSlotOffset[1] = overlapping.customSlotOffset[0] + 100;
    bytes = overlapping.encode();
    QVERIFY(!decoded.decode(bytes.data(), bytes.size(), error));

    ImageHeader hugeChunks = sampleHeader();
    hugeChunks.maxChunkBytes = ImageHeader::kMaxChunkLimit + 1;
    bytes = hugeChunks.encode();
    QVERIFY(!decoded.decode(bytes.data(), bytes.size(), error));

    // Version 2 exactly with the store flag and a store path; version 1 never with either.
    struct StoreCase
    {
        uint32_t version;
        bool flag;
        const char* path;
        bool valid;
    };
    const StoreCase cases[] = {{2, true, "../.chunks", true},
                               {2, false, "../.chunks", false},
                               {2, true, "", false},
                               {1, true, "../.chunks", false},
                               {3, true, "../.chunks", false}};
    for (const StoreCase& c : cases) {
        ImageHeader store = sampleHeader();
        store.formatVersion = c.version;
        store.flags |= c.flag ? ImageHeader::kFlagStore : 0;
        store.storePath = c.path;
        bytes = store.encode();
        const std::string label = std::to_string(c.version) + (c.flag ? " flagged " : " ") + c.path;
        QVERIFY2(decoded.decode(bytes.data(), bytes.size(), error) == c.valid, label.c_str());
        QVERIFY2(!c.valid || decoded.storePath == c.path, label.c_str());
    }
}

void TestCloneFormat::trailerRejectsDamage()
{
    ImageTrailer trailer;
    trailer.indexOffset = 123456;
    trailer.indexLength = 789;
    trailer.indexChecksum = 42;
    trailer.headerChecksum = 43;
    trailer.chunkCount = 3;
    const std::vector<uint8_t> bytes = trailer.encode();
    ImageTrailer decoded;
    std::string error;
    QVERIFY(decoded.decode(bytes.data(), bytes.size(), error));
    QCOMPARE(decoded.indexOffset, trailer.indexOffset);
    QCOMPARE(decoded.indexLength, trailer.indexLength);
    QCOMPARE(decoded.chunkCount, trailer.chunkCount);
    for (const size_t position : {0, 16, 40, 100, 127}) {
        std::vector<uint8_t> damaged = bytes;
        damaged[position] ^= 0x80;
        QVERIFY(!decoded.decode(damaged.data(), damaged.size(), error));
    }
}

void TestCloneFormat::indexRoundTrip()
{
    const ImageHeader header = sampleHeader();
    const ChunkIndex index = sampleIndex(header);
    QCOMPARE(index.rawBytes(), uint64_t(12288));
    QCOMPARE(index.zeroBytes(), uint64_t(65536));
    QCOMPARE(index.storedBytes(), uint64_t(8292));
    const std::vector<uint8_t> bytes = index.encode();
    ChunkIndex decoded;
    std::string error;
    QVERIFY2(decoded.attach(bytes.data(), bytes.size(), error), error.c_str());
    QCOMPARE(decoded.chunkCount(), size_t(2));
    QCOMPARE(decoded.extentCount(), size_t(4));
    QCOMPARE(decoded.chunk(1).firstExtent, uint64_t(3));
    QCOMPARE(decoded.chunk(1).storedLength, uint32_t(100));
    QCOMPARE(decoded.chunk(1).compression, ChunkIndex::kStoredZstd);
    QVERIFY(decoded.extent(1).zero);
    QVERIFY(!decoded.extent(2).zero);
    QCOMPARE(decoded.extent(2).offset, uint64_t(69632));
    QVERIFY2(decoded.validate(header, header.dataOffset + 8292, error), error.c_str());
    // Totals of an index read back come from the validation pass.
    QCOMPARE(decoded.rawBytes(), uint64_t(12288));
    QCOMPARE(decoded.zeroBytes(), uint64_t(65536));
    QCOMPARE(decoded.storedBytes(), uint64_t(8292));
}

void TestCloneFormat::indexValidationCatchesInconsistencies_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("data does not end at the index") << 0;
    QTest::newRow("gap between chunks in the file") << 1;
    QTest::newRow("extents overlap across chunks") << 2;
    QTest::newRow("extent beyond the source") << 3;
    QTest::newRow("data extents do not add up") << 4;
    QTest::newRow("plain chunk with a different stored length") << 5;
    QTest::newRow("compressed chunk larger than zstd's bound") << 6;
    QTest::newRow("chunk larger than the header allows") << 7;
    QTest::newRow("source offset not its first extent") << 8;
    QTest::newRow("chunk without extents") << 9;
}

void TestCloneFormat::indexValidationCatchesInconsistencies()
{
    QFETCH(int, fault);
    ImageHeader header = sampleHeader();
    const uint64_t dataEnd = header.dataOffset + 8292;
    ChunkEntry entry;
    entry.fileOffset = header.dataOffset;
    entry.rawLength = 4096;
    entry.storedLength = 4096;
    std::vector<Extent> extents = {{0, 4096, false}};
    ChunkIndex index;
    switch (fault) {
    case 0:
        QVERIFY(!validates(sampleIndex(header), header, dataEnd + 1));
        return;
    case 1:
        entry.fileOffset += 1;
        break;
    case 2: {
        ChunkIndex overlapping = sampleIndex(header);
        ChunkEntry third;
        third.fileOffset = dataEnd;
        third.sourceOffset = 512;
        third.rawLength = third.storedLength = 512;
        overlapping.add(third, {{512, 512, false}});
        QVERIFY(!validates(overlapping, header, dataEnd + 512));
        return;
    }
    case 3:
        extents = {{header.sourceSize - 2048, 4096, false}};
        entry.sourceOffset = header.sourceSize - 2048;
        break;
    case 4:
        entry.rawLength = entry.storedLength = 8192;
        break;
    case 5:
        entry.storedLength = 4000;
        break;
    case 6:
        entry.compression = ChunkIndex::kStoredZstd;
        entry.storedLength = 9000;
        break;
    case 7:
        header.maxChunkBytes = 2048;
        break;
    case 8:
        entry.sourceOffset = 4096;
        break;
    case 9:
        extents.clear();
        break;
    }
    index.add(entry, extents);
    QVERIFY(!validates(index, header, header.dataOffset + entry.storedLength));
}

void TestCloneFormat::indexDecodeRejectsWrongLength()
{
    const std::vector<uint8_t> bytes = sampleIndex(sampleHeader()).encode();
    ChunkIndex decoded;
    std::string error;
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    QVERIFY(!decoded.attach(longer.data(), longer.size(), error));
    QVERIFY(!decoded.attach(bytes.data(), bytes.size() - 1, error));
    // A chunk count that would need more bytes than there are must not be trusted for an allocation.
    std::vector<uint8_t> hugeCount = bytes;
    hugeCount[15] = 0x7f;
    QVERIFY(!decoded.attach(hugeCount.data(), hugeCount.size(), error));
    // An entry claiming a different first extent than the running count.
    std::vector<uint8_t> shifted = bytes;
    shifted[ChunkIndex::kHeadSize + ChunkIndex::kEntrySize + 16] += 1;
    QVERIFY(decoded.attach(shifted.data(), shifted.size(), error));
    QVERIFY(!decoded.validate(sampleHeader(), sampleHeader().dataOffset + 8292, error));
}

void TestCloneFormat::customTableRoundTripAndReplace()
{
    CustomFileTable table;
    table.set("DiskInfo", "[Disk]\nUUID=1234\n");
    table.set("notes.txt", std::string("binary\0data", 11));
    table.set("DiskInfo", "[Disk]\nUUID=5678\n");
    QCOMPARE(table.files().size(), size_t(2));
    const std::vector<uint8_t> bytes = table.encode(7);
    QCOMPARE(bytes.size(), table.encodedSize());
    CustomFileTable decoded;
    uint64_t sequence = 0;
    QVERIFY(decoded.decode(bytes.data(), bytes.size(), sequence));
    QCOMPARE(sequence, uint64_t(7));
    QCOMPARE(decoded.find("DiskInfo")->data, std::string("[Disk]\nUUID=5678\n"));
    QCOMPARE(decoded.find("notes.txt")->data, std::string("binary\0data", 11));
    QVERIFY(!decoded.find("missing"));
}

void TestCloneFormat::customTableRejectsDamageAndBadNames()
{
    CustomFileTable table;
    table.set("DiskInfo", "content");
    const std::vector<uint8_t> bytes = table.encode(1);
    for (size_t position = 0; position < bytes.size(); position += 5) {
        std::vector<uint8_t> damaged = bytes;
        damaged[position] ^= 0x04;
        CustomFileTable decoded;
        uint64_t sequence = 0;
        QVERIFY2(!decoded.decode(damaged.data(), damaged.size(), sequence), std::to_string(position).c_str());
    }
    for (const char* bad : {"", ".", "..", "a/b", "a=b", "with space", "UUID=x"}) {
        QVERIFY2(!CustomFileTable::isValidName(bad), bad);
    }
    QVERIFY(!CustomFileTable::isValidName(std::string(CustomFileTable::kMaxNameLength + 1, 'a')));
    QVERIFY(CustomFileTable::isValidName("DiskInfo"));
    QVERIFY(CustomFileTable::isValidName("disk-info_2.ini"));
}

void TestCloneFormat::customStoreAlternatesSlots()
{
    TempDir temp;
    const std::string path = temp.path("image");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const ImageHeader header = sampleHeader();
    std::string error;
    QVERIFY(CustomFileStore::writeInitial(fd, header, error));
    CustomFileStore store;
    QVERIFY(store.load(fd, header, error));
    QCOMPARE(store.currentSlot(), 0);
    QVERIFY(store.table().files().empty());
    for (int round = 1; round <= 3; ++round) {
        CustomFileTable table = store.table();
        table.set("DiskInfo", "version " + std::to_string(round));
        QVERIFY2(store.save(fd, header, table, error), error.c_str());
        CustomFileStore reloaded;
        QVERIFY(reloaded.load(fd, header, error));
        QCOMPARE(reloaded.currentSlot(), round % 2);
        QCOMPARE(reloaded.sequence(), uint64_t(round + 1));
        QCOMPARE(reloaded.table().find("DiskInfo")->data, "version " + std::to_string(round));
    }
    ::close(fd);
}

void TestCloneFormat::customStoreSurvivesTornWrite()
{
    TempDir temp;
    const std::string path = temp.path("image");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const ImageHeader header = sampleHeader();
    std::string error;
    CustomFileStore store;
    QVERIFY(CustomFileStore::writeInitial(fd, header, error) && store.load(fd, header, error));
    CustomFileTable table;
    table.set("DiskInfo", "complete version");
    QVERIFY(store.save(fd, header, table, error));
    const int inactive = 1 - store.currentSlot();

    // A newer version of which only the first half reached the disk.
    table.set("DiskInfo", std::string(4000, 'n'));
    const std::vector<uint8_t> newer = table.encode(store.sequence() + 1);
    QVERIFY(FileIo::writeAt(fd, newer.data(), newer.size() / 2, header.customSlotOffset[inactive]));
    CustomFileStore reloaded;
    QVERIFY(reloaded.load(fd, header, error));
    QCOMPARE(reloaded.table().find("DiskInfo")->data, std::string("complete version"));

    // The next write goes to the torn slot again and wins.
    CustomFileTable next = reloaded.table();
    next.set("DiskInfo", "after the crash");
    QVERIFY(reloaded.save(fd, header, next, error));
    CustomFileStore final;
    QVERIFY(final.load(fd, header, error));
    QCOMPARE(final.table().find("DiskInfo")->data, std::string("after the crash"));

    // With both slots damaged there is nothing to trust.
    const uint8_t garbage[64] = {1, 2, 3};
    QVERIFY(FileIo::writeAt(fd, garbage, sizeof garbage, header.customSlotOffset[0]));
    QVERIFY(FileIo::writeAt(fd, garbage, sizeof garbage, header.customSlotOffset[1]));
    QVERIFY(!final.load(fd, header, error));
    ::close(fd);
}

void TestCloneFormat::customStoreRefusesOversizedTable()
{
    TempDir temp;
    const std::string path = temp.path("image");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const ImageHeader header = sampleHeader();
    std::string error;
    CustomFileStore store;
    QVERIFY(CustomFileStore::writeInitial(fd, header, error) && store.load(fd, header, error));
    CustomFileTable table;
    table.set("DiskInfo", std::string(header.customSlotSize, 'x'));
    QVERIFY(!store.save(fd, header, table, error));
    QVERIFY(error.find("too large") != std::string::npos);
    CustomFileStore reloaded;
    QVERIFY(reloaded.load(fd, header, error));
    QCOMPARE(reloaded.currentSlot(), 0);
    ::close(fd);
}

void TestCloneFormat::codecRoundTripSplitsZeroRuns()
{
    // text | 128 KiB zeros (kept apart) | text | 8 KiB zeros (too short, stays data) | random
    std::vector<uint8_t> source = textBytes(64 * 1024);
    source.resize(source.size() + 128 * 1024, 0);
    const std::vector<uint8_t> text = textBytes(32 * 1024);
    source.insert(source.end(), text.begin(), text.end());
    source.resize(source.size() + 8 * 1024, 0);
    const std::vector<uint8_t> noise = randomBytes(64 * 1024, 1);
    source.insert(source.end(), noise.begin(), noise.end());

    ChunkCodec codec(1, 4096, 65536);
    const uint64_t base = 1ull << 30;
    ChunkWork work = packed(codec, source, base);
    QVERIFY(!work.failed);
    QCOMPARE(work.extents.size(), size_t(3));
    QCOMPARE(work.extents[0].offset, base);
    QCOMPARE(work.extents[0].length, uint64_t(64 * 1024));
    QVERIFY(work.extents[1].zero);
    QCOMPARE(work.extents[1].offset, base + 64 * 1024);
    QCOMPARE(work.extents[1].length, uint64_t(128 * 1024));
    QVERIFY(!work.extents[2].zero);
    QCOMPARE(work.extents[2].end(), base + source.size());
    QCOMPARE(work.entry.sourceOffset, base);
    QCOMPARE(work.entry.rawLength, uint32_t(source.size() - 128 * 1024));
    QCOMPARE(work.entry.compression, ChunkIndex::kStoredZstd);
    QVERIFY(work.entry.storedLength < work.entry.rawLength);
    QCOMPARE(work.entry.storedChecksum, Checksum::of(work.stored.data(), work.entry.storedLength));

    // What the data extents describe, concatenated, is what the raw checksum covers.
    std::vector<uint8_t> expected(source.begin(), source.begin() + 64 * 1024);
    expected.insert(expected.end(), source.begin() + 192 * 1024, source.end());
    QCOMPARE(work.entry.rawChecksum, Checksum::of(expected.data(), expected.size()));

    ChunkWork restored;
    restored.raw.reserve(kChunk);
    restored.entry = work.entry;
    restored.stored.reserve(work.entry.storedLength);
    std::copy(work.stored.data(), work.stored.data() + work.entry.storedLength, restored.stored.data());
    QVERIFY(codec.unpack(restored));
    QVERIFY(std::equal(expected.begin(), expected.end(), restored.raw.data()));
}

void TestCloneFormat::codecStoresIncompressibleDataPlain()
{
    ChunkCodec codec(1, 4096, 65536);
    const std::vector<uint8_t> noise = randomBytes(256 * 1024, 2);
    ChunkWork work = packed(codec, noise, 0);
    QCOMPARE(work.entry.compression, ChunkIndex::kStoredPlain);
    QCOMPARE(work.entry.storedLength, uint32_t(noise.size()));
    QCOMPARE(work.entry.storedChecksum, work.entry.rawChecksum);
    QCOMPARE(work.entry.rawChecksum, Checksum::of(noise.data(), noise.size()));
    QVERIFY(std::equal(noise.begin(), noise.end(), work.storedBytes()));
    QVERIFY(codec.unpack(work));
}

void TestCloneFormat::codecAllZeroChunkHasNoData()
{
    ChunkCodec codec(1, 4096, 65536);
    ChunkWork work = packed(codec, std::vector<uint8_t>(512 * 1024, 0), 4096);
    QCOMPARE(work.entry.rawLength, uint32_t(0));
    QCOMPARE(work.entry.storedLength, uint32_t(0));
    QCOMPARE(work.extents.size(), size_t(1));
    QVERIFY(work.extents[0].zero);
    QCOMPARE(work.extents[0].length, uint64_t(512 * 1024));
}

void TestCloneFormat::codecDetectsCorruption()
{
    ChunkCodec codec(1, 4096, 65536);
    const std::vector<uint8_t> source = textBytes(256 * 1024);
    const ChunkWork good = packed(codec, source, 0);
    auto copyOf = [&](const ChunkWork& from) {
        ChunkWork work;
        work.raw.reserve(kChunk);
        work.entry = from.entry;
        work.stored.reserve(from.entry.storedLength);
        std::copy(from.stored.data(), from.stored.data() + from.entry.storedLength, work.stored.data());
        return work;
    };
    ChunkWork flipped = copyOf(good);
    flipped.stored.data()[flipped.entry.storedLength / 2] ^= 0x10;
    QVERIFY(!codec.unpack(flipped));
    QVERIFY(flipped.failed);

    ChunkWork wrongSum = copyOf(good);
    wrongSum.entry.rawChecksum ^= 1;
    QVERIFY(!codec.unpack(wrongSum));
    QVERIFY(wrongSum.error.find("checksum") != std::string::npos);

    ChunkWork wrongLength = copyOf(good);
    wrongLength.entry.rawLength -= 1;
    QVERIFY(!codec.unpack(wrongLength));
}

void TestCloneFormat::plannerCutsRangesIntoChunks()
{
    const std::vector<Extent> ranges = {{0, 4096, false}, {8192, 3 * kChunk, false}, {10 * kChunk, 100, false}};
    ChunkPlanner planner(ranges, kChunk);
    std::vector<Extent> extents;
    std::vector<std::vector<Extent>> chunks;
    while (planner.next(extents)) {
        chunks.push_back(extents);
    }
    QCOMPARE(chunks.size(), size_t(4));
    uint64_t total = 0;
    uint64_t previousEnd = 0;
    for (const std::vector<Extent>& chunk : chunks) {
        uint64_t size = 0;
        for (const Extent& extent : chunk) {
            QVERIFY(extent.offset >= previousEnd);
            previousEnd = extent.end();
            size += extent.length;
        }
        QVERIFY(size <= kChunk);
        total += size;
    }
    QCOMPARE(total, uint64_t(4096 + 3 * kChunk + 100));
    QCOMPARE(chunks[0].size(), size_t(2));
    QCOMPARE(chunks[0][1].length, uint64_t(kChunk - 4096));
    QCOMPARE(chunks[3].back().offset, uint64_t(10 * kChunk));
}

void TestCloneFormat::plannerKeepsAlignedChunksInTheirWindows()
{
    const uint64_t window = 128 << 10;
    // A range crossing several windows, one inside a window, one ending exactly at a window's end.
    const std::vector<Extent> ranges = {
        {1000, 3 * window, false}, {5 * window + 10, 100, false}, {6 * window - 4096, 4096, false}};
    ChunkPlanner planner(ranges, window, true);
    std::vector<Extent> extents;
    uint64_t total = 0;
    size_t chunks = 0;
    while (planner.next(extents)) {
        const uint64_t first = extents.front().offset / window;
        QVERIFY2((extents.back().end() - 1) / window == first, qPrintable(QString("chunk %1").arg(chunks)));
        for (const Extent& extent : extents) {
            total += extent.length;
        }
        ++chunks;
    }
    QCOMPARE(total, uint64_t(3 * window + 100 + 4096));
    // Windows 0..3 for the first range, then 5 holding both later ranges.
    QCOMPARE(chunks, size_t(5));
}

void TestCloneFormat::storeImageSharesChunksAndCatchesDamage()
{
    TempDir temp;
    std::string error;
    const std::vector<std::vector<uint8_t>> chunks = {textBytes(70000), randomBytes(30000, 3),
                                                      std::vector<uint8_t>(100000, 0)};
    QVERIFY2(writeImage(temp.path("a.rbk"), chunks, error, {}, ".chunks"), error.c_str());
    auto countChunks = [&] {
        int count = 0;
        QDirIterator it(QString::fromStdString(temp.path(".chunks")), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            count += it.next().section('/', -1).size() == 64 ? 1 : 0;
        }
        return count;
    };
    QCOMPARE(countChunks(), 2); // two chunks with data, no file for the all-zero one
    QVERIFY2(writeImage(temp.path("b.rbk"), chunks, error, {}, ".chunks"), error.c_str());
    QCOMPARE(countChunks(), 2);

    auto verifies = [&](const char* name) {
        ImageReader image;
        image.useStore(std::string(), false);
        ProgressReporter progress([](const std::string&) {}, [] { return 0.0; });
        std::string why;
        return image.open(temp.path(name), false, why) && image.isStoreImage() &&
               ImageVerifier::verify(image, progress, why);
    };
    QVERIFY(verifies("a.rbk"));
    ImageReader image;
    QVERIFY2(image.open(temp.path("a.rbk"), false, error), error.c_str());
    const std::string chunkPath = temp.path(".chunks") + "/" + ChunkStore::relativeName(image.index().key(1));
    // Every part of a chunk file: its header, its key, the stored bytes.
    for (const uint64_t offset : {0, 20, 60, 80, 5000}) {
        QVERIFY(flipByte(chunkPath, offset));
        QVERIFY2(!verifies("b.rbk"), qPrintable(QString("byte %1 of a chunk file damaged").arg(offset)));
        QVERIFY(flipByte(chunkPath, offset));
    }
    QVERIFY(verifies("b.rbk"));
    QVERIFY(::truncate(chunkPath.c_str(), 1000) == 0);
    QVERIFY(!verifies("b.rbk"));
    QVERIFY(::unlink(chunkPath.c_str()) == 0);
    QVERIFY(!verifies("b.rbk"));
}

void TestCloneFormat::pipelineDeliversInOrderAndStopsAtFirstFailure()
{
    ChunkPipeline::Settings settings;
    settings.workers = 3;
    settings.rawCapacity = 64 * 1024;
    for (const int failAt : {-1, 25}) {
        ChunkPipeline pipeline(settings);
        uint64_t produced = 0;
        std::vector<uint64_t> consumed;
        auto produce = [&](ChunkWork& work) {
            if (produced == 60) {
                return ChunkPipeline::Produced::End;
            }
            const std::vector<uint8_t> bytes = textBytes(4096 * (1 + produced % 5));
            std::copy(bytes.begin(), bytes.end(), work.raw.data());
            work.extents = {{produced << 20, bytes.size(), false}};
            if (static_cast<int>(produced) == failAt) {
                work.fail("read error at chunk " + std::to_string(produced));
            }
            ++produced;
            return ChunkPipeline::Produced::Chunk;
        };
        auto transform = [](ChunkCodec& codec, ChunkWork& work) { codec.pack(work); };
        auto consume = [&](ChunkWork& work, std::string&) {
            consumed.push_back(work.entry.sourceOffset >> 20);
            return true;
        };
        std::string error;
        const bool ok = pipeline.run(produce, transform, consume, error);
        QCOMPARE(ok, failAt < 0);
        const size_t expected = failAt < 0 ? 60 : size_t(failAt);
        QCOMPARE(consumed.size(), expected);
        for (size_t i = 0; i < consumed.size(); ++i) {
            QCOMPARE(consumed[i], uint64_t(i));
        }
        if (failAt >= 0) {
            QCOMPARE(error, std::string("read error at chunk 25"));
        }
    }
}

void TestCloneFormat::imageWrittenAndReadBack()
{
    TempDir temp;
    const std::string path = temp.path("system.rbk");
    std::string error;
    QVERIFY2(writeImage(path, {textBytes(300000), randomBytes(70000, 3), std::vector<uint8_t>(kChunk, 0)}, error),
             error.c_str());
    ImageReader reader;
    QVERIFY2(reader.open(path, false, error), error.c_str());
    QCOMPARE(reader.index().chunkCount(), size_t(3));
    QCOMPARE(reader.index().rawBytes(), uint64_t(370000));
    QCOMPARE(reader.header().fsId, sampleHeader().fsId);
    QVERIFY(reader.customFiles().table().files().empty());
    QCOMPARE(reader.trailer().indexOffset + reader.trailer().indexLength + ImageTrailer::kSize, reader.fileSize());
    QCOMPARE(QDir(temp.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"system.rbk"});
}

void TestCloneFormat::imageRejectsDamageTruncationAndExtension()
{
    TempDir temp;
    const std::string path = temp.path("system.rbk");
    std::string error;
    QVERIFY(writeImage(path, {textBytes(200000), textBytes(100000)}, error));
    ImageReader reader;
    QVERIFY(reader.open(path, false, error));
    const uint64_t indexOffset = reader.trailer().indexOffset;
    const uint64_t size = reader.fileSize();
    const std::string copy = temp.path("copy.rbk");
    auto fresh = [&] {
        QFile::remove(QString::fromStdString(copy));
        return QFile::copy(QString::fromStdString(path), QString::fromStdString(copy));
    };

    QVERIFY(fresh() && flipByte(copy, 100));
    QVERIFY2(!opens(copy), "header byte");
    QVERIFY(fresh() && flipByte(copy, indexOffset + 30));
    QVERIFY2(!opens(copy), "index byte");
    QVERIFY(fresh() && flipByte(copy, size - 50));
    QVERIFY2(!opens(copy), "trailer byte");
    QVERIFY(fresh() && ::truncate(copy.c_str(), static_cast<off_t>(size - 1)) == 0);
    QVERIFY2(!opens(copy), "one byte short");
    QVERIFY(fresh() && ::truncate(copy.c_str(), static_cast<off_t>(size / 2)) == 0);
    QVERIFY2(!opens(copy), "cut in half");
    QVERIFY(fresh() && ::truncate(copy.c_str(), static_cast<off_t>(size + 4096)) == 0);
    QVERIFY2(!opens(copy), "zeros appended");
    // Chunk data is not read when opening: its damage is the restore's pre-pass to find.
    QVERIFY(fresh() && flipByte(copy, sampleHeader().dataOffset + 10));
    QVERIFY(opens(copy));
}

void TestCloneFormat::writerRemovesOnlyDeadPartials()
{
    TempDir temp;
    const std::string path = temp.path("system.rbk");
    const std::string dead = temp.path(".system.rbk.partial-dead00");
    const std::string alive = temp.path(".system.rbk.partial-alive0");
    const std::string other = temp.path(".other.rbk.partial-dead00");
    for (const std::string& name : {dead, alive, other}) {
        QFile file(QString::fromStdString(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // A backup still writing holds its lock; one that was killed does not.
    const int lockFd = ::open(alive.c_str(), O_RDONLY);
    QVERIFY(::flock(lockFd, LOCK_EX) == 0);
    std::string error;
    QVERIFY(writeImage(path, {textBytes(10000)}, error));
    ::close(lockFd);
    QVERIFY(!QFile::exists(QString::fromStdString(dead)));
    QVERIFY(QFile::exists(QString::fromStdString(alive)));
    QVERIFY(QFile::exists(QString::fromStdString(other)));
    QVERIFY(opens(path));
}

void TestCloneFormat::customFileUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("name");
    QTest::newRow("product form") << "rbk:///media/root/backup/system.rbk/DiskInfo" << true
                                  << "/media/root/backup/system.rbk"
                                  << "DiskInfo";
    QTest::newRow("image in root") << "rbk:///s.rbk/n" << true << "/s.rbk"
                                   << "n";
    QTest::newRow("relative image") << "rbk://media/s.rbk/DiskInfo" << false << ""
                                    << "";
    QTest::newRow("no name") << "rbk:///media/s.rbk/" << false << ""
                             << "";
    QTest::newRow("no image") << "rbk:///DiskInfo" << false << ""
                              << "";
    QTest::newRow("other scheme") << "file:///media/s.rbk/DiskInfo" << false << ""
                                  << "";
    QTest::newRow("bad name") << "rbk:///media/s.rbk/a=b" << false << ""
                              << "";
}

void TestCloneFormat::customFileUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, valid);
    QFETCH(QString, image);
    QFETCH(QString, name);
    std::string parsedImage;
    std::string parsedName;
    QCOMPARE(CustomFileCommand::parseUrl(url.toStdString(), parsedImage, parsedName), valid);
    if (valid) {
        QCOMPARE(QString::fromStdString(parsedImage), image);
        QCOMPARE(QString::fromStdString(parsedName), name);
    }
}

void TestCloneFormat::infoValuesCannotForgeKeys()
{
    QCOMPARE(InfoCommand::escapeValue("plain-label_1"), std::string("plain-label_1"));
    const std::string escaped = InfoCommand::escapeValue("x\nUUID=1 DiskDrive=/dev/sda 100%");
    QVERIFY(escaped.find('=') == std::string::npos);
    QVERIFY(escaped.find('\n') == std::string::npos);
    QCOMPARE(escaped, std::string("x%0AUUID%3D1%20DiskDrive%3D/dev/sda%20100%25"));
    QCOMPARE(InfoCommand::escapeValue("invalid file"), std::string("invalid%20file"));
}

void TestCloneFormat::headerLayoutCannotWrapAround_data()
{
    QTest::addColumn<quint64>("slot0");
    QTest::addColumn<quint64>("slot1");
    QTest::addColumn<quint64>("slotSize");
    QTest::addColumn<quint64>("dataOffset");
    const quint64 top = std::numeric_limits<quint64>::max();
    QTest::newRow("slot 1 ends past 2^64")
        << quint64(64 << 10) << top - (100 << 10) << quint64(480 << 10) << quint64(1 << 20);
    QTest::newRow("slot 0 ends past 2^64")
        << top - 4095 << quint64(544 << 10) << quint64(480 << 10) << quint64(1 << 20);
    QTest::newRow("both slots wrap") << top - (200 << 10) << top - (100 << 10) << quint64(480 << 10)
                                     << quint64(1 << 20);
}

void TestCloneFormat::headerLayoutCannotWrapAround()
{
    QFETCH(quint64, slot0);
    QFETCH(quint64, slot1);
    QFETCH(quint64, slotSize);
    QFETCH(quint64, dataOffset);
    ImageHeader header = sampleHeader();
    header.customSlotOffset[0] = slot0;
    header.customSlotOffset[1] = slot1;
    header.customSlotSize = slotSize;
    header.dataOffset = dataOffset;
    const std::vector<uint8_t> bytes = header.encode();
    ImageHeader decoded;
    std::string error;
    QVERIFY(!decoded.decode(bytes.data(), bytes.size(), error));
    QCOMPARE(QString::fromStdString(error), QString("bad region layout"));
}

void TestCloneFormat::indexPositionCannotWrapAround()
{
    TempDir temp;
    const std::string path = temp.path("system.rbk");
    std::string error;
    QVERIFY(writeImage(path, {textBytes(100000)}, error));
    ImageReader good;
    QVERIFY(good.open(path, false, error));
    // Offset + length + trailer wrap past 2^64 to exactly the file size, with a length just under the index limit.
    ImageTrailer trailer = good.trailer();
    trailer.indexLength = (1ull << 30) - 4096;
    trailer.indexOffset = good.fileSize() - ImageTrailer::kSize - trailer.indexLength;
    QVERIFY(writeTrailer(path, trailer));
    bool opened = true;
    const long growth = PeakMemory::growthKiB([&] {
        ImageReader reader;
        opened = reader.open(path, false, error);
    });
    QVERIFY(!opened);
    QVERIFY2(error.find("index position") != std::string::npos, error.c_str());
    QVERIFY2(growth >= 0 && growth < 64 * 1024, qPrintable(QString::number(growth) + " KiB"));
}

void TestCloneFormat::customTableWithManyFilesIsCheckedQuickly()
{
    // As many files as a default slot holds: short distinct names and no data.
    CustomFileTable table;
    for (int i = 0; table.encodedSize() + 16 < 480 * 1024; ++i) {
        table.set("f" + std::to_string(i), {});
    }
    QVERIFY(table.files().size() > 40000);
    const std::vector<uint8_t> bytes = table.encode(3);
    QElapsedTimer timer;
    timer.start();
    CustomFileTable decoded;
    uint64_t sequence = 0;
    QVERIFY(decoded.decode(bytes.data(), bytes.size(), sequence));
    qInfo() << table.files().size() << "files checked in" << timer.elapsed() << "ms";
    QVERIFY2(timer.elapsed() < 1000, "linear or n log n, not quadratic");
    QCOMPARE(decoded.files().size(), table.files().size());

    // A duplicate name far from its twin is still refused: the last name becomes the first one.
    CustomFileTable twice;
    twice.set("DiskInfo", "a");
    for (int i = 0; i < 1000; ++i) {
        twice.set("g" + std::to_string(i), {});
    }
    twice.set("DiskInfp", {});
    std::vector<uint8_t> duplicated = twice.encode(1);
    QVERIFY(decoded.decode(duplicated.data(), duplicated.size(), sequence));
    duplicated.back() = 'o';
    std::fill(duplicated.begin() + 24, duplicated.begin() + 32, 0);
    const uint64_t sum = Checksum::of(duplicated.data(), duplicated.size());
    for (int i = 0; i < 8; ++i) {
        duplicated[24 + size_t(i)] = uint8_t(sum >> (8 * i));
    }
    QVERIFY(!decoded.decode(duplicated.data(), duplicated.size(), sequence));
}

void TestCloneFormat::readerOpensOnlyRegularFiles()
{
    TempDir temp;
    const std::string fifo = temp.path("image.rbk");
    QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
    auto opening = std::async(std::launch::async, [&] {
        ImageReader reader;
        std::string error;
        return reader.open(fifo, false, error);
    });
    const bool answered = opening.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!answered) {
        // Let the blocked open go before failing.
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ::close(writer);
    }
    QVERIFY2(answered, "opening a FIFO must not wait for a writer");
    QVERIFY(!opening.get());
    QVERIFY(!opens(temp.dir.path().toStdString()));
    QVERIFY(!opens("/dev/null"));
}

void TestCloneFormat::unreadableRangesAreRecordedAndChecked_data()
{
    QTest::addColumn<QList<quint64>>("ranges"); // offset, length, offset, length...
    QTest::addColumn<bool>("valid");
    const quint64 source = sampleHeader().sourceSize;
    QTest::newRow("none") << QList<quint64>{} << true;
    QTest::newRow("one") << QList<quint64>{4096, 4096} << true;
    QTest::newRow("ordered, touching") << QList<quint64>{0, 512, 512, 4096, 1 << 20, 8192} << true;
    QTest::newRow("at the very end") << QList<quint64>{source - 512, 512} << true;
    QTest::newRow("overlapping") << QList<quint64>{0, 8192, 4096, 8192} << false;
    QTest::newRow("out of order") << QList<quint64>{1 << 20, 512, 0, 512} << false;
    QTest::newRow("empty range") << QList<quint64>{4096, 0} << false;
    QTest::newRow("past the source") << QList<quint64>{source - 512, 1024} << false;
    QTest::newRow("wrapping around") << QList<quint64>{~0ull - 100, 4096} << false;
}

void TestCloneFormat::unreadableRangesAreRecordedAndChecked()
{
    QFETCH(QList<quint64>, ranges);
    QFETCH(bool, valid);
    std::vector<Extent> list;
    for (int i = 0; i + 1 < ranges.size(); i += 2) {
        list.push_back({ranges[i], ranges[i + 1], false});
    }
    TempDir temp;
    const std::string path = temp.path("rescued.rbk");
    std::string error;
    QVERIFY2(writeImage(path, {textBytes(5000)}, error, list), error.c_str());
    ImageReader reader;
    QCOMPARE(reader.open(path, false, error), valid);
    if (!valid) {
        QVERIFY2(error.find("unreadable range") != std::string::npos, error.c_str());
        return;
    }
    QCOMPARE(reader.index().unreadable().size(), list.size());
    uint64_t bytes = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        QCOMPARE(reader.index().unreadable()[i].offset, list[i].offset);
        QCOMPARE(reader.index().unreadable()[i].length, list[i].length);
        bytes += list[i].length;
    }
    QCOMPARE(reader.index().unreadableBytes(), bytes);
    QCOMPARE((reader.header().flags & ImageHeader::kFlagUnreadable) != 0, !list.empty());
}

void TestCloneFormat::fuzzedImagesAreRefusedOrSound_data()
{
    QTest::addColumn<bool>("store");
    QTest::newRow("self-contained") << false;
    QTest::newRow("store image") << true;
}

void TestCloneFormat::fuzzedImagesAreRefusedOrSound()
{
    QFETCH(bool, store);
    TempDir temp;
    ImageFuzzer fuzzer;
    std::string error;
    QVERIFY2(fuzzer.setUp(temp.path("fuzzed.rbk"), store, error), error.c_str());
    const int rounds = qEnvironmentVariableIntValue("MARLIN_FUZZ_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("MARLIN_FUZZ_ROUNDS")
                           : 3000;
    std::mt19937_64 random(20261207);
    int refused = 0;
    int accepted = 0;
    QElapsedTimer timer;
    timer.start();
    qint64 slowest = 0;
    const long growth = PeakMemory::growthKiB([&] {
        for (int round = 0; round < rounds; ++round) {
            bool damaged = false;
            QString what;
            const std::vector<uint8_t> bytes = fuzzer.mutate(random, damaged, what);
            const qint64 started = timer.elapsed();
            const ImageFuzzer::Verdict verdict = fuzzer.judge(bytes);
            slowest = std::max(slowest, timer.elapsed() - started);
            const QString where = QString("round %1: %2").arg(round).arg(what);
            QVERIFY2(verdict != ImageFuzzer::Verdict::WriteFails, qPrintable("write before refusal, " + where));
            QVERIFY2(!damaged || verdict == ImageFuzzer::Verdict::Refused, qPrintable("damage accepted, " + where));
            (verdict == ImageFuzzer::Verdict::Refused ? refused : accepted) += 1;
        }
    });
    if (QTest::currentTestFailed()) {
        return;
    }
    qInfo() << rounds << "mutated images:" << refused << "refused," << accepted << "accepted in" << timer.elapsed()
            << "ms, slowest" << slowest << "ms, peak memory +" << growth << "KiB";
    QVERIFY2(refused > rounds / 2, "most mutations break the image");
    QVERIFY2(slowest < 2000, "no image takes long to judge");
    QVERIFY2(growth >= 0 && growth < 256 * 1024, "no large allocation");
}

void TestCloneFormat::crc32cMatchesTheStandard()
{
    // The check value of CRC-32C; the metadata checksums of xfs and btrfs depend on it.
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(Crc32c::of(digits, sizeof digits), 0xE3069283u);
    // A checksum field inside the block counts as zeros.
    uint8_t block[16] = {1, 2, 3, 4, 0xAA, 0xBB, 0xCC, 0xDD, 5, 6, 7, 8, 9, 10, 11, 12};
    uint8_t zeroed[16];
    std::copy(block, block + 16, zeroed);
    std::fill(zeroed + 4, zeroed + 8, 0);
    QCOMPARE(Crc32c::of(block, sizeof block, 4), Crc32c::of(zeroed, sizeof zeroed));
    QVERIFY(Crc32c::of(block, sizeof block) != Crc32c::of(zeroed, sizeof zeroed));
}

void TestCloneFormat::progressLine_data()
{
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("percent");
    QTest::addColumn<QString>("expected");
    const quint64 mib = 1 << 20;
    QTest::newRow("nothing done yet") << quint64(0) << 3482 * mib << 0.0 << 0.0
                                      << "0 B of 3.4 GiB, -/s, -:-- left, 0.00%\n";
    QTest::newRow("a third") << 1229 * mib << 3482 * mib << 3.0 << 35.29
                             << "1.2 GiB of 3.4 GiB, 409 MiB/s, 0:05 left, 35.29%\n";
    QTest::newRow("hours left") << 10 * mib << 100000 * mib << 10.0 << 0.01
                                << "10 MiB of 97 GiB, 1.0 MiB/s, 27:46:30 left, 0.01%\n";
    QTest::newRow("all done, not yet synced")
        << 5000ull << 5000ull << 2.0 << 99.99 << "4.8 KiB of 4.8 KiB, 2.4 KiB/s, 0:00 left, 99.99%\n";
}

void TestCloneFormat::progressLine()
{
    QFETCH(quint64, done);
    QFETCH(quint64, total);
    QFETCH(double, seconds);
    QFETCH(double, percent);
    QFETCH(QString, expected);
    const std::string line = ProgressReporter::line(done, total, seconds, percent);
    QCOMPARE(QString::fromStdString(line), expected);
    // What the service reads: the last space-separated word is the percentage.
    QCOMPARE(QString::fromStdString(line).split(' ').constLast(), QString("%1%\n").arg(percent, 0, 'f', 2));
}

void TestCloneFormat::progressClaimsCompletionOnlyOnFinish()
{
    QStringList lines;
    double now = 100;
    ProgressReporter progress([&](const std::string& text) { lines << QString::fromStdString(text); },
                              [&] { return now; });
    progress.start(1000);
    now += 1;
    progress.advance(333);
    progress.tick();
    now += 1;
    progress.advance(666);
    progress.tick();
    // Everything is handed over but not yet synced: the bar must stay below completion however the units add up.
    progress.advance(1);
    now += 1;
    progress.tick();
    progress.advance(50);
    progress.tick();
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.filter("100.00%").size(), 0);
    QVERIFY2(lines[1].endsWith(", 33.30%\n"), qPrintable(lines[1]));
    QVERIFY2(lines[2].endsWith(", 99.90%\n"), qPrintable(lines[2]));
    QVERIFY2(lines[3].endsWith(", 99.99%\n"), qPrintable(lines[3]));
    QVERIFY2(lines[4].endsWith(", 99.99%\n"), qPrintable(lines[4]));
    progress.finish();
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[5].endsWith(", 100.00%\n"), qPrintable(lines[5]));
}

void TestCloneFormat::comparerWritesOnlyWhatDiffers_data()
{
    QTest::addColumn<QList<qint64>>("changed");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("writes");
    QTest::newRow("target holds the chunk: nothing") << QList<qint64>{} << true << "";
    QTest::newRow("a data byte: its 4 KiB piece") << QList<qint64>{100000} << true << "98304+4096";
    QTest::newRow("bytes in neighbouring pieces: one write") << QList<qint64>{140000, 144000} << true << "139264+8192";
    QTest::newRow("a byte where zeros belong: its piece zeroed") << QList<qint64>{600000} << true << "598016+4096z";
    QTest::newRow("a byte outside the chunk: nothing") << QList<qint64>{400000} << true << "";
    QTest::newRow("target cannot be read: everything") << QList<qint64>{} << false << "65536+262144 524288+131072z";
}

void TestCloneFormat::comparerWritesOnlyWhatDiffers()
{
    QFETCH(QList<qint64>, changed);
    QFETCH(bool, readable);
    QFETCH(QString, writes);
    // A chunk of data from 64 KiB to 320 KiB and zeros from 512 KiB to 640 KiB, over a target that holds exactly that
    // but for the changed bytes.
    std::vector<uint8_t> target(1 << 20, 0);
    std::mt19937 random(7);
    std::generate(target.begin() + 65536, target.begin() + 327680, [&] { return uint8_t(random() | 1); });
    ChunkWork work;
    work.extents = {{65536, 262144, false}, {524288, 131072, true}};
    work.entry.rawLength = 262144;
    QVERIFY(work.raw.reserve(work.entry.rawLength));
    std::memcpy(work.raw.data(), target.data() + 65536, work.entry.rawLength);
    for (qint64 at : changed) {
        target[at] ^= 0xff;
    }
    TempDir dir;
    const std::string path = dir.path("target");
    {
        UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT, 0600));
        QVERIFY(FileIo::writeAt(out.get(), target.data(), target.size(), 0));
    }
    // Opened for writing only, every read fails.
    UniqueFd fd(::open(path.c_str(), readable ? O_RDONLY : O_WRONLY));
    TargetComparer comparer(fd.get(), -1);
    comparer.plan(work);

    QStringList actual;
    uint64_t written = 0;
    for (const TargetRange& range : work.writes) {
        actual << QString("%1+%2%3").arg(range.offset).arg(range.length).arg(range.zero ? "z" : "");
        QVERIFY(range.zero || range.position == range.offset - 65536);
        written += range.length;
    }
    QCOMPARE(actual.join(' '), writes);
    QCOMPARE(work.inPlace + written, uint64_t(262144 + 131072));
}

void TestCloneFormat::deviceViewReadsTheSourceAndFailsDamagedChunks()
{
    // Three chunks: text, random data around a zero run the codec leaves out, random; the rest of the 64 MiB source
    // is covered by no chunk. A cache of one chunk makes every chunk change evict.
    std::vector<uint8_t> middle = randomBytes(400000, 5);
    std::fill(middle.begin() + 100000, middle.begin() + 300000, 0);
    const std::vector<std::vector<uint8_t>> chunks = {textBytes(300000), middle, randomBytes(70000, 6)};
    std::vector<uint8_t> source(sampleHeader().sourceSize, 0);
    uint64_t end = 0;
    for (const std::vector<uint8_t>& chunk : chunks) {
        std::copy(chunk.begin(), chunk.end(), source.begin() + static_cast<long>(end));
        end += chunk.size();
    }
    // offset, length: chunk starts and boundaries, the zero run, the uncovered rest, the device's end.
    const std::vector<std::pair<uint64_t, size_t>> reads = {{0, 4096},
                                                            {299000, 2000},
                                                            {350000, 250000},
                                                            {690000, 200000},
                                                            {1 << 20, 131072},
                                                            {0, 1200000},
                                                            {source.size() - 100, 4096},
                                                            {source.size(), 4096}};
    for (const char* store : {"", ".chunks"}) {
        TempDir temp;
        const std::string path = temp.path("system.rbk");
        std::string error;
        QVERIFY2(writeImage(path, chunks, error, {}, store), error.c_str());
        ImageReader reader;
        reader.useStore(std::string(), false);
        QVERIFY2(reader.open(path, false, error), error.c_str());
        ImageDeviceView view(reader, 1);
        QCOMPARE(view.size(), uint64_t(source.size()));
        for (const auto& [offset, length] : reads) {
            std::vector<uint8_t> buffer(length, 0xAA);
            const uint64_t expected = std::min<uint64_t>(length, source.size() - offset);
            QCOMPARE(view.read(buffer.data(), length, offset), static_cast<long>(expected));
            QVERIFY(std::equal(buffer.begin(), buffer.begin() + static_cast<long>(expected),
                               source.begin() + static_cast<long>(offset)));
        }
        // One byte of the middle chunk's stored data damaged: only reads that need that chunk fail.
        const ChunkEntry damaged = reader.index().chunk(1);
        const std::string damagedFile =
            *store ? temp.path(".chunks/") + ChunkStore::relativeName(reader.index().key(1)) : path;
        QVERIFY(flipByte(damagedFile, (*store ? StoreChunkHeader::kSize : damaged.fileOffset) + 1000));
        ImageDeviceView fresh(reader, 1);
        std::vector<uint8_t> buffer(4096);
        QCOMPARE(fresh.read(buffer.data(), buffer.size(), 300000), -long(EIO));
        QCOMPARE(fresh.read(buffer.data(), buffer.size(), 296000), -long(EIO));
        QCOMPARE(fresh.read(buffer.data(), buffer.size(), 0), long(buffer.size()));
        QCOMPARE(fresh.read(buffer.data(), buffer.size(), 700000), long(buffer.size()));
        QVERIFY(std::equal(buffer.begin(), buffer.end(), source.begin() + 700000));
    }
}

QTEST_GUILESS_MAIN(TestCloneFormat)
#include "tst_cloneformat.moc"
