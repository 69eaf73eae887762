#include "FsTab.h"
#include "LiveService.h"
#include "Mounted.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <algorithm>

// A manual backup images the installed system's whole disk onto a second disk (a drive of its own), and the manual
// restore writes it back: through the real service, our cloning tool and udisksd on the fabricated machine.
namespace {

using namespace LiveTest;

const QString BackupDir = "/whole disk 1";
const QString DoomedFile = "/marlin-wholedisk-test/removed-after-backup.txt";

QString taskList(const QJsonArray& tasks)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", false}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
}

// What each file system the task writes holds, by partition; the root's tree, boot's and the data partition's.
struct SystemFiles
{
    QMap<QString, QByteArray> root;
    QMap<QString, QByteArray> boot;
    QMap<QString, QByteArray> data;
};

// Whatever a restore's outcome, the task puts the login records it kept aside into the data partition's var/log (and
// makes that directory when it was not there): tree without what it added there compared to the reference.
QMap<QString, QByteArray> withoutLoginRecords(QMap<QString, QByteArray> tree,
                                              const QMap<QString, QByteArray>& reference)
{
    for (const QString& path : {QString("/var/log/wtmp.bak"), QString("/var/log/wtmp"), QString("/var/log")}) {
        if (!reference.contains(path) || path.endsWith(".bak")) {
            tree.remove(path);
        }
    }
    return tree;
}

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
    void badWholeDiskBackupsAreRefused_data();
    void badWholeDiskBackupsAreRefused();
    void wholeDiskBackupOnTheSystemDiskIsRefused();
    void restoreBringsTheDiskBack();
    void partitionHeldOpenReadsTheRestoredData();
    void everyRestoredFileSystemIsChecked_data();
    void everyRestoredFileSystemIsChecked();
    void partitionTheTableLacksFailsTheRestore();
    void swapSignatureMadeAgain_data();
    void swapSignatureMadeAgain();
    void restoreOntoTheRenamedDisk();

private:
    // Changes files on root, boot and data, then restores the backup; the outcome's error text, empty on success.
    // beforeRestore runs between the two.
    QString changeAndRestore(const std::function<void()>& beforeRestore = {});
    QJsonObject runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded);
    // A whole-disk backup of the system disk into dir on the backup disk; the failure's text, empty on success.
    QString backUpWholeDisk(const QString& dir);
    // Restores the backup in dir below the mounted file system with uuid; the outcome's payload.
    QJsonObject restoreFrom(const QString& uuid, const QString& dir, bool* succeeded);

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

QString TestWholeDiskE2E::backUpWholeDisk(const QString& dir)
{
    const QJsonArray tasks{QJsonObject{{"command", "create-backup-image"},
                                       {"args", QJsonArray{"root:" + env("MARLIN_ROOT_UUID"),
                                                           "backup:" + env("MARLIN_BACKUP_UUID"), dir, "system.rbk"}}}};
    bool ok = false;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ManualBackup(LiveService::request(3, "whole-backup", {{"recoveryInfo", taskList(tasks)}}))
                .value();
        },
        &ok);
    return ok ? QString() : "backup failed: " + outcome.value("errMsg").toString();
}

QJsonObject TestWholeDiskE2E::restoreFrom(const QString& uuid, const QString& dir, bool* succeeded)
{
    const Mounted source(uuid);
    const QString backupDir = source + dir;
    return runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ManualRestore(LiveService::request(2, "whole-restore", {{"backupDir", backupDir}})).value();
        },
        succeeded);
}

