#include "LiveService.h"
#include "Mounted.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "utils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// Backups and restores for real: the service, its tasks and our cloning tool on the fabricated machine. Each
// scenario runs in a service of its own (a service runs one task in its life).
namespace {

using namespace LiveTest;

QMap<QString, QByteArray> rootTree();

QString taskList(const QJsonArray& tasks, bool autoReboot = false)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", autoReboot}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
}

QJsonObject task(const QString& command, const QStringList& args)
{
    return QJsonObject{{"command", command}, {"args", QJsonArray::fromStringList(args)}};
}

const QString BackupDir = "/backups/system 1";
const QString RestoreMark = "/backup/restore-in-progress.json";

// The installed root's files: what a refused restore must leave alone (mounting it for identification alone
// changes the superblock, so the device's bytes are no measure).
QMap<QString, QByteArray> rootTree()
{
    const Mounted root(env("MARLIN_ROOT_UUID"));
    return treeOf(root.path());
}

// The event records of the restores that ran, kept on the recovery partition.
QStringList eventRecords()
{
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    return QDir(recovery + "/event-log").entryList({"live_restore_*.json"});
}

// Waits until UDisks2 knows (or no longer knows) a file system by its UUID, after a change to its device.
bool waitForUuid(const QString& device, const QString& uuid, bool known)
{
    run("udevadm", {"trigger", "--action=change", "--settle", device});
    return QTest::qWaitFor([&] { return bool(UDisks2Manager::blockDeviceByUUID(uuid)) == known; }, 60000);
}

// How often an ext4 file system was mounted writable: a read-only mount leaves it as it was.
QString mountCount(const QString& device)
{
    const QStringList lines =
        output("dumpe2fs", {"-h", device}).split('\n').filter(QRegularExpression("^Mount count:"));
    return lines.isEmpty() ? QString() : lines.constFirst().simplified();
}

} // namespace

class TestTasksE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void systemBackupByTaskList();
    void manualRestoreBringsTheBackupBack();
    void systemRestoreKeepsPersonalFiles();
    void rootThatNoLongerMounts();
    void keepingPersonalFilesNeverWritesTheDataImage();
    void factoryReset_data();
    void factoryReset();
    void reformattedBootRefusesTheFactoryReset();
    void corruptInitialBackupTouchesNothing_data();
    void corruptInitialBackupTouchesNothing();
    void badManualBackupsAreRefused_data();
    void badManualBackupsAreRefused();
    void rootHeldOpenRefusesBeforeAnyWrite();
    void backupToAMissingDestination();
    void archivesOfAPartitionThatDoesNotMount();
    void backupInsideWhatTheRestoreReplaces();

private:
    // Starts a fresh service, sends one request and waits for its outcome; the outcome's payload, or empty.
    QJsonObject runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded,
                        QList<int>* progress = nullptr);
    // The restore page's information, from a fresh service.
    QJsonObject restorePageInfo();

    LiveService* m_service = nullptr;
    QMap<QString, QByteArray> m_rootAtBackup;
    QMap<QString, QByteArray> m_optAtBackup;
    QMap<QString, QByteArray> m_varAtBackup;
};

void TestTasksE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    if (!QFile::exists(recovery + "/backup/system.rbk")) {
        QSKIP("the environment has no initial backup (built without the cloning tool)");
    }
}

void TestTasksE2E::cleanupTestCase()
{
    // What the restore tasks keep in the live system's /tmp for the logs.
    QFile::remove("/tmp/wtmp.bak");
    QDir("/tmp/event-log").removeRecursively();
}

void TestTasksE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
}

QJsonObject TestTasksE2E::runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded,
                                  QList<int>* progress)
{
    delete m_service;
    m_service = new LiveService;
    return m_service->start() ? m_service->runTask(call, succeeded, progress) : QJsonObject();
}

QJsonObject TestTasksE2E::restorePageInfo()
{
    bool ok = false;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->InitLiveRestorePage(LiveService::request(8, "page")).value();
        },
        &ok);
    return ok ? Utils::stringToJson(outcome.value("data").toString()) : QJsonObject();
}

