#include "Startup.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "udisks2/UDisks2Partition.h"
#include "utils.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

// Runs inside the fabricated live environment: real loop partitions, a real udisksd on a private system bus.
namespace {

QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

bool run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, args);
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = process.exitCode();
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool isMounted(const QString& mountPath)
{
    QFile mounts("/proc/self/mounts");
    if (!mounts.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QStringList lines = QString::fromUtf8(mounts.readAll()).split('\n');
    for (const QString& line : lines) {
        if (line.section(' ', 1, 1) == mountPath) {
            return true;
        }
    }
    return false;
}

QString blockObjectOf(const QString& devicePath)
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (device && QString::fromUtf8(device->device()).remove(QChar(0)) == devicePath) {
            return path;
        }
    }
    return QString();
}

// udisks' view of a device after a change made behind its back.
void announceChange(const QString& devicePath)
{
    run("udevadm", {"trigger", "--action=change", "--settle", devicePath});
}

bool carriesNoFileSystem(const QString& devicePath)
{
    std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(blockObjectOf(devicePath));
    return device && device->idType().isEmpty() && device->idUUID().isEmpty();
}

// A partition's bytes kept aside and written back, whatever the test does to it meanwhile, until udisks sees its
// file system again.
class SavedPartition
{
public:
    SavedPartition(const QString& devicePath, const QString& uuid) : m_device(devicePath), m_uuid(uuid)
    {
        m_saved = m_dir.isValid() && run("dd", {"if=" + m_device, "of=" + copy(), "bs=1M", "status=none"});
    }
    ~SavedPartition()
    {
        if (m_saved) {
            restore();
        }
    }
    bool saved() const { return m_saved; }
    bool restore()
    {
        m_saved = false;
        if (!run("dd", {"if=" + copy(), "of=" + m_device, "bs=1M", "conv=fsync", "status=none"})) {
            return false;
        }
        announceChange(m_device);
        return QTest::qWaitFor([this] { return UDisks2Manager::blockDeviceByUUID(m_uuid) != nullptr; }, 60000);
    }

private:
    QString copy() const { return m_dir.filePath("partition.img"); }

    QTemporaryDir m_dir;
    QString m_device;
    QString m_uuid;
    bool m_saved = false;
};

// What is mounted where, from block devices: a look that leaves everything as it found it keeps this unchanged.
QStringList blockMounts()
{
    QFile mounts("/proc/self/mounts");
    if (!mounts.open(QIODevice::ReadOnly)) {
        return {"/proc/self/mounts unreadable"};
    }
    QStringList found;
    for (const QString& line : QString::fromUtf8(mounts.readAll()).split('\n')) {
        if (line.startsWith("/dev/")) {
            found.append(line.section(' ', 0, 1));
        }
    }
    found.sort();
    return found;
}

// The fabricated disk's partitions that hold a file system.
const char* const FileSystemUUIDs[] = {"MARLIN_BOOT_UUID", "MARLIN_EFI_UUID", "MARLIN_ROOT_UUID", "MARLIN_DATA_UUID",
                                       "MARLIN_RECOVERY_UUID"};

void unmountAll()
{
    for (const char* key : FileSystemUUIDs) {
        Utils::umountDeviceByUUID(env(key));
    }
}

// Mounted by "someone else" (as the programs do, through UDisks2) for the length of a scope.
class MountedByOthers
{
public:
    explicit MountedByOthers(const QStringList& keys)
    {
        for (const QString& key : keys) {
            const QString uuid = env(qPrintable(key));
            if (!Utils::mountDeviceByUUID(uuid).isEmpty()) {
                m_uuids.append(uuid);
            }
        }
        m_complete = m_uuids.size() == keys.size();
    }
    ~MountedByOthers()
    {
        for (const QString& uuid : m_uuids) {
            Utils::umountDeviceByUUID(uuid);
        }
    }
    bool complete() const { return m_complete; }

private:
    QStringList m_uuids;
    bool m_complete = false;
};

bool makeBackupDir(const QString& dir, int rbkCount, int tarCount)
{
    if (!QDir().mkpath(dir)) {
        return false;
    }
    // Each with its checksum file, as a backup that was not cut off has them.
    for (int i = 0; i < rbkCount; ++i) {
        for (const QString& suffix : {QString(), QString(".md5")}) {
            QFile(dir + QString("/part%1.rbk").arg(i) + suffix).open(QIODevice::WriteOnly);
        }
    }
    for (int i = 0; i < tarCount; ++i) {
        for (const QString& suffix : {QString(), QString(".md5")}) {
            QFile(dir + QString("/archive%1.tar").arg(i) + suffix).open(QIODevice::WriteOnly);
        }
    }
    return true;
}

} // namespace

class TestPartitionUtilsLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void liveSystemIsRecognised();
    void blockDeviceObjects();
    void mountAndUnmountByUUID();
    void historyOfManualBackups();
    void fsckFindsAndRepairsDamage();
    void swapSizeOfARealPartition();
    void damagedFileSystemFoundByItsBackupSuperblock_data();
    void damagedFileSystemFoundByItsBackupSuperblock();
    void recoverySearchLeavesMountsAsFound_data();
    void recoverySearchLeavesMountsAsFound();
    void startupLookLeavesTheRootAsFound_data();
    void startupLookLeavesTheRootAsFound();
    void restoreRecordCheck_data();
    void restoreRecordCheck();
};

void TestPartitionUtilsLive::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
}

void TestPartitionUtilsLive::liveSystemIsRecognised()
{
    CmdLineInfo info;
    QVERIFY(Utils::getCmdLineInfo(info));
    QCOMPARE(info.rootUUID, env("MARLIN_ROOT_UUID"));
    QCOMPARE(Utils::getLiveType("/etc/fstab"), 1);

    const QString byLabel = "/dev/disk/by-label/Roota";
    if (QFileInfo(byLabel).isSymLink()) {
        CmdLineInfo linked;
        Utils::parseCmdLine("root=" + byLabel + " ro", linked);
        QCOMPARE(linked.rootUUID, env("MARLIN_ROOT_UUID"));
    }
}

void TestPartitionUtilsLive::blockDeviceObjects()
{
    const QString rootObject = blockObjectOf(env("MARLIN_ROOT_DEV"));
    QVERIFY(!rootObject.isEmpty());
    std::unique_ptr<UDisks2BlockDevice> root = UDisks2Manager::createBlockDevice(rootObject);
    QVERIFY(root);
    QCOMPARE(root->idUUID(), env("MARLIN_ROOT_UUID"));
    QCOMPARE(root->idType(), QString("ext4"));
    QVERIFY(root->device().endsWith('\0'));

    std::unique_ptr<UDisks2Partition> partition = UDisks2Manager::createPartition(rootObject);
    QVERIFY(partition);
    QCOMPARE(partition->table(), blockObjectOf(env("MARLIN_LOOP")));

    std::unique_ptr<UDisks2BlockDevice> swap = UDisks2Manager::createBlockDevice(blockObjectOf(env("MARLIN_SWAP_DEV")));
    QVERIFY(swap);
    QCOMPARE(swap->idType(), QString("swap"));

    QVERIFY(!UDisks2Manager::createBlockDevice("/org/freedesktop/UDisks2/block_devices/marlin_none"));
    QVERIFY(!UDisks2Manager::createPartition(blockObjectOf(env("MARLIN_LOOP"))));
}

void TestPartitionUtilsLive::mountAndUnmountByUUID()
{
    const QString uuid = env("MARLIN_DATA_UUID");
    const QString mountPath = Utils::mountDeviceByUUID(uuid);
    QVERIFY(!mountPath.isEmpty());
    QVERIFY(isMounted(mountPath));
    QVERIFY(QFileInfo::exists(mountPath + "/home"));
    // Mounting again answers with the existing mount point.
    QCOMPARE(Utils::mountDeviceByUUID(uuid), mountPath);

    Utils::umountDeviceByUUID(uuid);
    QVERIFY(!isMounted(mountPath));
    std::unique_ptr<UDisks2BlockDevice> data = UDisks2Manager::createBlockDevice(blockObjectOf(env("MARLIN_DATA_DEV")));
    QVERIFY(data);
    QVERIFY(data->mountPoints().isEmpty());

    QCOMPARE(Utils::mountDeviceByUUID("00000000-0000-0000-0000-00000000dead"), QString());
    Utils::umountDeviceByUUID("00000000-0000-0000-0000-00000000dead");
}