void TestWholeDiskE2E::backupImagesTheWholeDisk()
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted boot(env("MARLIN_BOOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        for (const Mounted* mounted : {&root, &boot, &data}) {
            QVERIFY(writeFile(*mounted + DoomedFile, "removed after the backup\n"));
        }
    }
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
    // Where the last partition ends: what a smaller disk must hold.
    qint64 end = 0;
    for (const QString& last :
         output("partx", {"--show", "--noheadings", "-o", "END", env("MARLIN_LOOP")}).split('\n')) {
        end = std::max(end, (last.trimmed().toLongLong() + 1) * 512);
    }
    QCOMPARE(readFile(work.filePath("DiskInfo")), "DiskDrive=" + env("MARLIN_SYSTEM_DRIVE").toUtf8() +
                                                      "\nPartitionsEnd=" + QByteArray::number(end) + "\nVersion=1.1\n");
}

QString TestWholeDiskE2E::changeAndRestore(const std::function<void()>& beforeRestore)
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted boot(env("MARLIN_BOOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        // The removed files are the test's own, in the backup: tests before may have changed the system's.
        const bool changed = writeFile(root + "/etc/hostname", "changed-after-backup\n") &&
                             writeFile(root + "/usr/bin/new-tool", "#!/bin/sh\n") && QFile::remove(root + DoomedFile) &&
                             writeFile(boot + "/grub/grub.cfg", "set default=1\n") &&
                             writeFile(boot + "/vmlinuz-6.2.0-marlin-amd64", QByteArray(300000, 'k')) &&
                             QFile::remove(boot + DoomedFile) &&
                             writeFile(data + "/home/alice/Documents/report.txt", "Revenue went down.\n") &&
                             writeFile(data + "/home/bob/Pictures/new.txt", "new\n") &&
                             QFile::remove(data + DoomedFile);
        if (!changed) {
            return "the system could not be changed";
        }
    }
    if (!mountedPartitions().isEmpty()) {
        return "mounted before the restore: " + mountedPartitions().join(' ');
    }
    if (beforeRestore) {
        beforeRestore();
    }
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
    return ok ? QString() : "restore failed: " + outcome.value("errMsg").toString();
}

void TestWholeDiskE2E::restoreBringsTheDiskBack()
{
    QVERIFY(!m_atBackup.root.isEmpty());
    const QString failure = changeAndRestore();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
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
    QCOMPARE(withoutLoginRecords(restored.data, m_atBackup.data),
             withoutLoginRecords(m_atBackup.data, m_atBackup.data));

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

// Whatever the image or the disks say, a refusal comes before the first write: the system is as it was.
void TestWholeDiskE2E::badWholeDiskBackupsAreRefused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    const QString diskMismatch = "Your disk info and the backup info do not match, so you cannot restore now";
    QTest::newRow("the image's drive is missing") << "missing" << diskMismatch;
    QTest::newRow("the image names the second disk") << "second" << diskMismatch;
    // What the file is called says nothing about where a whole-disk image may go.
    QTest::newRow("an image of another name names the second disk") << "second-renamed" << diskMismatch;
    QTest::newRow("damaged image") << "flip"
                                   << "There is something wrong with your backup file";
    // Refused by the chunk checks before anything is written.
    QTest::newRow("damaged image with a matching digest") << "flip-md5"
                                                          << "There is something wrong with your backup file";
    QTest::newRow("newer format version")
        << "version"
        << "Your system version does not match the backup file, please update the system and restore again";
}

