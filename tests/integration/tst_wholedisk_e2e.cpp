#include "FsTab.h"
#include "LiveService.h"
#include "Mounted.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

// A manual backup images the installed system's whole disk onto a second disk (a drive of its own), and the manual
// restore writes it back: through the real service, our cloning tool and udisksd on the fabricated machine.
namespace {

using namespace LiveTest;

const QString BackupDir = "/whole disk 1";
const QStringList PartitionKeys{"EFI", "BOOT", "ROOT", "DATA", "RECOVERY", "SWAP", "SPARE", "XFS", "BTRFS", "OEM"};
const QStringList Ext4Keys{"BOOT", "ROOT", "DATA", "RECOVERY", "SPARE"};

QString taskList(const QJsonArray& tasks)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", false}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
}

QString partitionDevice(const QString& key)
{
    return env(qPrintable("MARLIN_" + key + "_DEV"));
}

// The system disk's partitions that are mounted in this namespace (udisksd's mounts show up here).
QStringList mountedPartitions()
{
    QStringList mounted;
    for (const QString& key : PartitionKeys) {
        if (isMounted(partitionDevice(key))) {
            mounted.append(key);
        }
    }
    return mounted;
}

QMap<QString, QString> fileSystemUuids()
{
    QMap<QString, QString> uuids;
    for (const QString& key : PartitionKeys) {
        uuids.insert(key, output("blkid", {"-p", "-o", "value", "-s", "UUID", partitionDevice(key)}).trimmed());
    }
    return uuids;
}

// What each file system the task writes holds, by partition; the root's tree, boot's and the data partition's.
struct SystemFiles
{
    QMap<QString, QByteArray> root;
    QMap<QString, QByteArray> boot;
    QMap<QString, QByteArray> data;
};

SystemFiles systemFiles()
{
    SystemFiles files;
    const Mounted root(env("MARLIN_ROOT_UUID"));
    const Mounted boot(env("MARLIN_BOOT_UUID"));
    const Mounted data(env("MARLIN_DATA_UUID"));
    files.root = treeOf(root.path());
    files.boot = treeOf(boot.path());
    files.data = treeOf(data.path());
    return files;
}

} // namespace

class TestWholeDiskE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void backupImagesTheWholeDisk();
    void restoreBringsTheDiskBack();

private:
    QJsonObject runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded);

    LiveService* m_service = nullptr;
    SystemFiles m_atBackup;
    QString m_tableAtBackup;
    QMap<QString, QString> m_uuidsAtBackup;
};

void TestWholeDiskE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
    QVERIFY2(!env("MARLIN_SYSTEM_DRIVE").isEmpty(), "the system disk has no drive");
    QVERIFY2(!env("MARLIN_BACKUP_DRIVE").isEmpty(), "no backup disk (marlin-live-env add-backup-disk)");
    QCOMPARE(mountedPartitions(), QStringList());
}

void TestWholeDiskE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
}

QJsonObject TestWholeDiskE2E::runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call,
                                      bool* succeeded)
{
    delete m_service;
    m_service = new LiveService;
    return m_service->start() ? m_service->runTask(call, succeeded) : QJsonObject();
}

