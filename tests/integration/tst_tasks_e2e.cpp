#include "LiveService.h"
#include "MaliciousBackup.h"
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
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QtTest>

#include <csignal>

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

// What a refused restore must leave as it was: the installed root and the data partition's opt and var.
struct SystemTrees
{
    QMap<QString, QByteArray> root;
    QMap<QString, QByteArray> opt;
    QMap<QString, QByteArray> var;

    static SystemTrees read()
    {
        SystemTrees trees;
        trees.root = rootTree();
        const Mounted data(env("MARLIN_DATA_UUID"));
        trees.opt = treeOf(data + "/opt");
        trees.var = treeOf(data + "/var");
        // A refused restore, too, puts the login records it kept aside back beside the data partition's own.
        trees.var.remove("/log/wtmp.bak");
        return trees;
    }
    bool operator==(const SystemTrees& other) const
    {
        return root == other.root && opt == other.opt && var == other.var;
    }
};

// The members' header blocks of an archive as tar lists them, the end-of-archive marker's last.
QList<qint64> memberBlocks(const QString& archive)
{
    QList<qint64> blocks;
    const QString listing = output("env", {"LC_ALL=C", "tar", "--list", "--block-number", "--file=" + archive});
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        blocks.append(line.section(':', 0, 0).section(' ', 1).toLongLong());
    }
    return blocks;
}

// The initial backup's images against their checksums, as md5sum -c reads them (names relative to the directory).
int checkInitialBackup()
{
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QProcess md5sum;
    md5sum.setWorkingDirectory(recovery + "/backup");
    md5sum.start("md5sum", QStringList{"-c"} + QDir(recovery + "/backup").entryList({"*.md5"}));
    return md5sum.waitForFinished(120000) && md5sum.exitStatus() == QProcess::NormalExit ? md5sum.exitCode() : -1;
}

// What root may still write to the recovery partition: ext4 keeps some clusters back even from root.
qint64 rootUsableBytes(const QString& mountPoint)
{
    const QString sysfs = "/sys/fs/ext4/" + QFileInfo(env("MARLIN_RECOVERY_DEV")).fileName() + "/reserved_clusters";
    const QStorageInfo storage(mountPoint);
    return storage.bytesFree() - readFile(sysfs).trimmed().toLongLong() * storage.blockSize();
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
    void slowIdentificationIsAnsweredAtOnce();
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
    void cutArchivesAreRefused_data();
    void cutArchivesAreRefused();
    void cutOffBackupIsNeitherListedNorRestored();
    void backupOntoAFullPartition_data();
    void backupOntoAFullPartition();
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
    for (const QString& name : {QString("system.rbk"), QString("data.rbk"), QString("opt.tar"), QString("var.tar")}) {
        int code = -1;
        output("md5sum", {"-c", dir + "/" + name + ".md5"}, &code);
        QCOMPARE(code, 0);
    }
    // Each partition was copied unmounted, block by used block, and archived from a read-only mount.
    for (const QString& name : {QString("system.rbk"), QString("data.rbk")}) {
        const QString info = output("marlin-clone", {"--rbk-info", dir + "/" + name});
        QVERIFY2(info.contains("\ncopy-mode=used-blocks\n"), qPrintable(info));
        QVERIFY2(info.contains("\nsource-was-mounted=no\n"), qPrintable(info));
        // Into the chunk store the backups beside it share, every chunk there.
        QVERIFY2(info.contains("\nstore=../.chunks\n") && info.contains("\nstore-chunks-missing=0\n"),
                 qPrintable(info));
    }
    QVERIFY(QFileInfo(QFileInfo(dir).path() + "/.chunks/marlin-store").isFile());
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
    // An absolute link planted where the extraction stages its files is removed, never written through.
    QTemporaryDir canary;
    QVERIFY(writeFile(canary.filePath("keep"), "keep\n"));
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(QFile::link(canary.path(), data + "/.marlin-extract-opt"));
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
    QCOMPARE(QDir(canary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"keep"});
    QVERIFY(!QFileInfo(data + "/.marlin-extract-opt").isSymLink());
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

// Finding the installed system may take long (a broken root, many disks): the request is answered first, and the
// outcome follows. The root's recovery configuration is made a FIFO, so that identification waits on this test.
void TestTasksE2E::slowIdentificationIsAnsweredAtOnce()
{
    const QString conf = "/etc/marlin/system-recovery.conf";
    QByteArray content;
    {
        const Mounted root(env("MARLIN_ROOT_DEV"));
        content = readFile(root + conf);
        QVERIFY(!content.isEmpty());
        QVERIFY(QFile::remove(root + conf));
        QVERIFY(run("mkfifo", {"-m", "0644", root + conf}));
    }
    delete m_service;
    m_service = new LiveService;
    QVERIFY(m_service->start());
    QSignalSpy success(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Success);
    QDBusPendingReply<int> reply =
        m_service->proxy()->SystemRestore(LiveService::request(1, "slow-start", {{"formatData", false}}));
    reply.waitForFinished();
    // The service opens the FIFO, wherever it mounted the root: this open returns once it does, and lets it go on
    // (it reads nothing from a file whose size is 0).
    QVERIFY(QTest::qWaitFor([] { return isMounted(env("MARLIN_ROOT_DEV")); }, 60000));
    const QString mountPoint = output("findmnt", {"-n", "-o", "TARGET", "--source", env("MARLIN_ROOT_DEV")}).trimmed();
    QFile fifo(mountPoint.section('\n', 0, 0) + conf);
    QVERIFY(fifo.open(QIODevice::WriteOnly));
    fifo.close();
    QVERIFY2(reply.isValid(), qPrintable(reply.error().message()));
    QCOMPARE(reply.value(), 0);
    QVERIFY(QTest::qWaitFor([&] { return !success.isEmpty(); }, 600000));
    const Mounted root(env("MARLIN_ROOT_DEV"));
    QCOMPARE(readFile(root + conf), content);
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
    // The page and the task look at the root before anything is chosen or checked: read-only, no journal replayed.
    const QString rootMounts = mountCount(env("MARLIN_ROOT_DEV"));
    QVERIFY(!restorePageInfo().isEmpty());
    bool ok = true;
    const QJsonObject outcome = runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "reset-corrupt", {{"formatData", true}})).value();
        },
        &ok);
    // Refused before any image job started: nothing was written.
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    QCOMPARE(mountCount(env("MARLIN_ROOT_DEV")), rootMounts);
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

