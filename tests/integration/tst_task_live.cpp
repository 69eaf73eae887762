#include "LiveService.h"
#include "tasks/Task.h"
#include "utils.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QtTest>

// What every task knows and does on the fabricated machine: identification, mounting, boot repair, edition
// conversion and log preservation. The live scripts are stand-ins that record their calls in /home/marlin.
namespace {

using namespace LiveTest;

// Changes a file of a partition for the length of a test and puts the old content back afterwards.
class PartitionFile
{
public:
    PartitionFile(const QString& uuid, const QString& relative) : m_uuid(uuid), m_relative(relative)
    {
        const QString mountPath = Utils::mountDeviceByUUID(m_uuid);
        m_existed = QFile::exists(mountPath + m_relative);
        m_original = readFile(mountPath + m_relative);
        Utils::umountDeviceByUUID(m_uuid);
    }
    ~PartitionFile()
    {
        const QString mountPath = Utils::mountDeviceByUUID(m_uuid);
        if (m_existed) {
            writeFile(mountPath + m_relative, m_original);
        } else {
            QFile::remove(mountPath + m_relative);
        }
        Utils::umountDeviceByUUID(m_uuid);
    }
    bool write(const QByteArray& content) const
    {
        const bool ok = writeFile(Utils::mountDeviceByUUID(m_uuid) + m_relative, content);
        Utils::umountDeviceByUUID(m_uuid);
        return ok;
    }
    QByteArray original() const { return m_original; }

private:
    QString m_uuid;
    QString m_relative;
    bool m_existed = false;
    QByteArray m_original;
};

QStringList scriptCalls()
{
    return QString::fromUtf8(readFile("/home/marlin/scripts.log")).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestTaskLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void identification();
    void dataPartitionWithoutItsRecord_data();
    void dataPartitionWithoutItsRecord();
    void rootGivenAsADeviceLink();
    void btrfsMountedWithTheInstalledCompression();
    void fstabMapAndMinorVersionThroughALink_data();
    void fstabMapAndMinorVersionThroughALink();
    void driveLookUps();
    void editionConversion();
    void bootRepairOnALegacyMachine();
    void logPreservation();
};

void TestTaskLive::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
}

void TestTaskLive::init()
{
    QFile::remove("/home/marlin/scripts.log");
}

void TestTaskLive::identification()
{
    PartitionFile dataInfo(env("MARLIN_RECOVERY_UUID"), "/backup/_mde_data.info");
    PartitionFile systemInfo(env("MARLIN_RECOVERY_UUID"), "/backup/system.info");
    QVERIFY(dataInfo.write(env("MARLIN_DATA_UUID").toUtf8() + "\n"));
    QVERIFY(systemInfo.write("  " + env("MARLIN_ROOT_UUID").toUtf8() + "\n"));
    Task task;
    QCOMPARE(task.rootUUID(), env("MARLIN_ROOT_UUID"));
    QCOMPARE(task.recoveryUUID(), env("MARLIN_RECOVERY_UUID"));
    QCOMPARE(task.dataUUID(), env("MARLIN_DATA_UUID"));
    QCOMPARE(task.originRootUUID(), env("MARLIN_ROOT_UUID"));
    QCOMPARE(task.desktopType(), QString("Professional"));
    QCOMPARE(task.curVerSysType(), QString("Professional"));
    QCOMPARE(task.systemLocale(), QString("de_DE"));
    QCOMPARE(task.isUEFI(), QFileInfo::exists("/sys/firmware/efi"));
    // Mounted only while their files were read.
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));
    QVERIFY(!isMounted(env("MARLIN_RECOVERY_DEV")));
}

void TestTaskLive::dataPartitionWithoutItsRecord_data()
{
    QTest::addColumn<bool>("empty");
    QTest::newRow("record missing") << false;
    QTest::newRow("record empty") << true;
}

// Keeping personal files depends on knowing the data partition: without the recovery partition's record of it, the
// installed fstab's /data entry tells.
void TestTaskLive::dataPartitionWithoutItsRecord()
{
    QFETCH(bool, empty);
    PartitionFile dataInfo(env("MARLIN_RECOVERY_UUID"), "/backup/_mde_data.info");
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    QFile::remove(recovery + "/backup/_mde_data.info");
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    if (empty) {
        QVERIFY(dataInfo.write("\n"));
    }
    PartitionFile desktop(env("MARLIN_ROOT_UUID"), "/usr/lib/marlin/desktop-version");
    QVERIFY(desktop.write("[Version]\nEditionName=Community\n"));
    Task task;
    QCOMPARE(task.dataUUID(), env("MARLIN_DATA_UUID"));
    // No Release/Type: the default edition.
    QCOMPARE(task.desktopType(), QString("Professional"));
}

