#include "FakeTools.h"
#include "core/command.h"
#include "core/partitionusage.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QString Fixtures = QStringLiteral(MARLIN_FIXTURES_DIR "/usage/");
const qint64 KiB = 1024;
const qint64 MiB = 1024 * KiB;

// Every tool a probe may run, so that a test can see that none other than the expected one was called.
const QStringList ProbeTools{"btrfs",    "dosfsck",         "dumpe2fs",      "sh",    "jfs_debugfs", "nilfs-tune",
                             "ntfsinfo", "debugfs.reiser4", "debugreiserfs", "xfs_db"};

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A loop device over an image file for the tools that only accept block devices; detached when it goes.
class LoopDevice
{
public:
    ~LoopDevice()
    {
        if (!m_path.isEmpty()) {
            SpawnCmd("losetup", {"--detach", m_path});
        }
    }
    bool attach(const QString& image)
    {
        QString out;
        if (!SpawnCmd("losetup", {"--find", "--show", image}, out)) {
            return false;
        }
        m_path = out.trimmed();
        return m_path.startsWith("/dev/loop");
    }
    QString path() const { return m_path; }

private:
    QString m_path;
};

} // namespace

class TestPartitionUsage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void recordedReports_data();
    void recordedReports();
    void missingKeyCountsAsZero_data();
    void missingKeyCountsAsZero();
    void failures_data();
    void failures();
    void jfsShellLineReachesTheTool_data();
    void jfsShellLineReachesTheTool();
    void parseSwaps();
    void swapUsage_data();
    void swapUsage();
    void realSwaps();
    void sizeWithUnit_data();
    void sizeWithUnit();
    void firstCapture_data();
    void firstCapture();
    void typeNames_data();
    void typeNames();
    void typeFromUnknownName_data();
    void typeFromUnknownName();
    void readFile();
    void realTools_data();
    void realTools();
};