void TestWholeDiskE2E::badWholeDiskBackupsAreRefused()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    QVERIFY(!m_atBackup.root.isEmpty());
    const QString relative = "/bad whole disk";
    {
        const Mounted saved(env("MARLIN_BACKUP_UUID"));
        const QString dir = saved + relative;
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        const QString image = dir + (damage.endsWith("renamed") ? "/disk.rbk" : "/system.rbk");
        QVERIFY(QFile::copy(saved + BackupDir + "/system.rbk", image));
        QVERIFY(QFile::copy(saved + BackupDir + "/system.rbk.md5", image + ".md5"));
        QTemporaryDir work;
        const auto setDiskInfo = [&](const QByteArray& content) {
            return writeFile(work.filePath("DiskInfo"), content) &&
                   run("marlin-clone",
                       {"--write-custom-file", "rbk://" + image + "/DiskInfo", work.filePath("DiskInfo")});
        };
        const QByteArray drive = env("MARLIN_SYSTEM_DRIVE").toUtf8();
        if (damage == "missing") {
            QVERIFY(setDiskInfo("DiskDrive=MARLIN_NO_SUCH_DISK\nVersion=1.1\n"));
        } else if (damage.startsWith("second")) {
            QVERIFY(setDiskInfo("DiskDrive=" + env("MARLIN_BACKUP_DRIVE").toUtf8() + "\nVersion=1.1\n"));
        } else if (damage == "version") {
            QVERIFY(setDiskInfo("DiskDrive=" + drive + "\nVersion=2.0\n"));
        } else {
            QFile file(image);
            QVERIFY(file.open(QIODevice::ReadWrite));
            // The index's last byte: every image has one there (a store image's middle may be unused slot room).
            const qint64 at = file.size() - 129;
            QVERIFY(file.seek(at));
            char byte = 0;
            QVERIFY(file.getChar(&byte));
            QVERIFY(file.seek(at) && file.putChar(char(byte ^ 0x10)));
        }
        if (damage != "flip") {
            QVERIFY(writeFile(image + ".md5", output("md5sum", {image}).toUtf8()));
        }
    }
    const SystemFiles before = systemFiles();
    const QString table = output("sfdisk", {"--dump", env("MARLIN_LOOP")});
    bool ok = true;
    QJsonObject outcome;
    {
        const Mounted source(env("MARLIN_BACKUP_UUID"));
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy
                    ->ManualRestore(LiveService::request(2, "bad-" + damage, {{"backupDir", source + relative}}))
                    .value();
            },
            &ok);
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), message);
    QCOMPARE(mountedPartitions(), QStringList());
    QCOMPARE(output("sfdisk", {"--dump", env("MARLIN_LOOP")}), table);
    const SystemFiles after = systemFiles();
    QCOMPARE(after.root, before.root);
    QCOMPARE(after.boot, before.boot);
    // Whatever the outcome, the login records the task kept aside are put back beside the system's own.
    QCOMPARE(withoutLoginRecords(after.data, before.data), withoutLoginRecords(before.data, before.data));
}

// A whole-disk backup kept on a partition of the very disk it would overwrite: refused before anything is written.
void TestWholeDiskE2E::wholeDiskBackupOnTheSystemDiskIsRefused()
{
    QVERIFY(!m_atBackup.root.isEmpty());
    const QString relative = "/whole disk on itself";
    {
        const Mounted saved(env("MARLIN_BACKUP_UUID"));
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(QDir().mkpath(recovery + relative));
        for (const QString name : {"system.rbk", "system.rbk.md5"}) {
            QVERIFY(QFile::copy(saved + BackupDir + "/" + name, recovery + relative + "/" + name));
        }
    }
    const SystemFiles before = systemFiles();
    const QString table = output("sfdisk", {"--dump", env("MARLIN_LOOP")});
    bool ok = true;
    const QJsonObject outcome = restoreFrom(env("MARLIN_RECOVERY_UUID"), relative, &ok);
    const QByteArray log = m_service->takeOutput();
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QDir(recovery + relative).removeRecursively();
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(),
             QString("The backup lies where the restore would write; move it to another disk and try again"));
    QVERIFY(!log.contains("job start:"));
    QCOMPARE(mountedPartitions(), QStringList());
    QCOMPARE(output("sfdisk", {"--dump", env("MARLIN_LOOP")}), table);
    const SystemFiles after = systemFiles();
    QCOMPARE(after.root, before.root);
    QCOMPARE(after.boot, before.boot);
    QCOMPARE(withoutLoginRecords(after.data, before.data), withoutLoginRecords(before.data, before.data));
}