void TestTaskLive::rootGivenAsADeviceLink()
{
    const QString link = "/dev/disk/by-label/Roota";
    if (!QFileInfo(link).isSymLink()) {
        QSKIP("udev made no by-label links here");
    }
    QTemporaryFile cmdLine;
    QVERIFY(cmdLine.open());
    cmdLine.write("BOOT_IMAGE=/vmlinuz root=" + link.toUtf8() + " ro quiet\n");
    cmdLine.close();
    QVERIFY(run("mount", {"--bind", cmdLine.fileName(), "/proc/cmdline"}));
    const Task task;
    QVERIFY(run("umount", {"/proc/cmdline"}));
    QCOMPARE(task.rootUUID(), env("MARLIN_ROOT_UUID"));
    QCOMPARE(task.recoveryUUID(), env("MARLIN_RECOVERY_UUID"));
}

void TestTaskLive::btrfsMountedWithTheInstalledCompression()
{
    PartitionFile fstab(env("MARLIN_ROOT_UUID"), "/etc/fstab");
    QVERIFY(fstab.write(fstab.original() + "UUID=" + env("MARLIN_BTRFS_UUID").toUtf8() +
                        " /srv btrfs defaults,compress=zstd 0 0\n"));
    Task task;
    const QString btrfs = task.mountDeviceFromUUID(env("MARLIN_BTRFS_UUID"));
    QVERIFY(!btrfs.isEmpty());
    const QString btrfsOptions = mountOptionsOf(env("MARLIN_BTRFS_DEV"));
    task.umountDeviceFromUUID(env("MARLIN_BTRFS_UUID"));
    QVERIFY2(btrfsOptions.contains("compress=zstd"), qPrintable(btrfsOptions));

    const QString data = task.mountDeviceFromUUID(env("MARLIN_DATA_UUID"));
    QVERIFY(!data.isEmpty());
    // Already mounted: the same mount point, not a second mount.
    QCOMPARE(task.mountDeviceFromUUID(env("MARLIN_DATA_UUID")), data);
    const QString dataOptions = mountOptionsOf(env("MARLIN_DATA_DEV"));
    task.umountDeviceFromUUID(env("MARLIN_DATA_UUID"));
    QVERIFY(!dataOptions.contains("compress"));
    QVERIFY(!isMounted(env("MARLIN_DATA_DEV")));
    QCOMPARE(task.mountDeviceFromUUID("00000000-dead-beef-0000-000000000000"), QString());
    QCOMPARE(task.devicePathFromUUID(env("MARLIN_SWAP_UUID")), env("MARLIN_SWAP_DEV"));
}

void TestTaskLive::fstabMapAndMinorVersionThroughALink_data()
{
    QTest::addColumn<QString>("link");
    // A link inside the installed system must resolve inside it, not in the live system.
    QTest::newRow("absolute") << "/usr/lib/os-version";
    QTest::newRow("relative") << "../usr/lib/os-version";
}

void TestTaskLive::fstabMapAndMinorVersionThroughALink()
{
    QFETCH(QString, link);
    PartitionFile osVersion(env("MARLIN_ROOT_UUID"), "/etc/os-version");
    PartitionFile linked(env("MARLIN_ROOT_UUID"), "/usr/lib/os-version");
    QVERIFY(linked.write("[Version]\nEditionName=Professional\nMinorVersion=1039\n"));
    const QString root = Utils::mountDeviceByUUID(env("MARLIN_ROOT_UUID"));
    QFile::remove(root + "/etc/os-version");
    QVERIFY(QFile::link(link, root + "/etc/os-version"));
    Utils::umountDeviceByUUID(env("MARLIN_ROOT_UUID"));

    Task task;
    const QMap<QString, QString> map = task.getUUIDFromFstab();
    QCOMPARE(map.value("/"), env("MARLIN_ROOT_UUID"));
    QCOMPARE(map.value("/boot"), env("MARLIN_BOOT_UUID"));
    QCOMPARE(map.value("/boot/efi"), env("MARLIN_EFI_UUID"));
    QCOMPARE(map.value("none"), env("MARLIN_SWAP_UUID"));
    QVERIFY(!map.contains("/home"));
    QCOMPARE(task.osMinorVersion(), 1039);
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));

    const QString again = Utils::mountDeviceByUUID(env("MARLIN_ROOT_UUID"));
    QFile::remove(again + "/etc/os-version");
    Utils::umountDeviceByUUID(env("MARLIN_ROOT_UUID"));
}

void TestTaskLive::driveLookUps()
{
    Task task;
    // Loop devices have no UDisks2 drive: the drive name is empty, the disk is the loop device.
    const QPair<QString, QString> rootDisk = task.driveAndDiskFromUUID(env("MARLIN_ROOT_UUID"));
    QCOMPARE(rootDisk.second, env("MARLIN_LOOP"));
    QCOMPARE(task.diskPathFromDrive(rootDisk.first), env("MARLIN_LOOP"));
    QVERIFY(task.getDevicePathsFromDrive(rootDisk.first).contains(env("MARLIN_LOOP")));
    QCOMPARE(task.driveAndDiskFromUUID("00000000-dead-beef-0000-000000000000"), (QPair<QString, QString>()));
    QVERIFY(task.getDevicePathsFromDrive("no-such-drive").isEmpty());
}

