// The installed tool as the recovery service runs it: exact invocations and exit codes, the progress the service
// parses from standard output, and how fast --rbk-info answers for a large image. Needs root for loop devices.

#include "Checksum.h"
#include "ChunkCodec.h"
#include "ChunkIndex.h"
#include "ImageHeader.h"
#include "ImageWriter.h"

#include <zstd.h>

#include <QtTest>

#include <unistd.h>

#include <random>

namespace {

const QString Tool = QStringLiteral(MARLIN_CLONE_BINARY);

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QProcessEnvironment callerEnvironment()
{
    QProcessEnvironment environment;
    environment.insert("LC_ALL", "C");
    return environment;
}

Result run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessEnvironment(callerEnvironment());
    process.start(program, args);
    process.waitForFinished(-1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// The service's parse of one read from the tool's standard output.
float callerProgress(const QByteArray& chunk, bool& ok)
{
    const QString lastWord = QString::fromUtf8(chunk).split(' ').constLast().left(4);
    return lastWord.toFloat(&ok);
}

QByteArray deviceHash(const QString& device)
{
    QFile file(device);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        return {};
    }
    return hash.result();
}

// Compressible bytes that differ from chunk to chunk.
std::vector<uint8_t> textChunk(size_t size, unsigned seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>('a' + (i * 7 + i / 97 + seed) % 26);
    }
    return bytes;
}

// How the last chunk of a crafted image is broken. Its stored bytes always match their checksum, so only
// decompressing it and checking its data checksum can tell.
enum class BrokenChunk
{
    PlainWrongData,
    ZstdGarbage,
    ZstdOtherData,
    ZstdShorter,
};

// The last chunk's stored bytes and index entry for the given fault; data is what the source held there.
void breakChunk(BrokenChunk kind, const std::vector<uint8_t>& data, std::vector<uint8_t>& stored, ChunkEntry& entry)
{
    entry.rawLength = static_cast<uint32_t>(data.size());
    entry.rawChecksum = Checksum::of(data.data(), data.size());
    entry.compression = ChunkIndex::kStoredZstd;
    std::vector<uint8_t> other = data;
    switch (kind) {
    case BrokenChunk::PlainWrongData:
        entry.compression = ChunkIndex::kStoredPlain;
        stored = data;
        stored[stored.size() / 2] ^= 0x40;
        break;
    case BrokenChunk::ZstdGarbage:
        stored.assign(4000, 0);
        for (size_t i = 0; i < stored.size(); ++i) {
            stored[i] = static_cast<uint8_t>(i * 31 + 7);
        }
        break;
    case BrokenChunk::ZstdOtherData:
    case BrokenChunk::ZstdShorter:
        if (kind == BrokenChunk::ZstdOtherData) {
            other[100] ^= 1;
        } else {
            other.resize(other.size() - 4096);
        }
        stored.resize(ZSTD_compressBound(other.size()));
        stored.resize(ZSTD_compress(stored.data(), stored.size(), other.data(), other.size(), 1));
        break;
    }
    entry.storedLength = static_cast<uint32_t>(stored.size());
    entry.storedChecksum = Checksum::of(stored.data(), stored.size());
}