void TestPartitionUsage::init()
{
    // Logged texts are part of the interface: any warning a test does not expect word for word fails it.
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TestPartitionUsage::recordedReports_data()
{
    QTest::addColumn<FsType>("type");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("call");
    QTest::addColumn<qint64>("freeSpace");
    QTest::addColumn<qint64>("total");

    // 6.14MiB is what the whole file system holds, not the 88.00MiB allocated on the device.
    QTest::newRow("btrfs") << FsType::Btrfs << "btrfs"
                           << "btrfs-show.txt"
                           << "/dev/sdb3"
                           << "btrfs filesystem show /dev/sdb3" << 384 * MiB - 6438256 << 384 * MiB;
    QTest::newRow("btrfs, first of two devices")
        << FsType::Btrfs << "btrfs"
        << "btrfs-two-devices.txt"
        << "/dev/sdb1"
        << "btrfs filesystem show /dev/sdb1" << 256 * MiB - 144 * KiB << 256 * MiB;
    QTest::newRow("btrfs, second of two devices")
        << FsType::Btrfs << "btrfs"
        << "btrfs-two-devices.txt"
        << "/dev/sdb10"
        << "btrfs filesystem show /dev/sdb10" << 320 * MiB - 144 * KiB << 320 * MiB;
    const qint64 fatTotal = qint64(65399) * 2048;
    const qint64 fatFree = fatTotal - 280576 - qint64(1755) * 2048;
    for (FsType fat : {FsType::Efi, FsType::Fat16, FsType::Fat32, FsType::Vfat}) {
        QTest::newRow(qPrintable(fsTypeName(fat))) << fat << "dosfsck"
                                                   << "vfat-dosfsck.txt"
                                                   << "/dev/sda1"
                                                   << "dosfsck -n -v /dev/sda1" << fatFree << fatTotal;
    }
    for (FsType ext : {FsType::Ext2, FsType::Ext3, FsType::Ext4}) {
        QTest::newRow(qPrintable(fsTypeName(ext)))
            << ext << "dumpe2fs"
            << "ext4-dumpe2fs.txt"
            << "/dev/sda2"
            << "dumpe2fs -h /dev/sda2" << qint64(80334) * 1024 << qint64(98304) * 1024;
    }
    QTest::newRow("jfs") << FsType::Jfs << "sh"
                         << "jfs-debugfs.txt"
                         << "/dev/sdb4"
                         << R"(sh -c printf\ \'dm\\nx\\nq\\n\'\ \|\ jfs_debugfs\ /dev/sdb4)" << qint64(0x5ea8) * 4096
                         << qint64(0x5ecc) * 4096;
    QTest::newRow("nilfs2") << FsType::Nilfs2 << "nilfs-tune"
                            << "nilfs2-tune.txt"
                            << "/dev/sdc1"
                            << "nilfs-tune -l /dev/sdc1" << qint64(36864) * 4096 << qint64(167772160);
    QTest::newRow("ntfs") << FsType::Ntfs << "ntfsinfo"
                          << "ntfsinfo.txt"
                          << "/dev/nvme0n1p3"
                          << "ntfsinfo -mf /dev/nvme0n1p3" << qint64(23950) * 4096 << qint64(24575) * 4096;
    QTest::newRow("reiser4") << FsType::Reiser4 << "debugfs.reiser4"
                             << "reiser4-debugfs.txt"
                             << "/dev/sdc2"
                             << "debugfs.reiser4 --force --yes /dev/sdc2" << qint64(24551) * 4096
                             << qint64(24576) * 4096;
    QTest::newRow("reiserfs") << FsType::Reiserfs << "debugreiserfs"
                              << "reiserfs-debug.txt"
                              << "/dev/sdc3"
                              << "debugreiserfs -d /dev/sdc3" << qint64(16364) * 4096 << qint64(24576) * 4096;
    // In the report dblocks comes before fdblocks: taking fdblocks for dblocks would show here.
    QTest::newRow("xfs") << FsType::Xfs << "xfs_db"
                         << "xfs-db.txt"
                         << "/dev/sdb2"
                         << R"(xfs_db -c\ sb -c\ print -r /dev/sdb2)" << qint64(63968) * 4096 << qint64(81920) * 4096;
}

void TestPartitionUsage::recordedReports()
{
    QFETCH(FsType, type);
    QFETCH(QString, tool);
    QFETCH(QString, fixture);
    QFETCH(QString, path);
    QFETCH(QString, call);
    QFETCH(qint64, freeSpace);
    QFETCH(qint64, total);
    FakeTools tools(ProbeTools);
    tools.setBehaviour(tool, "--out-file " + Fixtures + fixture);
    qint64 readFree = -2;
    qint64 readTotal = -2;
    QVERIFY(ReadUsage(path, type, readFree, readTotal));
    QCOMPARE(readFree, freeSpace);
    QCOMPARE(readTotal, total);
    QCOMPARE(tools.calls(), QStringList{call});
}

void TestPartitionUsage::missingKeyCountsAsZero_data()
{
    QTest::addColumn<FsType>("type");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<qint64>("freeSpace");
    QTest::addColumn<qint64>("total");

    QTest::newRow("empty report") << FsType::Ext4 << "dumpe2fs" << QByteArray() << qint64(0) << qint64(0);
    QTest::newRow("ext4 without block size")
        << FsType::Ext4 << "dumpe2fs"
        << QByteArray("Block count:              98304\nFree blocks:              80334\n") << qint64(0) << qint64(0);
    QTest::newRow("ext4 without free blocks")
        << FsType::Ext4 << "dumpe2fs" << QByteArray("Block count:              98304\nBlock size:               1024\n")
        << qint64(0) << qint64(98304) * 1024;
    QTest::newRow("xfs without fdblocks")
        << FsType::Xfs << "xfs_db" << QByteArray("blocksize = 4096\ndblocks = 81920\n") << qint64(0)
        << qint64(81920) * 4096;
    QTest::newRow("jfs without dn_nfree")
        << FsType::Jfs << "sh" << QByteArray("Aggregate Block Size: 4096\n[1] dn_mapsize:\t\t0x00000005ecc\t[9] x\n")
        << qint64(0) << qint64(0x5ecc) * 4096;
    QTest::newRow("nilfs2 without free blocks count")
        << FsType::Nilfs2 << "nilfs-tune" << QByteArray("Block size:\t\t  4096\nDevice size:\t\t  167772160\n")
        << qint64(0) << qint64(167772160);
    QTest::newRow("ntfs without free clusters")
        << FsType::Ntfs << "ntfsinfo" << QByteArray("\tCluster Size: 4096\n\tVolume Size in Clusters: 24575\n")
        << qint64(0) << qint64(24575) * 4096;
    QTest::newRow("reiser4 without blksize")
        << FsType::Reiser4 << "debugfs.reiser4" << QByteArray("blocks:\t\t24576\nfree blocks:\t24551\n") << qint64(0)
        << qint64(0);
    // Line keys are case-sensitive.
    QTest::newRow("reiserfs with another spelling")
        << FsType::Reiserfs << "debugreiserfs"
        << QByteArray(
               "Count of blocks on the device: 24576\nblocksize: 4096\nFree blocks (count of blocks - used): 9\n")
        << qint64(0) << qint64(0);
    // Without the summary line nothing is in use and there are no clusters, but the data area offset is still
    // taken off.
    QTest::newRow("fat without the summary line")
        << FsType::Vfat << "dosfsck"
        << QByteArray("      2048 bytes per cluster\nData area starts at byte 280576 (sector 548)\n") << qint64(-280576)
        << qint64(0);
}

void TestPartitionUsage::missingKeyCountsAsZero()
{
    QFETCH(FsType, type);
    QFETCH(QString, tool);
    QFETCH(QByteArray, report);
    QFETCH(qint64, freeSpace);
    QFETCH(qint64, total);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("report.txt"), report));
    FakeTools tools(ProbeTools);
    tools.setBehaviour(tool, "--out-file " + dir.filePath("report.txt"));
    qint64 readFree = -2;
    qint64 readTotal = -2;
    QVERIFY(ReadUsage("/dev/sda1", type, readFree, readTotal));
    QCOMPARE(readFree, freeSpace);
    QCOMPARE(readTotal, total);
}