void TestTasksE2E::cutArchivesAreRefused_data()
{
    QTest::addColumn<QString>("cut");
    QTest::addColumn<bool>("checksums");
    QTest::newRow("cut at a member header") << "member" << true;
    QTest::newRow("cut at a member header, no archive checksums") << "member" << false;
    QTest::newRow("no end-of-archive marker, no archive checksums") << "marker" << false;
    // What a backup cut off before this release left: opt's archive whole, but holding datainfo alone.
    QTest::newRow("opt's archive without opt, no archive checksums") << "datainfo" << false;
}

// The archives of the backup alone, var's cut short as a copy cut off leaves it: tar lists and extracts what is left
// without complaint, so only the checksum, or the missing end-of-archive marker, tells. An archive without its
// directory must not cost the directory in place.
void TestTasksE2E::cutArchivesAreRefused()
{
    QFETCH(QString, cut);
    QFETCH(bool, checksums);
    const QString relative = "/backups/cut";
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QDir(recovery + relative).removeRecursively();
        QVERIFY(QDir().mkpath(recovery + relative));
        for (const QString& name : {QString("opt.tar"), QString("var.tar")}) {
            QVERIFY(QFile::copy(recovery + BackupDir + "/" + name, recovery + relative + "/" + name));
            QVERIFY(!checksums ||
                    QFile::copy(recovery + BackupDir + "/" + name + ".md5", recovery + relative + "/" + name + ".md5"));
        }
        const QString var = recovery + relative + "/var.tar";
        const QList<qint64> blocks = memberBlocks(var);
        QVERIFY(blocks.size() > 4);
        if (cut == "datainfo") {
            const QString opt = recovery + relative + "/opt.tar";
            QVERIFY(QFile::remove(opt));
            QVERIFY(MaliciousBackup::writeArchive(opt, MaliciousBackup::dataInfo(env("MARLIN_DATA_UUID"), "opt"), {}));
        } else {
            QVERIFY(QFile::resize(var, 512 * (cut == "member" ? blocks.at(blocks.size() / 2) : blocks.constLast())));
        }
    }
    const SystemTrees before = SystemTrees::read();
    bool ok = true;
    QJsonObject outcome;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "cut", {{"backupDir", recovery + relative}}))
                    .value();
            },
            &ok);
    }
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QDir(recovery + relative).removeRecursively();
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("There is something wrong with your backup file"));
    QVERIFY(SystemTrees::read() == before);
}