void TestWholeDiskE2E::backupImagesTheWholeDisk()
{
    m_atBackup = systemFiles();
    m_tableAtBackup = output("sfdisk", {"--dump", env("MARLIN_LOOP")});
    m_uuidsAtBackup = fileSystemUuids();
    QVERIFY(!m_tableAtBackup.isEmpty());

    const QString root = "root:" + env("MARLIN_ROOT_UUID");
    const QString backup = "backup:" + env("MARLIN_BACKUP_UUID");
    const QJsonArray tasks{
        QJsonObject{{"command", "create-backup-image"}, {"args", QJsonArray{root, backup, BackupDir, "system.rbk"}}}};
    bool ok = false;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ManualBackup(LiveService::request(3, "whole-1", {{"recoveryInfo", taskList(tasks)}})).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(mountedPartitions(), QStringList());

    const Mounted saved(env("MARLIN_BACKUP_UUID"));
    const QString dir = saved + BackupDir;
    QCOMPARE(QDir(dir).entryList({"*.rbk"}), QStringList{"system.rbk"});
    int code = -1;
    output("md5sum", {"-c", "--", dir + "/system.rbk.md5"}, &code);
    QCOMPARE(code, 0);
    const QString info = output("marlin-clone", {"--rbk-info", dir + "/system.rbk"}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(info.contains("DiskInfo"), qPrintable(info));
    QTemporaryDir work;
    output("marlin-clone", {"--read-custom-file", "rbk://" + dir + "/system.rbk/DiskInfo", work.filePath("DiskInfo")});
    QCOMPARE(readFile(work.filePath("DiskInfo")),
             "DiskDrive=" + env("MARLIN_SYSTEM_DRIVE").toUtf8() + "\nVersion=1.1\n");
}

void TestWholeDiskE2E::restoreBringsTheDiskBack()
{
    QVERIFY(!m_atBackup.root.isEmpty());
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted boot(env("MARLIN_BOOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(root + "/etc/hostname", "changed-after-backup\n"));
        QVERIFY(writeFile(root + "/usr/bin/new-tool", "#!/bin/sh\n"));
        QVERIFY(QFile::remove(root + "/usr/share/doc/README"));
        QVERIFY(writeFile(boot + "/grub/grub.cfg", "set default=1\n"));
        QVERIFY(writeFile(boot + "/vmlinuz-6.2.0-marlin-amd64", QByteArray(300000, 'k')));
        QVERIFY(QFile::remove(boot + "/config-6.1.0-marlin-amd64"));
        QVERIFY(writeFile(data + "/home/alice/Documents/report.txt", "Revenue went down.\n"));
        QVERIFY(writeFile(data + "/home/bob/Pictures/new.txt", "new\n"));
        QVERIFY(QFile::remove(data + "/home/bob/notes.md"));
    }
    QCOMPARE(mountedPartitions(), QStringList());
    bool ok = false;
    QJsonObject outcome;
    {
        const Mounted source(env("MARLIN_BACKUP_UUID"));
        const QString backupDir = source + BackupDir;
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "whole-2", {{"backupDir", backupDir}})).value();
            },
            &ok);
    }
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    // Nothing the task mounted on the restored disk is left mounted.
    QCOMPARE(mountedPartitions(), QStringList());

    QCOMPARE(output("sfdisk", {"--dump", env("MARLIN_LOOP")}), m_tableAtBackup);
    QCOMPARE(fileSystemUuids(), m_uuidsAtBackup);
    for (const QString& key : Ext4Keys) {
        int code = -1;
        const QString report = output("e2fsck", {"-n", "-f", partitionDevice(key)}, &code);
        QVERIFY2(code == 0, qPrintable(key + ": " + report));
    }

    const SystemFiles restored = systemFiles();
    QCOMPARE(restored.root, m_atBackup.root);
    QCOMPARE(restored.boot, m_atBackup.boot);
    QMap<QString, QByteArray> data = restored.data;
    // The login records the task kept aside come back beside the restored ones.
    QVERIFY(data.contains("/var/log/wtmp.bak"));
    data.remove("/var/log/wtmp.bak");
    QCOMPARE(data, m_atBackup.data);

    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const QString swap = FSTab::swapUUID(FSTab::getFSTabFromFile(root + "/etc/fstab"));
        QVERIFY(!swap.isEmpty());
        QCOMPARE(output("blkid", {"-p", "-o", "value", "-s", "UUID", env("MARLIN_SWAP_DEV")}).trimmed(), swap);
        QCOMPARE(output("blkid", {"-p", "-o", "value", "-s", "TYPE", env("MARLIN_SWAP_DEV")}).trimmed(),
                 QString("swap"));
    }
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!QDir(recovery + "/event-log").entryList({"live_restore_*.json"}).isEmpty());
    QVERIFY(readFile(recovery + "/marlin-recovery-service.log").contains("ManualRestore, req: "));
}

QTEST_GUILESS_MAIN(TestWholeDiskE2E)
#include "tst_wholedisk_e2e.moc"
