#include "FakeTools.h"
#include "MaliciousBackup.h"
#include "core/ToolPath.h"
#include "utils.h"

#include <QDir>
#include <QtTest>

namespace {

const QString Fixtures = QStringLiteral(MARLIN_FIXTURES_DIR "/");

// Any block device node of this machine: fsck itself is faked, only the path check is real.
QString someBlockDevice()
{
    const QStringList names = QDir("/sys/class/block").entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        if (QFile::exists("/dev/" + name)) {
            return "/dev/" + name;
        }
    }
    return QString();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestBackupUtils : public QObject
{
    Q_OBJECT

private slots:
    void blkIdFields();
    void blkIdListsLogicalVolumesBlkidMissed();
    void blkIdFailures_data();
    void blkIdFailures();
    void recoveryJsonIsConsumed();
    void recoveryJsonMissingRunsNothing();
    void readJsonObjectIsLenient_data();
    void readJsonObjectIsLenient();
    void fsckExitCodes_data();
    void fsckExitCodes();
    void fsckNeverRunsOnANonDevice_data();
    void fsckNeverRunsOnANonDevice();
    void swapSize_data();
    void swapSize();
    void swapSizeWhenLsblkFails();
    void recoveryConfUUID();
    void backupDirectories_data();
    void backupDirectories();
};

void TestBackupUtils::blkIdFields()
{
    FakeTools tools({"sudo", "blkid", "ls"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("blkid", "--out-file " + Fixtures + "blkid/plain-gpt.txt");
    QList<BlkIdInfo> list{BlkIdInfo{}};
    QString err;
    QTest::ignoreMessage(QtInfoMsg, "getBlkIdInfoList line: garbage line without the separator");
    QVERIFY(Utils::getBlkIdInfoList(list, err));
    QCOMPARE(list.size(), 5);
    const BlkIdInfo& efi = list.at(0);
    QCOMPARE(efi.devicePath, QString("/dev/sda1"));
    QCOMPARE(efi.uuid, QString("4F2A-1C3D"));
    QCOMPARE(efi.partUuid, QString("8a4d6c1e-3b2f-4e5a-9c7d-1f2e3a4b5c6d"));
    QCOMPARE(efi.type, QString("vfat"));
    QCOMPARE(efi.partLabel, QString("EFI"));
    QVERIFY(efi.label.isEmpty());
    const BlkIdInfo& root = list.at(1);
    QCOMPARE(root.label, QString("Roota"));
    QCOMPARE(root.partLabel, QString("Roota"));
    QCOMPARE(root.uuid, QString("5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10"));
    const BlkIdInfo& data = list.at(2);
    QCOMPARE(data.partLabel, QString("data"));
    QVERIFY(data.label.isEmpty());
    QVERIFY(data.uuid.isEmpty());
    QVERIFY(data.type.isEmpty());
    QCOMPARE(list.at(3).devicePath, QString("/dev/sda6"));
    // A label that reads like another field stays the label.
    const BlkIdInfo& usb = list.at(4);
    QCOMPARE(usb.uuid, QString("1234-ABCD"));
    QCOMPARE(usb.label, QString("usb\" UUID=\"5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10"));
    // No LVM member: the mapper directory is not listed.
    QCOMPARE(tools.calls(), (QStringList{"sudo blkid", "blkid"}));
}

void TestBackupUtils::blkIdListsLogicalVolumesBlkidMissed()
{
    FakeTools tools({"sudo", "blkid", "ls"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("blkid", "--out-file " + Fixtures + "blkid/luks-lvm-laptop.txt");
    tools.setBehaviour("ls", "--out-file " + Fixtures + "blkid/mapper-listing.txt");
    QList<BlkIdInfo> list;
    QString err;
    QVERIFY(Utils::getBlkIdInfoList(list, err));
    QCOMPARE(list.size(), 10);
    const BlkIdInfo& container = list.at(4);
    QCOMPARE(container.devicePath, QString("/dev/mapper/luks_crypt0"));
    QCOMPARE(container.type, QString("LVM2_member"));
    const BlkIdInfo& disk = list.at(7);
    QCOMPARE(disk.ptType, QString("gpt"));
    QCOMPARE(disk.ptUuid, QString("7e8f9a0b-1c2d-4e3f-8a5b-6c7d8e9f0a1b"));
    QVERIFY(disk.type.isEmpty());
    QVERIFY(disk.uuid.isEmpty());
    const BlkIdInfo& usb = list.at(8);
    QCOMPARE(usb.labelFatBoot, QString("MARLIN USB"));
    QCOMPARE(usb.label, QString("MARLIN USB"));
    QCOMPARE(usb.partUuid, QString("5e6f7081-01"));
    const BlkIdInfo& home = list.at(9);
    QCOMPARE(home.devicePath, QString("/dev/mapper/vg0-home"));
    QVERIFY(home.uuid.isEmpty() && home.type.isEmpty());
    QCOMPARE(tools.calls(), (QStringList{"sudo blkid", "blkid", "ls -l /dev/mapper/"}));
}

void TestBackupUtils::blkIdFailures_data()
{
    QTest::addColumn<QString>("blkid");
    QTest::addColumn<QString>("awk");
    QTest::addColumn<QString>("warning");
    QTest::newRow("blkid fails") << "--err 'permission denied' --exit 2"
                                 << ""
                                 << "getBlkid failed, error: permission denied\n";
    // The listing is a pipeline: only its last command decides.
    QTest::newRow("mapper listing fails") << "--out-file " + Fixtures + "blkid/luks-lvm-laptop.txt"
                                          << "--err 'awk: cannot run' --exit 2"
                                          << "ls -l /dev/mapper/ failed, error: awk: cannot run\n";
}

void TestBackupUtils::blkIdFailures()
{
    QFETCH(QString, blkid);
    QFETCH(QString, awk);
    QFETCH(QString, warning);
    FakeTools tools({"sudo", "blkid", "ls", "awk"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("ls", "--out-file " + Fixtures + "blkid/mapper-listing.txt");
    tools.setBehaviour("blkid", blkid);
    tools.setBehaviour("awk", awk);
    QList<BlkIdInfo> list;
    QString err;
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY(!Utils::getBlkIdInfoList(list, err));
}

void TestBackupUtils::recoveryJsonIsConsumed()
{
    FakeTools tools({"sudo"});
    tools.setBehaviour("sudo", "--exec");
    QTemporaryDir dir;
    const QString path = dir.filePath("recovery.json");
    QVERIFY(writeFile(path, R"({"type": 1, "locale": "de_DE", "tasks": [{"command": "restore-partitions"}]})"));
    QJsonObject obj{{"stale", true}};
    QVERIFY(Utils::getRecoveryJsonInfo(obj, path));
    QCOMPARE(obj.value("type").toInt(), 1);
    QCOMPARE(obj.value("locale").toString(), QString("de_DE"));
    QVERIFY(!obj.contains("stale"));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(tools.calls(), QStringList{"sudo " + ToolPath::resolve("rm") + " -f " + path});

    // Read once: not valid JSON, still consumed.
    QVERIFY(writeFile(path, "{not json"));
    QVERIFY(Utils::getRecoveryJsonInfo(obj, path));
    QVERIFY(obj.isEmpty());
    QVERIFY(!QFile::exists(path));
}

void TestBackupUtils::recoveryJsonMissingRunsNothing()
{
    FakeTools tools({"sudo"});
    QJsonObject obj;
    QVERIFY(!Utils::getRecoveryJsonInfo(obj, "/nonexistent/backup/recovery.json"));
    QVERIFY(tools.calls().isEmpty());
}

void TestBackupUtils::readJsonObjectIsLenient_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("keys");
    QTest::newRow("object") << QByteArray(R"({"a": {"1700000000": "/x"}})") << 1;
    QTest::newRow("array") << QByteArray("[1, 2]") << 0;
    QTest::newRow("broken") << QByteArray(R"({"a": )") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestBackupUtils::readJsonObjectIsLenient()
{
    QFETCH(QByteArray, content);
    QFETCH(int, keys);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("f.json"), content));
    QCOMPARE(Utils::readJsonObject(dir.filePath("f.json")).size(), keys);
    QVERIFY(Utils::readJsonObject(dir.filePath("missing.json")).isEmpty());
}

void TestBackupUtils::fsckExitCodes_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<bool>("hasErrors");
    QTest::addColumn<bool>("fixed");
    QTest::newRow("clean") << "--exit 0" << false << true;
    QTest::newRow("corrected") << "--exit 1" << false << true;
    QTest::newRow("reboot needed") << "--exit 2" << false << false;
    QTest::newRow("left uncorrected") << "--exit 4" << true << false;
    QTest::newRow("operational error") << "--exit 8" << false << false;
    QTest::newRow("killed") << "--signal KILL" << false << false;
}

void TestBackupUtils::fsckExitCodes()
{
    QFETCH(QString, behaviour);
    QFETCH(bool, hasErrors);
    QFETCH(bool, fixed);
    const QString device = someBlockDevice();
    QVERIFY(!device.isEmpty());
    FakeTools tools({"sudo", "fsck"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("fsck", "--out 'pass 1' --err 'note' " + behaviour);
    QCOMPARE(Utils::checkPartitionErrorByFsck(device), hasErrors);
    QString output = "kept|";
    QString err;
    QCOMPARE(Utils::fixPartitionByFsck(device, output, err), fixed);
    QCOMPARE(output, QString("kept|pass 1\n"));
    QCOMPARE(err, QString("note\n"));
    QCOMPARE(tools.calls(), (QStringList{"sudo fsck -v -n " + device, "fsck -v -n " + device, "sudo fsck -y " + device,
                                         "fsck -y " + device}));
}

void TestBackupUtils::fsckNeverRunsOnANonDevice_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << "";
    QTest::newRow("missing") << "/dev/marlin-no-such-disk";
    QTest::newRow("shell text") << "/dev/null; touch /tmp/marlin-pwned";
    QTest::newRow("regular file") << QStringLiteral(MARLIN_FIXTURES_DIR "/blkid/plain-gpt.txt");
    QTest::newRow("character device") << "/dev/null";
}

void TestBackupUtils::fsckNeverRunsOnANonDevice()
{
    QFETCH(QString, path);
    FakeTools tools({"sudo", "fsck"});
    QVERIFY(!Utils::checkPartitionErrorByFsck(path));
    QString output;
    QString err;
    QVERIFY(!Utils::fixPartitionByFsck(path, output, err));
    QVERIFY(tools.calls().isEmpty());
}

void TestBackupUtils::swapSize_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<qint64>("size");
    QTest::newRow("partition") << "/dev/sda6" << qint64(8589934592);
    QTest::newRow("prefix of another name") << "/dev/sda1" << qint64(314572800);
    QTest::newRow("logical volume") << "/dev/mapper/vg0-swap" << qint64(4294967296);
    QTest::newRow("no size column") << "/dev/sr0" << qint64(0);
    QTest::newRow("not listed") << "/dev/sdz9" << qint64(0);
}

void TestBackupUtils::swapSize()
{
    QFETCH(QString, device);
    QFETCH(qint64, size);
    FakeTools tools({"lsblk"});
    tools.setBehaviour("lsblk", "--out-file " + Fixtures + "lsblk/path-size.txt");
    qint64 result = -1;
    QVERIFY(Utils::getSwapPartitionSize(device, result));
    QCOMPARE(result, size);
    QCOMPARE(tools.calls(), QStringList{"lsblk --bytes --output PATH,SIZE"});
}

void TestBackupUtils::swapSizeWhenLsblkFails()
{
    FakeTools tools({"lsblk"});
    tools.setBehaviour("lsblk", "--err boom --exit 1");
    qint64 result = -1;
    QTest::ignoreMessage(QtInfoMsg, "getSwapPartitionSize call lsblk failed, err = boom\n, out: ");
    QVERIFY(!Utils::getSwapPartitionSize("/dev/sda6", result));
    QCOMPARE(result, qint64(0));
}

void TestBackupUtils::recoveryConfUUID()
{
    QTemporaryDir root;
    QCOMPARE(Utils::getRecoveryConfUUID(root.path()), QString());
    QVERIFY(QDir(root.path()).mkpath("etc/marlin"));
    QVERIFY(writeFile(root.filePath("etc/marlin/system-recovery.conf"),
                      "UUID=0b1c2d3e-4f50-4617-8293-a4b5c6d7e8f9\n[Other]\nUUID=wrong\n"));
    QCOMPARE(Utils::getRecoveryConfUUID(root.path()), QString("0b1c2d3e-4f50-4617-8293-a4b5c6d7e8f9"));
}

void TestBackupUtils::backupDirectories_data()
{
    // "name=whole" and "name=cut" are tar archives ending with and without their end-of-archive marker.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<bool>("isBackup");
    const QStringList summed{"opt.tar", "opt.tar.md5", "var.tar", "var.tar.md5"};
    QTest::newRow("image and two archives")
        << QStringList{"root.rbk", "root.rbk.md5"} + summed << QStringList() << true;
    QTest::newRow("two images, two archives")
        << QStringList{"root.rbk", "root.rbk.md5", "boot.rbk", "boot.rbk.md5"} + summed << QStringList() << true;
    QTest::newRow("one archive") << QStringList{"root.rbk", "root.rbk.md5", "opt.tar", "opt.tar.md5"} << QStringList()
                                 << false;
    QTest::newRow("no archive") << QStringList{"root.rbk", "root.rbk.md5"} << QStringList() << false;
    QTest::newRow("three archives") << QStringList{"root.rbk", "root.rbk.md5", "home.tar", "home.tar.md5"} + summed
                                    << QStringList() << false;
    QTest::newRow("archives, no image") << summed << QStringList() << false;
    QTest::newRow("directories named like archives")
        << QStringList{"root.rbk", "root.rbk.md5", "opt.tar", "opt.tar.md5", "var.tar.md5"} << QStringList{"var.tar"}
        << false;
    QTest::newRow("directory named like an image") << summed << QStringList{"root.rbk"} << false;
    QTest::newRow("empty") << QStringList() << QStringList() << false;
    // Checksums are written last: one missing is a backup cut off.
    QTest::newRow("an image without its checksum")
        << QStringList{"root.rbk", "root.rbk.md5", "boot.rbk"} + summed << QStringList() << false;
    QTest::newRow("an archive without its checksum")
        << QStringList{"root.rbk", "root.rbk.md5", "opt.tar", "opt.tar.md5", "var.tar=whole"} << QStringList() << false;
    QTest::newRow("checksum directory") << QStringList{"root.rbk", "opt.tar", "opt.tar.md5", "var.tar", "var.tar.md5"}
                                        << QStringList{"root.rbk.md5"} << false;
    // Backups from before archives had checksums.
    QTest::newRow("archives without checksums, whole")
        << QStringList{"root.rbk", "root.rbk.md5", "opt.tar=whole", "var.tar=whole"} << QStringList() << true;
    QTest::newRow("archives without checksums, one cut")
        << QStringList{"root.rbk", "root.rbk.md5", "opt.tar=whole", "var.tar=cut"} << QStringList() << false;
}

void TestBackupUtils::backupDirectories()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, dirs);
    QFETCH(bool, isBackup);
    FakeTools tools({"sudo"});
    tools.setBehaviour("sudo", "--exec");
    QTemporaryDir dir;
    for (const QString& file : files) {
        const QString path = dir.filePath(file.section('=', 0, 0));
        const QString kind = file.section('=', 1);
        if (kind.isEmpty()) {
            QVERIFY(writeFile(path, QByteArray()));
            continue;
        }
        QVERIFY(LiveTest::MaliciousBackup::writeArchive(path, "UUID=u\nDirectory=var\n",
                                                        {{"var/a", "a\n", QString()}, {"var/b", "b\n", QString()}}));
        // Cut at the second member's header, as a copy cut off leaves it: tar itself lists it without complaint.
        QVERIFY(kind != "cut" || QFile::resize(path, 4 * 512));
    }
    for (const QString& name : dirs) {
        QVERIFY(QDir(dir.path()).mkdir(name));
    }
    QCOMPARE(Utils::isBackupDirectory(dir.path()), isBackup);
    QVERIFY(!Utils::isBackupDirectory(dir.filePath("missing")));
}

QTEST_GUILESS_MAIN(TestBackupUtils)
#include "tst_backuputils.moc"