// A backup cut off by a power loss while tar writes var's archive (the stand-in holds it there until everything is
// killed): neither offered on the restore page nor restored.
void TestTasksE2E::cutOffBackupIsNeitherListedNorRestored()
{
    const QString relative = "/backups/cut-off/backup";
    QTemporaryDir work;
    const QString held = work.filePath("held");
    const QString standIn = "/usr/local/sbin/tar";
    const auto cleanUp = qScopeGuard([&] {
        const int pid = readFile(held).trimmed().toInt();
        if (pid > 0) {
            ::kill(pid, SIGKILL);
        }
        QFile::remove(standIn);
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QDir(recovery + "/backups/cut-off").removeRecursively();
        QFile::remove(recovery + "/backup/savePath.json");
    });
    // Only this namespace's /usr/local/sbin, the first place sudo looks.
    QVERIFY(writeFile(standIn, QString("#!/bin/sh\n"
                                       "for last; do :; done\n"
                                       "if [ \"$last\" = var ]; then echo $$ >'%1'; exec sleep infinity; fi\n"
                                       "exec /usr/bin/tar \"$@\"\n")
                                   .arg(held)
                                   .toUtf8()));
    QVERIFY(QFile::setPermissions(standIn, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const SystemTrees before = SystemTrees::read();
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(
            writeFile(recovery + "/backup/savePath.json", QString(R"({"%1": {"1700000000": "%2", "1700000100": "%3"}})")
                                                              .arg(env("MARLIN_RECOVERY_UUID"), BackupDir, relative)
                                                              .toUtf8()));
    }
    const QString recoveryArg = "recovery:" + env("MARLIN_RECOVERY_UUID");
    const QJsonArray tasks{
        task("create-backup-image", {"boot:" + env("MARLIN_BOOT_UUID"), recoveryArg, relative, "boot.rbk"}),
        task("create-backup-directory", {"data:" + env("MARLIN_DATA_UUID"), recoveryArg, relative})};
    delete m_service;
    m_service = new LiveService;
    QVERIFY(m_service->start());
    QCOMPARE(m_service->proxy()
                 ->SystemBackup(LiveService::request(4, "cut-off", {{"recoveryInfo", taskList(tasks)}}))
                 .value(),
             0);
    QVERIFY(QTest::qWaitFor([&] { return !readFile(held).trimmed().isEmpty(); }, 300000));
    m_service->kill();
    const int pid = readFile(held).trimmed().toInt();
    QVERIFY(pid > 0 && ::kill(pid, SIGKILL) == 0);
    QFile::remove(standIn);
    // What the killed service had mounted.
    Utils::umountDeviceByUUID(env("MARLIN_DATA_UUID"));
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));

    const QJsonArray listed =
        Utils::stringToJson(restorePageInfo().value("backupInfo").toString()).value("BackupFileInfoList").toArray();
    QStringList paths;
    for (const QJsonValue& backup : listed) {
        paths.append(backup.toObject().value("backupPath").toString());
    }
    QVERIFY2(!paths.filter(QRegularExpression(QRegularExpression::escape(BackupDir) + "$")).isEmpty(),
             qPrintable(paths.join(", ")));
    QVERIFY2(paths.filter(QRegularExpression(QRegularExpression::escape(relative) + "$")).isEmpty(),
             qPrintable(paths.join(", ")));
    bool ok = true;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy
                    ->ManualRestore(LiveService::request(2, "cut-off-restore", {{"backupDir", recovery + relative}}))
                    .value();
            },
            &ok);
    }
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    QVERIFY(!ok);
    QVERIFY(SystemTrees::read() == before);
}

void TestTasksE2E::backupOntoAFullPartition_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("image") << "create-backup-image";
    QTest::newRow("archives") << "create-backup-directory";
}

// The recovery partition with 8 MiB left, a backup of more than that: nothing of it stays, the initial backup is
// whole, and the person is told why.
void TestTasksE2E::backupOntoAFullPartition()
{
    QFETCH(QString, command);
    const QString filler = "/filler.bin";
    const auto cleanUp = qScopeGuard([&] {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QFile::remove(recovery + filler);
        const Mounted data(env("MARLIN_DATA_UUID"));
        QFile::remove(data + "/opt/filler.bin");
    });
    QStringList backupsBefore;
    {
        // In the data image and in opt's archive alike.
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(run("dd",
                    {"if=/dev/urandom", "of=" + data.path() + "/opt/filler.bin", "bs=1M", "count=24", "status=none"}));
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        backupsBefore = QDir(recovery + "/backups").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        const qint64 left = 8 << 20;
        QVERIFY(run("fallocate", {"-l", QString::number(rootUsableBytes(recovery.path()) - left), recovery + filler}));
        QVERIFY(qAbs(rootUsableBytes(recovery.path()) - left) < (1 << 20));
    }
    QStringList args{"data:" + env("MARLIN_DATA_UUID"), "recovery:" + env("MARLIN_RECOVERY_UUID"), "/backups/full"};
    if (command == "create-backup-image") {
        args.append("data.rbk");
    }
    bool ok = true;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            const QString tasks = taskList({task(command, args)});
            return proxy->SystemBackup(LiveService::request(4, "full", {{"recoveryInfo", tasks}})).value();
        },
        &ok);
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(),
             QString("The target location is full, please free up some space and try again"));
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QCOMPARE(QDir(recovery + "/backups").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 backupsBefore);
    }
    QCOMPARE(checkInitialBackup(), 0);
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