void TestPartitionUsage::failures_data()
{
    QTest::addColumn<FsType>("type");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("calls");

    const QString none;
    for (int value : {0, 6, 10, 11, 14, 17, 21, 22, 23, -1}) {
        QTest::addRow("type %d", value) << FsType(value) << none << none << "/dev/sda1" << none << 0;
    }
    const QString ext4 = "--out-file " + Fixtures + "ext4-dumpe2fs.txt";
    const QString vfat = "--out-file " + Fixtures + "vfat-dosfsck.txt";
    QTest::newRow("dumpe2fs fails") << FsType::Ext4 << "dumpe2fs" << ext4 + " --exit 1"
                                    << "/dev/sda2" << none << 1;
    QTest::newRow("xfs_db killed") << FsType::Xfs << "xfs_db"
                                   << "--signal KILL"
                                   << "/dev/sdb2" << none << 1;
    QTest::newRow("dosfsck complains") << FsType::Vfat << "dosfsck" << vfat + " --err 'Logical sector size is zero.'"
                                       << "/dev/sda1"
                                       << "dosfsck failed:Logical sector size is zero.\n"
                                       << 1;
    QTest::newRow("dosfsck fails and complains") << FsType::Efi << "dosfsck"
                                                 << "--err 'open: No such file or directory' --exit 1"
                                                 << "/dev/sda1"
                                                 << "dosfsck failed:open: No such file or directory\n"
                                                 << 1;
    QTest::newRow("dosfsck fails silently") << FsType::Fat32 << "dosfsck" << vfat + " --exit 1"
                                            << "/dev/sda1" << none << 1;
    QTest::newRow("btrfs device not in the report") << FsType::Btrfs << "btrfs"
                                                    << "--out-file " + Fixtures + "btrfs-show.txt"
                                                    << "/dev/sdb9" << none << 1;
    QTest::newRow("btrfs size without unit") << FsType::Btrfs << "btrfs"
                                             << "--out 'Total devices 1 FS bytes used 6.14MiB\n"
                                                "devid 1 size 402653184 used 1 path /dev/sdb3'"
                                             << "/dev/sdb3" << none << 1;
    QTest::newRow("nilfs-tune fails") << FsType::Nilfs2 << "nilfs-tune"
                                      << "--exit 1"
                                      << "/dev/sdc1" << none << 1;
    QTest::newRow("bytes beyond 64 bits") << FsType::Ext4 << "dumpe2fs"
                                          << "--out 'Block count: 9223372036854775807\n"
                                             "Free blocks: 1\nBlock size: 4096'"
                                          << "/dev/sda2" << none << 1;
    for (const QString& path :
         {QString("/dev/sdb4; touch /tmp/marlin-pwned"), QString("/dev/$(reboot)"), QString("/dev/sdb4 /etc/shadow"),
          QString("/dev/sdb4\n"), QString("/tmp/jfs.img"), QString("/dev/"), QString("")}) {
        QTest::addRow("jfs refuses %s", path.toUtf8().toPercentEncoding("/").constData())
            << FsType::Jfs << "sh" << none << path << "ReadJfsUsage() refuses the path:" + path << 0;
    }
}