void TestTasksE2E::systemBackupByTaskList()
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        m_rootAtBackup = treeOf(root.path());
        m_optAtBackup = treeOf(data + "/opt");
        m_varAtBackup = treeOf(data + "/var");
    }
    const QString dataMountCount = mountCount(env("MARLIN_DATA_DEV"));
    QVERIFY(!dataMountCount.isEmpty());
    const QString root = "root:" + env("MARLIN_ROOT_UUID");
    const QString data = "data:" + env("MARLIN_DATA_UUID");
    const QString recovery = "recovery:" + env("MARLIN_RECOVERY_UUID");
    const QJsonArray tasks{task("create-backup-image", {root, recovery, BackupDir, "system.rbk"}),
                           task("create-backup-image", {data, recovery, BackupDir, "data.rbk"}),
                           task("create-backup-directory", {data, recovery, BackupDir})};
    bool ok = false;
    QList<int> progress;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(LiveService::request(4, "backup-1", {{"recoveryInfo", taskList(tasks)}}))
                .value();
        },
        &ok, &progress);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(outcome.value("operateID").toString(), QString("backup-1"));
    QCOMPARE(outcome.value("progress").toInt(), 100);
    QVERIFY(!progress.isEmpty());
    for (int i = 0; i < progress.size(); ++i) {
        QVERIFY(progress.at(i) >= 0 && progress.at(i) <= 100);
        QVERIFY(i == 0 || progress.at(i) > progress.at(i - 1));
    }

    const Mounted saved(env("MARLIN_RECOVERY_UUID"));
    const QString dir = saved + BackupDir;
    for (const QString& name : {QString("system.rbk"), QString("data.rbk")}) {
        int code = -1;
        output("md5sum", {"-c", dir + "/" + name + ".md5"}, &code);
        QCOMPARE(code, 0);
    }
    // Each partition was copied unmounted, block by used block, and archived from a read-only mount.
    for (const QString& name : {QString("system.rbk"), QString("data.rbk")}) {
        const QString info = output("marlin-clone", {"--rbk-info", dir + "/" + name});
        QVERIFY2(info.contains("\ncopy-mode=used-blocks\n"), qPrintable(info));
        QVERIFY2(info.contains("\nsource-was-mounted=no\n"), qPrintable(info));
    }
    QCOMPARE(mountCount(env("MARLIN_DATA_DEV")), dataMountCount);
    QTemporaryDir work;
    output("marlin-clone", {"--read-custom-file", "rbk://" + dir + "/system.rbk/DiskInfo", work.filePath("DiskInfo")});
    QCOMPARE(readFile(work.filePath("DiskInfo")), "UUID=" + env("MARLIN_ROOT_UUID").toUtf8() + "\nVersion=1.1\n");
    for (const QString& name : {QString("opt"), QString("var")}) {
        const QStringList members = output("tar", {"-tf", dir + "/" + name + ".tar"}).split('\n', Qt::SkipEmptyParts);
        QVERIFY(members.size() > 2);
        QCOMPARE(members.constFirst(), QString("datainfo"));
        QCOMPARE(members.at(1), name + "/");
    }
}

void TestTasksE2E::manualRestoreBringsTheBackupBack()
{
    QVERIFY(!m_rootAtBackup.isEmpty());
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(root + "/etc/hostname", "changed-after-backup\n"));
        QVERIFY(writeFile(root + "/usr/bin/new-tool", "#!/bin/sh\n"));
        QVERIFY(QFile::remove(root + "/usr/share/doc/README"));
        QVERIFY(writeFile(data + "/opt/someapp/share/readme.txt", "changed\n"));
        QVERIFY(QDir(data + "/var/lib/someapp").removeRecursively());
        QVERIFY(writeFile(data + "/var/cache/new.bin", "new"));
    }
    bool ok = false;
    QJsonObject outcome;
    {
        // The backup is read from the mounted recovery partition, as the GUI hands over a path below a mount.
        const Mounted source(env("MARLIN_RECOVERY_UUID"));
        const QString backupDir = source + BackupDir;
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "restore-1", {{"backupDir", backupDir}})).value();
            },
            &ok);
    }
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    // The images were of clean file systems.
    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}), 0);
    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_DATA_DEV")}), 0);
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));

    QCOMPARE(output("blkid", {"-o", "value", "-s", "UUID", env("MARLIN_ROOT_DEV")}).trimmed(), env("MARLIN_ROOT_UUID"));
    QCOMPARE(output("blkid", {"-o", "value", "-s", "UUID", env("MARLIN_DATA_DEV")}).trimmed(), env("MARLIN_DATA_UUID"));
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        QCOMPARE(treeOf(root.path()), m_rootAtBackup);
    }
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(treeOf(data + "/opt"), m_optAtBackup);
    QMap<QString, QByteArray> var = treeOf(data + "/var");
    // The login records the task kept aside come back beside the restored ones.
    QVERIFY(var.contains("/log/wtmp.bak"));
    var.remove("/log/wtmp.bak");
    QCOMPARE(var, m_varAtBackup);
    QVERIFY(!QDir(recovery + "/event-log").entryList({"live_restore_*.json"}).isEmpty());
    QVERIFY(readFile(recovery + "/marlin-recovery-service.log").contains("ManualRestore, req: "));
}