void TestTaskLive::editionConversion()
{
    PartitionFile osVersion(env("MARLIN_ROOT_UUID"), "/etc/os-version");
    QVERIFY(osVersion.write("[Version]\nEditionName=E\nMinorVersion=1000\n"));
    Task task;
    QCOMPARE(task.curVerSysType(), QString("E"));
    // The restored image is an education edition too: nothing to convert.
    QVERIFY(task.convertVersion(env("MARLIN_ROOT_UUID")));
    QVERIFY(scriptCalls().isEmpty());
    // It is a professional one: converted once, with the root's mount point.
    QVERIFY(osVersion.write("[Version]\nEditionName=Professional\nMinorVersion=1000\n"));
    QVERIFY(task.convertVersion(env("MARLIN_ROOT_UUID")));
    const QStringList calls = scriptCalls();
    QCOMPARE(calls.size(), 1);
    QVERIFY2(calls.constFirst().startsWith("convert-version.sh /"), qPrintable(calls.constFirst()));
    QVERIFY(!task.convertVersion(QString()));
    Utils::umountDeviceByUUID(env("MARLIN_ROOT_UUID"));
}

void TestTaskLive::bootRepairOnALegacyMachine()
{
    if (QFileInfo::exists("/sys/firmware/efi")) {
        QSKIP("this machine boots by UEFI");
    }
    Task task;
    task.resetEFI();
    QCOMPARE(scriptCalls(), QStringList{"resetEFI " + env("MARLIN_BOOT_DEV") + " legacy " + env("MARLIN_LOOP")});
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));

    // Without a /boot entry nothing is run; the root entry is not used instead.
    PartitionFile fstab(env("MARLIN_ROOT_UUID"), "/etc/fstab");
    QByteArray withoutBoot;
    for (const QByteArray& line : fstab.original().split('\n')) {
        if (!line.contains("\t/boot\t")) {
            withoutBoot += line + "\n";
        }
    }
    QVERIFY(fstab.write(withoutBoot));
    QFile::remove("/home/marlin/scripts.log");
    Task other;
    other.resetEFI();
    QVERIFY(scriptCalls().isEmpty());
}

void TestTaskLive::logPreservation()
{
    PartitionFile dataInfo(env("MARLIN_RECOVERY_UUID"), "/backup/_mde_data.info");
    QVERIFY(dataInfo.write(env("MARLIN_DATA_UUID").toUtf8()));
    // The tasks keep these files in the service's private working directory, which main makes current.
    QTemporaryDir work;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    QVERIFY(writeFile(work.filePath("wtmp.bak"), QByteArray(384, '\1')));
    QVERIFY(writeFile("/home/marlin/marlin-recovery-live.log",
                      "open /home/alice/Documents/report.txt\ncopy /home/alice/a to /var/tmp/b\nplain line\n"));
    QVERIFY(writeFile("/home/marlin/marlin-recovery-service.log", "service run 1 in /home/bob/x/\n"));
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    for (const char* name : {"/marlin-recovery-live.log", "/marlin-recovery-live-old.log",
                             "/marlin-recovery-service.log", "/marlin-recovery-service-old.log"}) {
        QFile::remove(recovery + name);
    }
    QDir(recovery + "/event-log").removeRecursively();
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));

    Task task;
    const QJsonObject record{{"action", 2},
                             {"sub_actions", QJsonArray{QJsonObject{{"sub_action", 1}, {"timestamp", "x"}}}}};
    QVERIFY(task.writeEventLog(record, work.path()));
    task.saveLogToRecovery();
    QVERIFY(writeFile("/home/marlin/marlin-recovery-service.log", "service run 2\n"));
    task.saveLogToRecovery();

    const QString data = Utils::mountDeviceByUUID(env("MARLIN_DATA_UUID"));
    const QByteArray wtmp = readFile(data + "/var/log/wtmp.bak");
    QFile::remove(data + "/var/log/wtmp.bak");
    Utils::umountDeviceByUUID(env("MARLIN_DATA_UUID"));
    QCOMPARE(wtmp, QByteArray(384, '\1'));

    const QString saved = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    const QStringList events = QDir(saved + "/event-log").entryList({"live_restore_*.json"});
    const QByteArray liveLog = readFile(saved + "/marlin-recovery-live.log");
    const QByteArray serviceLog = readFile(saved + "/marlin-recovery-service.log");
    const QByteArray serviceLogOld = readFile(saved + "/marlin-recovery-service-old.log");
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    QDir::setCurrent(previousDir);

    QCOMPARE(events.size(), 1);
    QCOMPARE(liveLog, QByteArray("open /home/xxx/report.txt\ncopy /home/xxx/b\nplain line\n"));
    QCOMPARE(serviceLog, QByteArray("service run 2\n"));
    QCOMPARE(serviceLogOld, QByteArray("service run 1 in /home/xxx/\n"));
}

QTEST_GUILESS_MAIN(TestTaskLive)
#include "tst_task_live.moc"