// A partition that something holds open keeps its buffers (the kernel cannot re-read the table of a disk in use):
// what is read through it after the restore must still be the restored data, not what it cached before.
void TestWholeDiskE2E::partitionHeldOpenReadsTheRestoredData()
{
    QVERIFY(!m_atBackup.root.isEmpty());
    QFile held(env("MARLIN_ROOT_DEV"));
    QVERIFY(held.open(QIODevice::ReadOnly));
    // The partition's buffers filled with what the changes left on it.
    qint64 cached = 0;
    const QString failure = changeAndRestore([&] {
        for (QByteArray piece = held.read(1 << 20); !piece.isEmpty(); piece = held.read(1 << 20)) {
            cached += piece.size();
        }
    });
    QVERIFY(cached > 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(mountedPartitions(), QStringList());
    int code = -1;
    const QString report = output("e2fsck", {"-n", "-f", env("MARLIN_ROOT_DEV")}, &code);
    QVERIFY2(code == 0, qPrintable(report));
    QCOMPARE(systemFiles().root, m_atBackup.root);
    held.close();
}

// Every file system the disk held at backup time is checked once it is back: one that its read-only check rejects,
// or one that has no such check, fails the restore.
void TestWholeDiskE2E::everyRestoredFileSystemIsChecked_data()
{
    QTest::addColumn<QStringList>("damage");
    QTest::newRow("ext4 that e2fsck rejects") << QStringList{"debugfs", "-w", "-R", "clri <2>"};
    QTest::newRow("a file system without a read-only check") << QStringList{"mkfs.minix"};
}

void TestWholeDiskE2E::everyRestoredFileSystemIsChecked()
{
    QFETCH(QStringList, damage);
    const QString spare = env("MARLIN_SPARE_DEV");
    QTemporaryDir work;
    const QString saved = work.filePath("spare");
    QVERIFY(run("dd", {"if=" + spare, "of=" + saved, "bs=1M", "status=none"}));
    QVERIFY(run(damage.constFirst(), damage.mid(1) << spare));
    const QString dir = "/whole disk checked";
    const QString failure = backUpWholeDisk(dir);
    bool ok = true;
    const QJsonObject outcome = failure.isEmpty() ? restoreFrom(env("MARLIN_BACKUP_UUID"), dir, &ok) : QJsonObject();
    const QByteArray log = m_service->takeOutput();
    // The spare partition as it was, for the tests after.
    QVERIFY(run("dd", {"if=" + saved, "of=" + spare, "bs=1M", "conv=fsync", "status=none"}));
    run("udevadm", {"trigger", "--action=change", "--settle", spare});
    {
        const Mounted backup(env("MARLIN_BACKUP_UUID"));
        QDir(backup + dir).removeRecursively();
    }
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("/recovery/marlin-recovery-service.log"));
    QVERIFY2(log.contains("damaged: " + spare.toUtf8()), log.constData());
    QCOMPARE(mountedPartitions(), QStringList());
}

// A partition added after the backup and held open stays with the kernel when the restored table no longer has it:
// the disk is not what was restored, and the restore says so.
void TestWholeDiskE2E::partitionTheTableLacksFailsTheRestore()
{
    QVERIFY(!m_tableAtBackup.isEmpty());
    const QString disk = env("MARLIN_LOOP");
    const int number = PartitionKeys.size() + 1;
    QProcess sfdisk;
    sfdisk.start("sfdisk", {"--append", "--no-reread", "--no-tell-kernel", disk});
    sfdisk.write(",32MiB\n");
    sfdisk.closeWriteChannel();
    QVERIFY(sfdisk.waitForFinished(60000) && sfdisk.exitCode() == 0);
    QVERIFY(run("partx", {"-a", "--nr", QString::number(number), disk}));
    QFile added(disk + "p" + QString::number(number));
    QVERIFY(added.open(QIODevice::ReadOnly));
    bool ok = true;
    const QJsonObject outcome = restoreFrom(env("MARLIN_BACKUP_UUID"), BackupDir, &ok);
    const QByteArray log = m_service->takeOutput();
    added.close();
    run("partx", {"-d", "--nr", QString::number(number), disk});
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("/recovery/marlin-recovery-service.log"));
    QVERIFY2(log.contains("are not those of its table"), log.constData());
    QCOMPARE(output("sfdisk", {"--dump", disk}), m_tableAtBackup);
    QVERIFY(!QFile::exists(added.fileName()));
}