void TestPartitionUtilsLive::historyOfManualBackups()
{
    const QString dataUUID = env("MARLIN_DATA_UUID");
    const QString recoveryUUID = env("MARLIN_RECOVERY_UUID");
    const QString dataMount = Utils::mountDeviceByUUID(dataUUID);
    const QString recoveryMount = Utils::mountDeviceByUUID(recoveryUUID);
    QVERIFY(!dataMount.isEmpty() && !recoveryMount.isEmpty());
    QVERIFY(makeBackupDir(dataMount + "/marlin-backups/older", 2, 2));
    QVERIFY(makeBackupDir(dataMount + "/marlin-backups/newer", 1, 2));
    QVERIFY(makeBackupDir(dataMount + "/marlin-backups/incomplete", 1, 3));
    QVERIFY(makeBackupDir(dataMount + "/marlin-backups/no-image", 0, 2));
    const QString historyFile = recoveryMount + "/backup/savePath.json";
    QVERIFY(QDir().mkpath(recoveryMount + "/backup"));
    QFile history(historyFile);
    QVERIFY(history.open(QIODevice::WriteOnly));
    history.write(QString(R"({"%1": {"1700000000": "/marlin-backups/older", "1710000000": "/marlin-backups/newer",
                             "1705000000": "/marlin-backups/incomplete", "1690000000": "/marlin-backups/no-image"},
                         "00000000-0000-0000-0000-00000000dead": {"1720000000": "/gone"}})")
                      .arg(dataUUID)
                      .toUtf8());
    history.close();
    Utils::umountDeviceByUUID(dataUUID);

    QList<BackupFileInfo> list;
    Utils::getHistoryBackup(list, historyFile, true);
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).createTime, QString("1710000000"));
    QCOMPARE(list.at(1).createTime, QString("1700000000"));
    QCOMPARE(list.at(0).backupUUID, dataUUID);
    QVERIFY(list.at(0).backupPath.endsWith("/marlin-backups/newer"));
    QCOMPARE(list.at(1).backupTime, QDateTime::fromSecsSinceEpoch(1700000000).toString("yyyy/MM/dd"));
    // umountAfter leaves the backup device unmounted.
    QVERIFY(!isMounted(dataMount));

    const auto pairs = Utils::getHistoryBackupPathList(historyFile).value<BackupPathList>();
    QCOMPARE(pairs.size(), 4);
    QCOMPARE(pairs.first().first, QString("1710000000"));
    QCOMPARE(pairs.last().first, QString("1690000000"));
    QVERIFY(pairs.first().second.endsWith("/marlin-backups/newer"));

    Utils::umountDeviceByUUID(dataUUID);
    Utils::umountDeviceByUUID(recoveryUUID);
}

void TestPartitionUtilsLive::fsckFindsAndRepairsDamage()
{
    const QString spare = env("MARLIN_SPARE_DEV");
    QVERIFY(!Utils::checkPartitionErrorByFsck(spare));

    // A directory entry that points at a cleared inode: fsck -n must report it, fsck -y must repair it.
    QVERIFY(run("debugfs", {"-w", "-R", "mkdir /victim", spare}));
    QVERIFY(run("debugfs", {"-w", "-R", "clri /victim", spare}));
    // As the kernel does when it meets the damage: the file system is marked as having errors.
    QVERIFY(run("debugfs", {"-w", "-R", "ssv state 2", spare}));
    QVERIFY(Utils::checkPartitionErrorByFsck(spare));

    QString output;
    QString err;
    QVERIFY2(Utils::fixPartitionByFsck(spare, output, err), qPrintable(output + err));
    QVERIFY(!output.isEmpty());
    QVERIFY(!Utils::checkPartitionErrorByFsck(spare));
    QString again;
    QVERIFY(Utils::fixPartitionByFsck(spare, again, err));
}

void TestPartitionUtilsLive::swapSizeOfARealPartition()
{
    qint64 size = 0;
    QVERIFY(Utils::getSwapPartitionSize(env("MARLIN_SWAP_DEV"), size));
    QCOMPARE(size, qint64(256) * 1024 * 1024);
}

void TestPartitionUtilsLive::damagedFileSystemFoundByItsBackupSuperblock_data()
{
    // The first backup superblock lies at the start of block group 1: block 8193 with 1 KiB blocks (block 0 is
    // the boot block), 16384 with 2 KiB, 32768 with 4 KiB; a partition that holds a second group.
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<QString>("partition");
    QTest::newRow("1 KiB blocks") << 1024 << "SPARE";
    QTest::newRow("2 KiB blocks") << 2048 << "SPARE";
    QTest::newRow("4 KiB blocks") << 4096 << "BTRFS";
}

void TestPartitionUtilsLive::damagedFileSystemFoundByItsBackupSuperblock()
{
    QFETCH(int, blockSize);
    QFETCH(QString, partition);
    const QString device = env(qPrintable("MARLIN_" + partition + "_DEV"));
    SavedPartition saved(device, env(qPrintable("MARLIN_" + partition + "_UUID")));
    QVERIFY(saved.saved());
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QVERIFY(run("mkfs.ext4", {"-q", "-F", "-b", QString::number(blockSize), "-U", uuid, device}));
    // Its start zeroed, as a restore cut off early leaves it: the first superblock and group descriptors are gone.
    QVERIFY(run("dd", {"if=/dev/zero", "of=" + device, "bs=64K", "count=1", "conv=fsync", "status=none"}));
    announceChange(device);
    QVERIFY(QTest::qWaitFor([&device] { return carriesNoFileSystem(device); }, 60000));

    QCOMPARE(Utils::devicePathOfDamagedFileSystem(uuid), device);
    QCOMPARE(Utils::devicePathOfDamagedFileSystem(QUuid::createUuid().toString(QUuid::WithoutBraces)), QString());
    QVERIFY(saved.restore());
}