void TestTasksE2E::systemRestoreKeepsPersonalFiles()
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(root + "/etc/hostname", "broken\n"));
        QVERIFY(writeFile(root + "/usr/bin/malware", "#!/bin/sh\n"));
        QVERIFY(writeFile(data + "/home/alice/Documents/new-letter.txt", "Dear Bob,\n"));
        // What an earlier run that was cut off left behind: a restore that succeeds removes it.
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(writeFile(recovery + RestoreMark, R"({"method": "SystemRestore"})"));
    }
    bool ok = false;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "restore-2", {{"formatData", false}})).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    const Mounted root(env("MARLIN_ROOT_UUID"));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(root + "/etc/hostname"), QByteArray("marlin-pc\n"));
    QVERIFY(!QFile::exists(root + "/usr/bin/malware"));
    QCOMPARE(readFile(data + "/home/alice/Documents/new-letter.txt"), QByteArray("Dear Bob,\n"));
    QVERIFY(QFile::exists(data + "/home/alice/Documents/report.txt"));
    // opt and var live on the data partition after the restore.
    QVERIFY(QFile::exists(data + "/var/log/wtmp"));
    QVERIFY(!QFileInfo::exists(root + "/var/log/wtmp"));
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!QFile::exists(recovery + RestoreMark));
}

void TestTasksE2E::rootThatNoLongerMounts()
{
    QMap<QString, QByteArray> restoredRoot;
    {
        // Restored by the test before: the initial backup with opt and var moved out.
        const Mounted root(env("MARLIN_ROOT_UUID"));
        restoredRoot = treeOf(root.path());
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/Documents/after-crash.txt", "still here\n"));
    }
    QVERIFY(restoredRoot.contains("/etc/hostname"));
    QVERIFY(breakRoot());

    const QJsonObject page = restorePageInfo();
    QCOMPARE(page.value("isExitsInitBackup").toBool(), true);
    QCOMPARE(page.value("recoveryUUID").toString(), env("MARLIN_RECOVERY_UUID"));

    bool ok = false;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "restore-broken", {{"formatData", false}})).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}), 0);
    QCOMPARE(output("blkid", {"-o", "value", "-s", "UUID", env("MARLIN_ROOT_DEV")}).trimmed(), env("MARLIN_ROOT_UUID"));
    const Mounted root(env("MARLIN_ROOT_UUID"));
    QCOMPARE(treeOf(root.path()), restoredRoot);
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/Documents/after-crash.txt"), QByteArray("still here\n"));
    QVERIFY(QFile::exists(data + "/home/alice/Documents/new-letter.txt"));
}

void TestTasksE2E::keepingPersonalFilesNeverWritesTheDataImage()
{
    // An initial backup that also holds the data partition as it was at installation.
    Utils::umountDeviceByUUID(env("MARLIN_DATA_UUID"));
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QString image = recovery + "/backup/data.rbk";
        QVERIFY(run("marlin-clone", {"--tui", env("MARLIN_DATA_DEV"), image}));
        QVERIFY(writeFile(recovery + "/backup/data.md5", output("md5sum", {image}).toUtf8()));
        QVERIFY(writeFile(recovery + "/backup/data.info", env("MARLIN_DATA_UUID").toUtf8() + "\n"));
    }
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/Documents/after-installation.txt", "mine\n"));
    }
    bool ok = false;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "keep-with-data-image", {{"formatData", false}}))
                .value();
        },
        &ok);
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        for (const QString& name : {QString("data.rbk"), QString("data.md5"), QString("data.info")}) {
            QFile::remove(recovery + "/backup/" + name);
        }
    }
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/Documents/after-installation.txt"), QByteArray("mine\n"));
}

void TestTasksE2E::factoryReset_data()
{
    QTest::addColumn<bool>("byTaskList");
    QTest::newRow("formatData") << false;
    QTest::newRow("refresh-data-partition in a task list") << true;
}