void TestPartitionUsage::failures()
{
    QFETCH(FsType, type);
    QFETCH(QString, tool);
    QFETCH(QString, behaviour);
    QFETCH(QString, path);
    QFETCH(QString, warning);
    QFETCH(int, calls);
    FakeTools tools(ProbeTools);
    if (!tool.isEmpty()) {
        tools.setBehaviour(tool, behaviour);
    }
    if (!warning.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    }
    QTest::ignoreMessage(QtWarningMsg, qPrintable("Failed to read usage:" + path));
    qint64 freeSpace = 5;
    qint64 total = 5;
    QVERIFY(!ReadUsage(path, type, freeSpace, total));
    QCOMPARE(freeSpace, qint64(-1));
    QCOMPARE(total, qint64(-1));
    const QStringList made = tools.calls();
    QCOMPARE(made.size(), calls);
    if (calls > 0) {
        QVERIFY2(made.first().startsWith(tool + " "), qPrintable(made.first()));
    }
}

void TestPartitionUsage::jfsShellLineReachesTheTool_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("partition") << "/dev/sdb4";
    QTest::newRow("by-id name") << "/dev/disk/by-id/usb-Kingston_DataTraveler_3.0_60A44C3FACC9-0:0-part4";
    QTest::newRow("logical volume") << "/dev/mapper/vg0-data+old";
}

// The real shell runs the line; only jfs_debugfs is a stand-in.
void TestPartitionUsage::jfsShellLineReachesTheTool()
{
    QFETCH(QString, path);
    FakeTools tools({"jfs_debugfs"});
    tools.setBehaviour("jfs_debugfs", "--out-file " + Fixtures + "jfs-debugfs.txt");
    qint64 freeSpace = -2;
    qint64 total = -2;
    QVERIFY(ReadJfsUsage(path, freeSpace, total));
    QCOMPARE(freeSpace, qint64(0x5ea8) * 4096);
    QCOMPARE(total, qint64(0x5ecc) * 4096);
    QCOMPARE(tools.calls(), QStringList{"jfs_debugfs " + path});
}

void TestPartitionUsage::parseSwaps()
{
    const QString text = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                         "/dev/sda6                               partition\t8388604\t\t1048576\t\t-2\n"
                         "/swapfile                               file\t\t2097148\t\t0\t\t-3\n"
                         "/dev/sdb2 partition\n"
                         "/dev/zram0                              partition\t4046844\t\t123456\t\t100\n";
    const QList<SwapEntry> entries = ::parseSwaps(text);
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(0).fileName, QString("/dev/sda6"));
    QVERIFY(entries.at(0).isPartition);
    QCOMPARE(entries.at(0).size, qint64(8388604) * 1024);
    QCOMPARE(entries.at(0).used, qint64(1048576) * 1024);
    QCOMPARE(entries.at(0).priority, -2);
    QCOMPARE(entries.at(1).fileName, QString("/swapfile"));
    QVERIFY(!entries.at(1).isPartition);
    QCOMPARE(entries.at(1).used, qint64(0));
    QCOMPARE(entries.at(2).fileName, QString("/dev/zram0"));
    QCOMPARE(entries.at(2).priority, 100);
}

void TestPartitionUsage::swapUsage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("freeSpace");
    QTest::addColumn<qint64>("total");

    const QString swaps = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                          "/dev/sda6                               partition\t8388604\t\t1048576\t\t-2\n"
                          "/swapfile                               file\t\t2097148\t\t0\t\t-3\n";
    QTest::newRow("partition in use") << swaps << "/dev/sda6" << (qint64(8388604) - 1048576) * 1024
                                      << qint64(8388604) * 1024;
    QTest::newRow("swap file") << swaps << "/swapfile" << qint64(2097148) * 1024 << qint64(2097148) * 1024;
    QTest::newRow("not listed") << swaps << "/dev/sda7" << qint64(0) << qint64(0);
    QTest::newRow("prefix of a listed name") << swaps << "/dev/sda" << qint64(0) << qint64(0);
    QTest::newRow("header only") << swaps.section('\n', 0, 0) << "/dev/sda6" << qint64(0) << qint64(0);
    QTest::newRow("kibibytes beyond 64 bits") << "/dev/sda6 partition 9223372036854775807 0 -2\n"
                                              << "/dev/sda6" << qint64(0) << qint64(0);
}

void TestPartitionUsage::swapUsage()
{
    QFETCH(QString, text);
    QFETCH(QString, path);
    QFETCH(qint64, freeSpace);
    QFETCH(qint64, total);
    qint64 readFree = -2;
    qint64 readTotal = -2;
    swapUsageFromText(text, path, readFree, readTotal);
    QCOMPARE(readFree, freeSpace);
    QCOMPARE(readTotal, total);
}