// The swap step gives the swap partition (known by its partition type) the UUID the restored fstab expects when a
// backup was taken while its signature was gone; a file system found there instead is left alone.
void TestWholeDiskE2E::swapSignatureMadeAgain_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("holds");
    QTest::newRow("no signature") << "/whole disk 2"
                                  << "swap";
    QTest::newRow("a file system") << "/whole disk 3"
                                   << "ext4";
}

void TestWholeDiskE2E::swapSignatureMadeAgain()
{
    QFETCH(QString, dir);
    QFETCH(QString, holds);
    const QString swap = env("MARLIN_SWAP_DEV");
    QVERIFY(run("wipefs", {"-a", swap}));
    if (holds == "ext4") {
        QVERIFY(run("mkfs.ext4", {"-q", "-F", swap}));
    }
    const QString uuidAtBackup = output("blkid", {"-p", "-o", "value", "-s", "UUID", swap}).trimmed();
    const QString failure = backUpWholeDisk(dir);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    bool ok = false;
    const QJsonObject outcome = restoreFrom(env("MARLIN_BACKUP_UUID"), dir, &ok);
    const QString type = output("blkid", {"-p", "-o", "value", "-s", "TYPE", swap}).trimmed();
    const QString uuid = output("blkid", {"-p", "-o", "value", "-s", "UUID", swap}).trimmed();
    if (holds == "ext4") {
        // Swap as it was, for the tests after.
        QVERIFY(run("mkswap", {"-L", env("MARLIN_SWAP_LABEL"), "-U", env("MARLIN_SWAP_UUID"), swap}));
        run("udevadm", {"trigger", "--action=change", "--settle", swap});
        const Mounted backup(env("MARLIN_BACKUP_UUID"));
        QDir(backup + dir).removeRecursively();
    }
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(mountedPartitions(), QStringList());
    QCOMPARE(type, holds);
    QCOMPARE(uuid, holds == "swap" ? env("MARLIN_SWAP_UUID") : uuidAtBackup);
}

// Run on its own after the disks came back under other device names (marlin-live-env reattach): the image's drive
// still leads to the system disk, and the backup disk is left alone.
void TestWholeDiskE2E::restoreOntoTheRenamedDisk()
{
    // The restore before left the disk as the image holds it.
    m_atBackup = systemFiles();
    const QString table = output("sfdisk", {"--dump", env("MARLIN_LOOP")});
    const QMap<QString, QString> uuids = fileSystemUuids();
    const QString backupTable = output("sfdisk", {"--dump", env("MARLIN_BACKUP_DISK")});
    QVERIFY(!table.isEmpty() && !backupTable.isEmpty());

    const QString failure = changeAndRestore();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(mountedPartitions(), QStringList());
    QCOMPARE(output("sfdisk", {"--dump", env("MARLIN_LOOP")}), table);
    QCOMPARE(fileSystemUuids(), uuids);
    const SystemFiles restored = systemFiles();
    QCOMPARE(restored.root, m_atBackup.root);
    QCOMPARE(restored.boot, m_atBackup.boot);
    QCOMPARE(withoutLoginRecords(restored.data, m_atBackup.data),
             withoutLoginRecords(m_atBackup.data, m_atBackup.data));

    QCOMPARE(output("sfdisk", {"--dump", env("MARLIN_BACKUP_DISK")}), backupTable);
    const Mounted saved(env("MARLIN_BACKUP_UUID"));
    int code = -1;
    output("md5sum", {"-c", "--", saved + BackupDir + "/system.rbk.md5"}, &code);
    QCOMPARE(code, 0);
}

QTEST_GUILESS_MAIN(TestWholeDiskE2E)
#include "tst_wholedisk_e2e.moc"