void TestTasksE2E::factoryReset()
{
    QFETCH(bool, byTaskList);
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/Documents/report.txt", "Quarterly report\n"));
        QVERIFY(writeFile(data + "/home/carol/.bashrc", "alias ll='ls -l'\n"));
        QVERIFY(writeFile(data + "/stray.txt", "left at the top\n"));
        QVERIFY(writeFile(data + "/junk/file.bin", "junk"));
        QVERIFY(QDir().mkpath(data + "/root"));
    }
    bool ok = false;
    const QJsonObject outcome = runTask(
        [byTaskList](ComMarlinDaemonRecoveryInterface* proxy) {
            if (byTaskList) {
                const QString tasks = taskList({task("refresh-data-partition", {})});
                return proxy->RestoreByTask(LiveService::request(1, "reset", {{"recoveryInfo", tasks}})).value();
            }
            return proxy->SystemRestore(LiveService::request(1, "reset", {{"formatData", true}})).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(QDir(data + "/home").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QStringList top = QDir(data.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    top.sort();
    QCOMPARE(top, (QStringList{"home", "lost+found", "opt", "root", "var"}));
    QVERIFY(QFile::exists(data + "/opt/someapp/bin/someapp") || QFileInfo(data + "/opt").isDir());
    QVERIFY(QFile::exists(data + "/var/log/wtmp"));
}

// A boot partition formatted again has another UUID: its image finds no partition, and a reset that left it out
// would leave a system that does not start.
void TestTasksE2E::reformattedBootRefusesTheFactoryReset()
{
    const QString boot = env("MARLIN_BOOT_DEV");
    Utils::umountDeviceByUUID(env("MARLIN_BOOT_UUID"));
    QVERIFY(run("mkfs.ext4", {"-q", "-F", "-L", "Boot", boot}));
    QVERIFY(waitForUuid(boot, env("MARLIN_BOOT_UUID"), false));
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/keep.txt", "must survive\n"));
    }
    const QMap<QString, QByteArray> rootBefore = rootTree();
    bool ok = true;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "reset-no-boot", {{"formatData", true}})).value();
        },
        &ok);
    const QByteArray log = m_service->takeOutput();
    {
        // The boot partition back as the initial backup holds it, UUID included.
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(run("marlin-clone", {"--tui", recovery + "/backup/boot.rbk", boot}));
    }
    QVERIFY(waitForUuid(boot, env("MARLIN_BOOT_UUID"), true));
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(),
             QString("The partition for \"boot\" of the initial backup cannot be found (it may have been formatted). "
                     "Nothing was restored."));
    QVERIFY(!log.contains("job start:"));
    QCOMPARE(rootTree(), rootBefore);
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!QFile::exists(recovery + RestoreMark));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/keep.txt"), QByteArray("must survive\n"));
}

void TestTasksE2E::corruptInitialBackupTouchesNothing_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("flipped byte") << "flip";
    // An empty UUID must find no device at all, not the first one without a file system.
    QTest::newRow("blank system.info") << "blank";
    // A good image whose record names a partition that is not the system's own.
    QTest::newRow("image for another partition") << "foreign";
}

void TestTasksE2E::corruptInitialBackupTouchesNothing()
{
    QFETCH(QString, damage);
    QByteArray savedImage;
    QByteArray savedInfo;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QString backup = recovery + "/backup";
        savedImage = readFile(backup + "/system.rbk");
        savedInfo = readFile(backup + "/system.info");
        if (damage == "flip") {
            QByteArray broken = savedImage;
            broken[broken.size() / 2] = char(broken.at(broken.size() / 2) ^ 0x5a);
            QVERIFY(writeFile(backup + "/system.rbk", broken));
        } else if (damage == "blank") {
            QVERIFY(writeFile(backup + "/system.info", " \n"));
        } else {
            QVERIFY(run("marlin-clone", {"--tui", env("MARLIN_SPARE_DEV"), backup + "/extra.rbk"}));
            QVERIFY(writeFile(backup + "/extra.md5", output("md5sum", {backup + "/extra.rbk"}).toUtf8()));
            QVERIFY(writeFile(backup + "/extra.info", env("MARLIN_SPARE_UUID").toUtf8() + "\n"));
        }
    }
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/keep.txt", "must survive\n"));
    }
    const QMap<QString, QByteArray> rootBefore = rootTree();
    bool ok = true;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "reset-corrupt", {{"formatData", true}})).value();
        },
        &ok);
    // Refused before any image job started: nothing was written.
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QString backup = recovery + "/backup";
        QVERIFY(writeFile(backup + "/system.rbk", savedImage));
        QVERIFY(writeFile(backup + "/system.info", savedInfo));
        for (const QString& name : {QString("extra.rbk"), QString("extra.md5"), QString("extra.info")}) {
            QFile::remove(backup + "/" + name);
        }
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("There is something wrong with your initial backup file"));
    QCOMPARE(rootTree(), rootBefore);
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY2(!QFile::exists(recovery + RestoreMark), "a restore refused before writing leaves no record");
    }
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/keep.txt"), QByteArray("must survive\n"));
}