void TestPartitionUsage::realSwaps()
{
    const QString text = ReadFile("/proc/swaps");
    QVERIFY(text.startsWith("Filename"));
    qint64 freeSpace = -2;
    qint64 total = -2;
    QVERIFY(ReadUsage("/dev/marlin-no-such-swap", FsType::LinuxSwap, freeSpace, total));
    QCOMPARE(freeSpace, qint64(0));
    QCOMPARE(total, qint64(0));
    // Whatever swap this machine uses: its size does not change between two reads, its use may.
    for (const SwapEntry& entry : ::parseSwaps(text)) {
        QVERIFY(ReadUsage(entry.fileName, FsType::LinuxSwap, freeSpace, total));
        QCOMPARE(total, entry.size);
        QVERIFY(freeSpace >= 0 && freeSpace <= total);
    }
}

void TestPartitionUsage::sizeWithUnit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("GiB with decimals") << "20.00GiB" << qint64(21474836480);
    QTest::newRow("single digit") << "5GiB" << qint64(5368709120);
    QTest::newRow("fraction") << "1.50GiB" << qint64(1610612736);
    QTest::newRow("fraction truncated") << "6.14MiB" << qint64(6438256);
    QTest::newRow("KiB") << "144.00KiB" << qint64(147456);
    QTest::newRow("TiB") << "3TiB" << qint64(3298534883328);
    QTest::newRow("PiB") << "1.00PiB" << qint64(1125899906842624);
    // Double precision: single precision would be off by thousands here.
    QTest::newRow("many digits") << "1234567.89MiB" << qint64(1294538259824);
    QTest::newRow("bytes only") << "512B" << qint64(-1);
    QTest::newRow("decimal unit") << "20.00GB" << qint64(-1);
    QTest::newRow("no number") << "GiB" << qint64(-1);
    QTest::newRow("number not at the start") << "size 5GiB" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
    QTest::newRow("beyond 64 bits") << "9000.00PiB" << qint64(-1);
}

void TestPartitionUsage::sizeWithUnit()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytes);
    QCOMPARE(parseSizeWithUnit(text), bytes);
}

void TestPartitionUsage::firstCapture_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("capture");
    QTest::newRow("first of several") << "size\\s*(\\S+)"
                                      << "size 1 size 2"
                                      << "1";
    QTest::newRow("line start on a later line") << "^b:(\\d+)"
                                                << "a:1\nb:2\nb:3\n"
                                                << "2";
    QTest::newRow("line end inside the text") << "(\\d+)$"
                                              << "a 1\nb"
                                              << "1";
    QTest::newRow("no match") << "c:(\\d+)"
                              << "a:1"
                              << "";
    QTest::newRow("no group") << "a:\\d+"
                              << "a:1"
                              << "";
    QTest::newRow("group not taking part") << "a(x)?"
                                           << "a"
                                           << "";
}

void TestPartitionUsage::firstCapture()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(QString, capture);
    QCOMPARE(regexFirstCapture(pattern, text), capture);
}

void TestPartitionUsage::typeNames_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("name");
    const char* names[] = {"",      "btrfs", "efi",     "ext2",     "ext3", "ext4",       "f2fs",    "fat16",
                           "fat32", "vfat",  "hfs",     "hfsplus",  "jfs",  "linux-swap", "lvm2 pv", "nilfs2",
                           "ntfs",  nullptr, "reiser4", "reiserfs", "xfs",  "recovery",   "unknown"};
    for (int value = 0; value < int(sizeof(names) / sizeof(names[0])); ++value) {
        if (names[value]) {
            QTest::addRow("%d %s", value, names[value]) << value << QString(names[value]);
        }
    }
}

// The names are what logs and settings hold, so each must read back as the value it came from.
void TestPartitionUsage::typeNames()
{
    QFETCH(int, value);
    QFETCH(QString, name);
    QCOMPARE(fsTypeName(FsType(value)), name);
    QCOMPARE(fsTypeFromName(name), FsType(value));
}

void TestPartitionUsage::typeFromUnknownName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::addColumn<FsType>("type");
    QTest::newRow("no name") << QString() << 17 << FsType::Empty;
    QTest::newRow("not a type") << "zfs" << 23 << FsType::Unknown;
    QTest::newRow("other case") << "EXT4" << -1 << FsType::Unknown;
    QTest::newRow("blkid's word for swap") << "swap" << 99 << FsType::Unknown;
}