// Good 1 MiB chunks, then one broken the given way.
bool writeBrokenImage(const std::string& path, BrokenChunk kind, std::string& error)
{
    constexpr uint32_t kChunk = 1u << 20;
    constexpr int kGoodChunks = 12;
    ImageHeader header = ImageHeader::withDefaultLayout();
    header.sourceSize = 32ull << 20;
    header.usedBytes = (kGoodChunks + 1) * uint64_t(kChunk);
    header.maxChunkBytes = kChunk;
    header.fsType = "ext4";
    ImageWriter writer;
    if (!writer.create(path, header, error)) {
        return false;
    }
    ChunkCodec codec(1, 4096, 65536);
    for (int i = 0; i < kGoodChunks; ++i) {
        const std::vector<uint8_t> data = textChunk(kChunk, unsigned(i));
        ChunkWork work;
        work.raw.reserve(kChunk);
        std::copy(data.begin(), data.end(), work.raw.data());
        work.extents = {{uint64_t(i) * kChunk, kChunk, false}};
        if (!codec.pack(work) || !writer.append(work.entry, work.extents, work.storedBytes(), error)) {
            return false;
        }
    }
    // Incompressible when stored plain, compressible otherwise, as a backup would have stored it.
    std::vector<uint8_t> data = textChunk(kChunk, 99);
    if (kind == BrokenChunk::PlainWrongData) {
        std::mt19937 generator(5);
        for (uint8_t& byte : data) {
            byte = static_cast<uint8_t>(generator());
        }
    }
    std::vector<uint8_t> stored;
    ChunkEntry entry;
    entry.sourceOffset = uint64_t(kGoodChunks) * kChunk;
    breakChunk(kind, data, stored, entry);
    return writer.append(entry, {{entry.sourceOffset, kChunk, false}}, stored.data(), error) && writer.commit(error);
}

} // namespace

class TestCloneCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion();
    void directionNeedsExactlyOneBlockDevice();
    void progressIsParsableMonotonicAndEndsAt100();
    void infoAnswersFastForLargeImage();
    void infoVerdictIsTheExitStatus();
    void restoreChecksEveryChunkBeforeWriting_data();
    void restoreChecksEveryChunkBeforeWriting();

private:
    QString newLoop(qint64 size, bool random);
    QStringList readProgress(const QStringList& args, int& exitCode);

    QTemporaryDir m_dir{QDir::tempPath() + "/tst_clonecli-XXXXXX"};
    QStringList m_loops;
};

void TestCloneCli::initTestCase()
{
    if (::geteuid() != 0) {
        QSKIP("needs root for loop devices");
    }
    QVERIFY(m_dir.isValid());
    QVERIFY(QFileInfo(Tool).isExecutable());
}

void TestCloneCli::cleanupTestCase()
{
    for (const QString& loop : std::as_const(m_loops)) {
        run("losetup", {"-d", loop});
    }
}

QString TestCloneCli::newLoop(qint64 size, bool random)
{
    const QString file = m_dir.path() + "/disk" + QString::number(m_loops.size()) + ".img";
    QFile backing(file);
    if (!backing.open(QIODevice::WriteOnly) || !backing.resize(size)) {
        return {};
    }
    if (random) {
        std::mt19937_64 generator(size);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 written = 0; written < size; written += block.size()) {
            for (int i = 0; i < block.size(); i += 8) {
                const uint64_t value = generator();
                std::memcpy(block.data() + i, &value, 8);
            }
            backing.write(block);
        }
    }
    backing.close();
    const Result attached = run("losetup", {"-f", "--show", file});
    const QString device = QString::fromUtf8(attached.out).trimmed();
    if (attached.exitCode == 0 && device.startsWith("/dev/loop")) {
        m_loops << device;
    }
    return device;
}

// Runs the tool and reads its standard output the way the service does: whatever is there at each wake-up.
QStringList TestCloneCli::readProgress(const QStringList& args, int& exitCode)
{
    QProcess process;
    process.setProcessEnvironment(callerEnvironment());
    process.start(Tool, args);
    QStringList chunks;
    while (process.waitForReadyRead(-1)) {
        chunks << QString::fromUtf8(process.readAllStandardOutput());
    }
    process.waitForFinished(-1);
    const QByteArray rest = process.readAllStandardOutput();
    if (!rest.isEmpty()) {
        chunks << QString::fromUtf8(rest);
    }
    exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return chunks;
}

void TestCloneCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--clone", "a", "b"};
    QTest::newRow("missing operand") << QStringList{"--tui", "/dev/null"};
    QTest::newRow("option but one operand") << QStringList{"--tui", "--allow-mounted", "/dev/null"};
    QTest::newRow("unknown option of --tui") << QStringList{"--tui", "--bogus", "/dev/null", "/tmp/x.rbk"};
    QTest::newRow("extra operand") << QStringList{"--rbk-info", "a", "b"};
    QTest::newRow("bare paths") << QStringList{"/dev/loop0", "/tmp/x.rbk"};
    QTest::newRow("--mount without a directory") << QStringList{"--mount", "/tmp/x.rbk"};
    QTest::newRow("--mount with a backup option") << QStringList{"--mount", "--rescue", "/tmp/x.rbk", "/mnt"};
    QTest::newRow("--unmount of two directories") << QStringList{"--unmount", "/mnt", "/tmp"};
    QTest::newRow("bad custom file address") << QStringList{"--read-custom-file", "/tmp/x.rbk/DiskInfo", "/tmp/y"};
}