void TestTasksE2E::badManualBackupsAreRefused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("flipped byte") << "flip"
                                  << "There is something wrong with your backup file";
    QTest::newRow("newer format version")
        << "version"
        << "Your system version does not match the backup file, please update the system and restore again";
    QTest::newRow("another machine's partition")
        << "foreign"
        << "Your disk info and the backup info do not match, so you cannot restore now";
    QTest::newRow("a partition that is not the system's") << "spare"
                                                          << "Your disk info and the backup info do not match, so "
                                                             "you cannot restore now";
    QTest::newRow("directory gone") << "gone"
                                    << "Cannot find the target location";
    QTest::newRow("directory without backup files") << "empty"
                                                    << "Cannot find the target location";
    QTest::newRow("no directory named") << "unnamed"
                                        << "Cannot find the target location";
    // The second image has no disk information: it must not take the first one's partition.
    QTest::newRow("image without disk information")
        << "noinfo"
        << "Your system version does not match the backup file, please update the system and restore again";
}

void TestTasksE2E::badManualBackupsAreRefused()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    QString backupDir;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QString dir = recovery + "/backups/bad";
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        // Named otherwise than the root's image, which may go onto another root slot of the root's disk.
        const QString image = dir + (damage == "spare" ? "/extra.rbk" : "/system.rbk");
        QVERIFY(QFile::copy(recovery + BackupDir + "/system.rbk", image));
        QTemporaryDir work;
        const auto setDiskInfo = [&](const QByteArray& content) {
            writeFile(work.filePath("DiskInfo"), content);
            output("marlin-clone", {"--write-custom-file", "rbk://" + image + "/DiskInfo", work.filePath("DiskInfo")});
        };
        QVERIFY(writeFile(image + ".md5", output("md5sum", {image}).toUtf8()));
        if (damage == "flip") {
            QByteArray bytes = readFile(image);
            bytes[bytes.size() / 3] = char(bytes.at(bytes.size() / 3) ^ 0x01);
            QVERIFY(writeFile(image, bytes));
        } else if (damage == "version") {
            setDiskInfo("UUID=" + env("MARLIN_ROOT_UUID").toUtf8() + "\nVersion=2.0\n");
        } else if (damage == "foreign") {
            setDiskInfo("UUID=6f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9\nVersion=1.1\n");
        } else if (damage == "spare") {
            setDiskInfo("UUID=" + env("MARLIN_SPARE_UUID").toUtf8() + "\nVersion=1.1\n");
        }
        if (damage == "version" || damage == "foreign" || damage == "spare") {
            QVERIFY(writeFile(image + ".md5", output("md5sum", {image}).toUtf8()));
        }
        if (damage == "noinfo") {
            const QString second = dir + "/zz-spare.rbk";
            QVERIFY(run("marlin-clone", {"--tui", env("MARLIN_SPARE_DEV"), second}));
            QVERIFY(writeFile(second + ".md5", output("md5sum", {second}).toUtf8()));
        }
        if (damage == "empty") {
            QVERIFY(QFile::remove(image) && QFile::remove(image + ".md5"));
            QVERIFY(writeFile(dir + "/notes.txt", "not a backup\n"));
        }
        backupDir = damage == "gone" ? recovery + "/backups/no-such-backup" : damage == "unnamed" ? QString() : dir;
    }
    const QMap<QString, QByteArray> rootBefore = rootTree();
    const QStringList recordsBefore = eventRecords();
    bool ok = true;
    QJsonObject outcome;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "bad-" + damage, {{"backupDir", backupDir}}))
                    .value();
            },
            &ok);
    }
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QDir(recovery + "/backups/bad").removeRecursively();
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), message);
    QCOMPARE(outcome.value("operateID").toString(), "bad-" + damage);
    QCOMPARE(rootTree(), rootBefore);
    // A restore that never ran is no event.
    QCOMPARE(eventRecords(), recordsBefore);
}