// Values without a name give the empty text; texts without a type give Unknown.
void TestPartitionUsage::typeFromUnknownName()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    QFETCH(FsType, type);
    QCOMPARE(fsTypeName(FsType(value)), QString());
    QCOMPARE(fsTypeFromName(name), type);
}

void TestPartitionUsage::readFile()
{
    QTemporaryDir dir;
    const QByteArray content = "Größe: 4096\n\nlast line";
    QVERIFY(writeFile(dir.filePath("report.txt"), content));
    QCOMPARE(ReadFile(dir.filePath("report.txt")), QString::fromUtf8(content));

    const QString missing = dir.filePath("missing.txt");
    QTest::ignoreMessage(QtWarningMsg, qPrintable("ReadFileContent() file not found: " + missing));
    QVERIFY(ReadFile(missing).isEmpty());

    QTest::ignoreMessage(QtWarningMsg, "ReadFile() failed to open");
    QVERIFY(ReadFile(dir.path()).isEmpty());
}

void TestPartitionUsage::realTools_data()
{
    QTest::addColumn<FsType>("type");
    QTest::addColumn<QStringList>("mkfs");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("sizeMiB");
    QTest::addColumn<bool>("blockDevice");
    QTest::newRow("ext4") << FsType::Ext4 << QStringList{"mkfs.ext4", "-q", "-F"} << "dumpe2fs" << 64 << false;
    QTest::newRow("xfs") << FsType::Xfs << QStringList{"mkfs.xfs", "-q", "-f"} << "xfs_db" << 300 << false;
    QTest::newRow("btrfs") << FsType::Btrfs << QStringList{"mkfs.btrfs", "-q", "-f"} << "btrfs" << 256 << false;
    QTest::newRow("vfat") << FsType::Vfat << QStringList{"mkfs.vfat"} << "dosfsck" << 64 << false;
    QTest::newRow("ntfs") << FsType::Ntfs << QStringList{"mkfs.ntfs", "-q", "-F", "-Q"} << "ntfsinfo" << 64 << false;
    QTest::newRow("reiser4") << FsType::Reiser4 << QStringList{"mkfs.reiser4", "-y", "-f"} << "debugfs.reiser4" << 64
                             << false;
    QTest::newRow("reiserfs") << FsType::Reiserfs << QStringList{"mkreiserfs", "-f", "-f", "-q"} << "debugreiserfs"
                              << 64 << false;
    // Both take only block devices; jfs_debugfs also shows that the shell line ends the tool.
    QTest::newRow("jfs") << FsType::Jfs << QStringList{"mkfs.jfs", "-q"} << "jfs_debugfs" << 64 << true;
    QTest::newRow("nilfs2") << FsType::Nilfs2 << QStringList{"mkfs.nilfs2", "-q", "-f"} << "nilfs-tune" << 160 << true;
}

// The real tools on freshly made file systems: the parsing must hold for what today's tools print.
void TestPartitionUsage::realTools()
{
    QFETCH(FsType, type);
    QFETCH(QStringList, mkfs);
    QFETCH(QString, tool);
    QFETCH(int, sizeMiB);
    QFETCH(bool, blockDevice);
    for (const QString& program : {mkfs.first(), tool}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            QSKIP(qPrintable(program + " is not installed"));
        }
    }
    if (blockDevice && (geteuid() != 0 || QStandardPaths::findExecutable("losetup").isEmpty())) {
        QSKIP("needs root and losetup for a loop device");
    }
    QTemporaryDir dir;
    const QString image = dir.filePath("fs.img");
    const qint64 size = sizeMiB * MiB;
    {
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    }
    QVERIFY2(SpawnCmd(mkfs.first(), mkfs.mid(1) << image), qPrintable(mkfs.join(' ')));
    LoopDevice loop;
    if (blockDevice && !loop.attach(image)) {
        QSKIP("no loop device could be attached");
    }
    const QString path = blockDevice ? loop.path() : image;
    qint64 freeSpace = -2;
    qint64 total = -2;
    QVERIFY(ReadUsage(path, type, freeSpace, total));
    // At most the image, and the file system's own structures take less than a tenth of it.
    QVERIFY2(total <= size && total >= size / 10 * 9, qPrintable(QString::number(total)));
    QVERIFY2(freeSpace > 0 && freeSpace < total, qPrintable(QString::number(freeSpace)));
}

QTEST_GUILESS_MAIN(TestPartitionUsage)
#include "tst_partitionusage.moc"