void TestCloneCli::usageErrors()
{
    QFETCH(QStringList, args);
    const Result result = run(Tool, args);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(!result.err.isEmpty());
    QVERIFY(result.out.isEmpty());
}

void TestCloneCli::helpAndVersion()
{
    const Result help = run(Tool, {"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("--rbk-info"));
    const Result version = run(Tool, {"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY(version.out.startsWith("marlin-clone "));
}

void TestCloneCli::directionNeedsExactlyOneBlockDevice()
{
    const QString file = m_dir.path() + "/plain";
    QFile(file).open(QIODevice::WriteOnly);
    const Result files = run(Tool, {"--tui", file, m_dir.path() + "/out.rbk"});
    QCOMPARE(files.exitCode, 2);
    QVERIFY(files.err.contains("block device"));
    QVERIFY(!QFile::exists(m_dir.path() + "/out.rbk"));

    const QString first = newLoop(8 << 20, false);
    const QString second = newLoop(8 << 20, false);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    const Result devices = run(Tool, {"--tui", first, second});
    QCOMPARE(devices.exitCode, 2);
    QVERIFY(devices.err.contains("not supported"));
}

void TestCloneCli::progressIsParsableMonotonicAndEndsAt100()
{
    const QString source = newLoop(192 << 20, true);
    const QString target = newLoop(192 << 20, false);
    QVERIFY(!source.isEmpty() && !target.isEmpty());
    const QString image = m_dir.path() + "/progress.rbk";
    for (const QStringList& args : {QStringList{"--tui", source, image}, QStringList{"--tui", image, target}}) {
        int exitCode = -1;
        const QStringList chunks = readProgress(args, exitCode);
        QCOMPARE(exitCode, 0);
        QVERIFY(chunks.size() >= 2);
        float previous = -1;
        for (const QString& chunk : chunks) {
            QVERIFY2(chunk.endsWith("%\n"), qPrintable(chunk));
            bool ok = false;
            const float value = callerProgress(chunk.toUtf8(), ok);
            QVERIFY2(ok, qPrintable(chunk));
            QVERIFY2(value >= previous, qPrintable(chunk));
            QVERIFY(value <= 100);
            previous = value;
        }
        QCOMPARE(previous, 100.0f);
        // Only the very last line may claim completion.
        QCOMPARE(chunks.join("").count("100.00%"), 1);
    }
    QCOMPARE(run("cmp", {source, target}).exitCode, 0);
}

void TestCloneCli::infoAnswersFastForLargeImage()
{
    // The index of a fully used 1 TiB source in 8 MiB chunks, the size --rbk-info has to read and check for a big
    // disk (10 MiB).
    const uint64_t chunks = 128 * 1024;
    const uint32_t chunkBytes = 8u << 20;
    ImageHeader header = ImageHeader::withDefaultLayout();
    header.sourceSize = chunks * chunkBytes;
    header.usedBytes = header.sourceSize;
    header.maxChunkBytes = chunkBytes;
    header.fsType = "ext4";
    header.fsId = "5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10";
    const std::string path = (m_dir.path() + "/large.rbk").toStdString();
    ImageWriter writer;
    std::string error;
    QVERIFY(writer.create(path, header, error));
    const uint8_t stored[16] = {7, 7, 7};
    for (uint64_t i = 0; i < chunks; ++i) {
        ChunkEntry entry;
        entry.sourceOffset = i * chunkBytes;
        entry.rawLength = entry.storedLength = sizeof stored;
        entry.compression = ChunkIndex::kStoredPlain;
        QVERIFY(writer.append(entry,
                              {{entry.sourceOffset, sizeof stored, false}, {entry.sourceOffset + 4096, 4096, true}},
                              stored, error));
    }
    QVERIFY2(writer.commit(error), error.c_str());

    QElapsedTimer timer;
    qint64 best = std::numeric_limits<qint64>::max();
    Result result;
    for (int i = 0; i < 5; ++i) {
        timer.start();
        result = run(Tool, {"--rbk-info", QString::fromStdString(path)});
        best = std::min(best, timer.elapsed());
        QCOMPARE(result.exitCode, 0);
    }
    qInfo() << "--rbk-info on an index of" << chunks << "chunks:" << best << "ms";
    QVERIFY(result.out.contains("chunk-count=131072\n"));
    QVERIFY(result.out.contains("source-fs-id=5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10\n"));
    QVERIFY(!result.out.contains("UUID=") && !result.out.contains("DiskDrive="));
    QVERIFY2(best < 500, "well under a second, even on a busy test machine");
}

void TestCloneCli::infoVerdictIsTheExitStatus()
{
    // A valid image whose label and source path read like the verdict.
    ImageHeader header = ImageHeader::withDefaultLayout();
    header.sourceSize = 1 << 20;
    header.maxChunkBytes = 1 << 20;
    header.fsType = "ext4";
    header.fsLabel = "invalid file";
    header.sourceDevice = "/dev/disk/by-label/invalid file\ninvalid file";
    const std::string path = (m_dir.path() + "/label.rbk").toStdString();
    ImageWriter writer;
    std::string error;
    QVERIFY(writer.create(path, header, error));
    const uint8_t stored[4] = {1, 2, 3, 4};
    ChunkEntry entry;
    entry.rawLength = entry.storedLength = sizeof stored;
    entry.storedChecksum = entry.rawChecksum = Checksum::of(stored, sizeof stored);
    QVERIFY(writer.append(entry, {{0, sizeof stored, false}}, stored, error));
    QVERIFY2(writer.commit(error), error.c_str());

    const Result valid = run(Tool, {"--rbk-info", QString::fromStdString(path)});
    QCOMPARE(valid.exitCode, 0);
    QVERIFY2(!valid.out.contains("invalid file") && valid.err.isEmpty(), valid.out.constData());
    QVERIFY(valid.out.contains("\nsource-fs-label=invalid%20file\n"));

    QFile::resize(QString::fromStdString(path), 4096 * 3);
    const Result invalid = run(Tool, {"--rbk-info", QString::fromStdString(path)});
    QCOMPARE(invalid.exitCode, 1);
    QCOMPARE(invalid.out, QByteArray("invalid file\n"));
    QCOMPARE(invalid.err, QByteArray("invalid file\n"));
}

void TestCloneCli::restoreChecksEveryChunkBeforeWriting_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("plain chunk, data differs from its data checksum") << int(BrokenChunk::PlainWrongData);
    QTest::newRow("zstd chunk that does not decompress") << int(BrokenChunk::ZstdGarbage);
    QTest::newRow("zstd chunk decompressing to other data") << int(BrokenChunk::ZstdOtherData);
    QTest::newRow("zstd chunk decompressing to fewer bytes") << int(BrokenChunk::ZstdShorter);
}

void TestCloneCli::restoreChecksEveryChunkBeforeWriting()
{
    QFETCH(int, kind);
    const std::string path = (m_dir.path() + "/broken.rbk").toStdString();
    std::string error;
    QVERIFY2(writeBrokenImage(path, BrokenChunk(kind), error), error.c_str());
    const QString target = newLoop(32 << 20, true);
    QVERIFY(!target.isEmpty());
    const QByteArray before = deviceHash(target);
    QVERIFY(!before.isEmpty());

    const Result result = run(Tool, {"--tui", QString::fromStdString(path), target});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(deviceHash(target), before);
    QVERIFY2(result.err.contains("nothing was written"), result.err.constData());
}

QTEST_GUILESS_MAIN(TestCloneCli)
#include "tst_clonecli.moc"