void TestPartitionUtilsLive::recoverySearchLeavesMountsAsFound_data()
{
    QTest::addColumn<bool>("rootKnown");
    QTest::addColumn<QStringList>("mountedBefore");

    QTest::newRow("nothing mounted") << true << QStringList();
    // No partition names an unknown root: every one is looked at.
    QTest::newRow("nothing mounted, every partition looked at") << false << QStringList();
    QTest::newRow("recovery mounted by another") << true << QStringList{"MARLIN_RECOVERY_UUID"};
    QTest::newRow("several mounted by others, every partition looked at")
        << false << QStringList{"MARLIN_RECOVERY_UUID", "MARLIN_DATA_UUID", "MARLIN_BOOT_UUID"};
}

// The search by content mounts a partition only for its look: those it mounted are unmounted again, those mounted
// before stay where they were.
void TestPartitionUtilsLive::recoverySearchLeavesMountsAsFound()
{
    QFETCH(bool, rootKnown);
    QFETCH(QStringList, mountedBefore);

    unmountAll();
    const MountedByOthers others(mountedBefore);
    QVERIFY(others.complete());
    const QStringList before = blockMounts();
    const QString rootUUID = rootKnown ? env("MARLIN_ROOT_UUID") : "00000000-0000-4000-8000-00000000beef";
    const QString found = Utils::findRecoveryUUID(QString(), rootUUID);
    QCOMPARE(blockMounts(), before);
    if (rootKnown) {
        QCOMPARE(found, env("MARLIN_RECOVERY_UUID"));
    }
}

void TestPartitionUtilsLive::startupLookLeavesTheRootAsFound_data()
{
    QTest::addColumn<bool>("rootMountedBefore");
    QTest::addColumn<bool>("liveGrub");

    QTest::newRow("cut-off restore, root not mounted") << false << true;
    QTest::newRow("cut-off restore, root mounted by another") << true << true;
    QTest::newRow("flags and order, root not mounted") << false << false;
    QTest::newRow("flags and order, root mounted by another") << true << false;
}

// The window's start-up looks (for a cut-off restore; for the repair flags and a pending order) mount the root and
// the recovery partition only to read them: both are unmounted again unless someone else had them mounted, so that
// a restore can write them.
void TestPartitionUtilsLive::startupLookLeavesTheRootAsFound()
{
    QFETCH(bool, rootMountedBefore);
    QFETCH(bool, liveGrub);

    unmountAll();
    const MountedByOthers others(rootMountedBefore ? QStringList{"MARLIN_ROOT_UUID"} : QStringList());
    QVERIFY(others.complete());
    const QStringList before = blockMounts();
    CmdLineInfo cmdLine;
    QVERIFY(Utils::getCmdLineInfo(cmdLine));
    QString recoveryUUID;
    if (liveGrub) {
        Startup::findInterruptedRestore(cmdLine, &recoveryUUID);
    } else {
        recoveryUUID = Startup::isExistAutoRepairFlag(cmdLine).recoveryUUID;
    }
    QCOMPARE(recoveryUUID, env("MARLIN_RECOVERY_UUID"));
    QCOMPARE(blockMounts(), before);
}

void TestPartitionUtilsLive::restoreRecordCheck_data()
{
    QTest::addColumn<QString>("mount");
    QTest::addColumn<bool>("takesRecord");

    QTest::newRow("not mounted") << "none" << true;
    QTest::newRow("mounted") << "rw" << true;
    QTest::newRow("mounted read-only") << "ro" << false;
    QTest::newRow("no such partition") << "missing" << false;
}

// Whether the recovery partition can take the record of a restore, wherever it is mounted; the look leaves the
// mounts as it found them.
void TestPartitionUtilsLive::restoreRecordCheck()
{
    QFETCH(QString, mount);
    QFETCH(bool, takesRecord);

    unmountAll();
    std::unique_ptr<UDisks2BlockDevice> recovery =
        UDisks2Manager::createBlockDevice(blockObjectOf(env("MARLIN_RECOVERY_DEV")));
    QVERIFY(recovery);
    if (mount == "rw" || mount == "ro") {
        recovery->mount(mount == "ro" ? QVariantMap{{"options", "ro"}} : QVariantMap());
        QVERIFY(!recovery->mountPoints().isEmpty());
    }
    const QStringList before = blockMounts();
    const QString uuid = mount == "missing" ? "00000000-0000-4000-8000-00000000beef" : env("MARLIN_RECOVERY_UUID");
    QCOMPARE(Utils::recoveryCanTakeRestoreMark(uuid), takesRecord);
    QCOMPARE(blockMounts(), before);
    unmountAll();
}

QTEST_GUILESS_MAIN(TestPartitionUtilsLive)
#include "tst_partitionutils_live.moc"