// Every image's target is checked before the first is written: a root that something holds open refuses the whole
// restore, not after the data partition was written.
void TestTasksE2E::rootHeldOpenRefusesBeforeAnyWrite()
{
    const QString relative = "/backups/root held";
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(QDir().mkpath(recovery + relative));
        for (const QString name : {"data.rbk", "data.rbk.md5", "system.rbk", "system.rbk.md5"}) {
            QVERIFY(QFile::copy(recovery + BackupDir + "/" + name, recovery + relative + "/" + name));
        }
    }
    Utils::umountDeviceByUUID(env("MARLIN_ROOT_UUID"));
    Utils::umountDeviceByUUID(env("MARLIN_DATA_UUID"));
    const QString dataBefore = output("md5sum", {env("MARLIN_DATA_DEV")});
    const QByteArray rootDev = env("MARLIN_ROOT_DEV").toLocal8Bit();
    const int held = ::open(rootDev.constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
    QVERIFY(held >= 0);
    bool ok = true;
    QJsonObject outcome;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "held", {{"backupDir", recovery + relative}}))
                    .value();
            },
            &ok);
        QDir(recovery + relative).removeRecursively();
    }
    ::close(held);
    QCOMPARE(output("md5sum", {env("MARLIN_DATA_DEV")}), dataBefore);
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), "The restore cannot write " + env("MARLIN_ROOT_DEV") +
                                                     ": it is missing, in use or too small. Nothing "
                                                     "was written.");
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!QFile::exists(recovery + RestoreMark));
}

void TestTasksE2E::backupToAMissingDestination()
{
    const QJsonArray tasks{task("create-backup-image", {"root:" + env("MARLIN_ROOT_UUID"),
                                                        "gone:0f0e0d0c-0b0a-4908-8706-050403020100", "/b", "s.rbk"})};
    bool ok = true;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(LiveService::request(4, "backup-2", {{"recoveryInfo", taskList(tasks)}}))
                .value();
        },
        &ok);
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("Cannot find the target location"));
}

void TestTasksE2E::archivesOfAPartitionThatDoesNotMount()
{
    // The swap partition has no file system to archive: the live system's own /opt must never stand in for it.
    const QString dir = "/backups/no-archives";
    const QJsonArray tasks{task("create-backup-directory",
                                {"swap:" + env("MARLIN_SWAP_UUID"), "recovery:" + env("MARLIN_RECOVERY_UUID"), dir})};
    bool ok = true;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(LiveService::request(4, "backup-3", {{"recoveryInfo", taskList(tasks)}}))
                .value();
        },
        &ok);
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    const bool archived = QFile::exists(recovery + dir + "/opt.tar");
    QDir(recovery + dir).removeRecursively();
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("Backup error, please try again"));
    QVERIFY(!archived);
}

void TestTasksE2E::backupInsideWhatTheRestoreReplaces()
{
    // A whole backup kept in the data partition's var, which its own var.tar would replace.
    const QString relative = "/var/backups/mine";
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(QDir().mkpath(data + relative));
        for (const QString& name : QDir(recovery + BackupDir).entryList(QDir::Files)) {
            QVERIFY(QFile::copy(recovery + BackupDir + "/" + name, data + relative + "/" + name));
        }
    }
    const QMap<QString, QByteArray> rootBefore = rootTree();
    bool ok = true;
    QJsonObject outcome;
    QMap<QString, QByteArray> backupAfter;
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        const QMap<QString, QByteArray> backupBefore = treeOf(data + relative);
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "inside-var", {{"backupDir", data + relative}}))
                    .value();
            },
            &ok);
        const Mounted again(env("MARLIN_DATA_UUID"));
        backupAfter = treeOf(again + relative);
        QDir(again + "/var/backups").removeRecursively();
        QCOMPARE(backupAfter, backupBefore);
    }
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(),
             QString("The backup lies where the restore would write; move it to another disk and try again"));
    QCOMPARE(rootTree(), rootBefore);
}

QTEST_GUILESS_MAIN(TestTasksE2E)
#include "tst_tasks_e2e.moc"
