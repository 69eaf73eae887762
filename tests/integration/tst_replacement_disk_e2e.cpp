#include "LiveService.h"
#include "Mounted.h"

#include <QDataStream>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

// The day the disk dies: a whole-disk backup of the system disk goes onto a new, larger disk of another drive, through
// the real service, with the system disk taken away (marlin-live-env detach-system-disk) and new disks fitted
// (add-new-disk BIG, MID, SMALL: larger than the old disk, smaller but larger than its partitions, too small).
// backUpTheSystemDisk runs before that, the rest after.
namespace {

using namespace LiveTest;

const QString BackupDir = "/replacement";
// The partitions the backup's table keeps: the data partition is the last, as on a disk it may grow on.
const QStringList KeptKeys{"EFI", "BOOT", "ROOT", "DATA"};

QString referencePath()
{
    return env("MARLIN_STATE_DIR") + "/replacement-reference.dat";
}

// What the restore must bring back, kept across the test programs that see the system disk and those that do not.
struct Reference
{
    QMap<QString, QString> uuids;
    QMap<QString, QByteArray> root;
    QMap<QString, QByteArray> data;
    // Each partition's "start size" in sectors, by number.
    QMap<QString, QString> extents;
    // The size of the disk the backup was made of.
    qint64 sourceBytes = 0;
};

QDataStream& operator<<(QDataStream& out, const Reference& r)
{
    return out << r.uuids << r.root << r.data << r.extents << r.sourceBytes;
}

QDataStream& operator>>(QDataStream& in, Reference& r)
{
    return in >> r.uuids >> r.root >> r.data >> r.extents >> r.sourceBytes;
}

bool runWithInput(const QString& program, const QStringList& args, const QByteArray& input)
{
    QProcess process;
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QMap<QString, QString> extentsOf(const QString& disk)
{
    QMap<QString, QString> extents;
    const QString out = output("partx", {"--show", "--noheadings", "--output", "NR,START,SECTORS", "--", disk});
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.simplified().split(' ');
        extents.insert(fields.value(0), fields.value(1) + " " + fields.value(2));
    }
    return extents;
}

QString blkid(const QString& device, const QString& tag)
{
    return output("blkid", {"-p", "-o", "value", "-s", tag, "--", device}).trimmed();
}

// What a refused restore must leave as it was: the table and the first 16 MiB.
QString diskState(const QString& disk)
{
    return output("sfdisk", {"--dump", disk}) + output("sh", {"-c", "head -c 16M \"$0\" | md5sum", disk});
}

QString partitionOf(const QString& disk, int number)
{
    return disk + "p" + QString::number(number);
}

} // namespace

class TestReplacementDiskE2E : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void backUpTheSystemDisk();
    void listsTheDisks();
    void keepSizeLeavesThePartitionsAsTheyWere();
    void refusedWithNothingWritten_data();
    void refusedWithNothingWritten();
    void restoreOntoASmallerDisk();
    void restoreFillsTheNewDisk();

private:
    // Restores the backup onto the drive; the outcome's payload.
    QJsonObject restoreOnto(const QString& drive, bool keepSize, bool* succeeded);
    bool readReference();
    // The disk holds the backup's table, moved to its end and the data partition grown to it, with every file.
    void checkFilledDisk(const QString& disk);

    LiveService* m_service = nullptr;
    Reference m_reference;
};

void TestReplacementDiskE2E::init()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
    QVERIFY2(!env("MARLIN_BACKUP_DRIVE").isEmpty(), "no backup disk (marlin-live-env add-backup-disk)");
    const bool before = QTest::currentTestFunction() == QByteArray("backUpTheSystemDisk");
    QCOMPARE(QFileInfo::exists(env("MARLIN_STATE_DIR") + "/system-detached"), !before);
    if (!before) {
        QVERIFY2(!env("MARLIN_NEW_BIG_DRIVE").isEmpty() && !env("MARLIN_NEW_SMALL_DRIVE").isEmpty(),
                 "no new disks (marlin-live-env add-new-disk)");
        QVERIFY(readReference());
    }
}

void TestReplacementDiskE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
}

bool TestReplacementDiskE2E::readReference()
{
    QFile file(referencePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QDataStream in(&file);
    in >> m_reference;
    return in.status() == QDataStream::Ok && !m_reference.root.isEmpty();
}

QJsonObject TestReplacementDiskE2E::restoreOnto(const QString& drive, bool keepSize, bool* succeeded)
{
    const Mounted source(env("MARLIN_BACKUP_UUID"));
    const QString backupDir = source + BackupDir;
    delete m_service;
    m_service = new LiveService;
    if (!m_service->start()) {
        return QJsonObject();
    }
    return m_service->runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            const QJsonObject extra{{"backupDir", backupDir}, {"targetDrive", drive}, {"keepSize", keepSize}};
            return proxy->ManualRestore(LiveService::request(2, "replacement", extra)).value();
        },
        succeeded);
}

// The table cut after the data partition while the backup is made, then put back: the system disk is as it was.
void TestReplacementDiskE2E::backUpTheSystemDisk()
{
    const QString disk = env("MARLIN_LOOP");
    const QString table = output("sfdisk", {"--dump", disk});
    QStringList kept;
    for (const QString& line : table.split('\n')) {
        const int number = line.section(' ', 0, 0).mid(disk.size() + 1).toInt();
        if (!line.startsWith(disk + "p") || number <= KeptKeys.size()) {
            kept.append(line);
        }
    }
    QVERIFY(runWithInput("sfdisk", {"--no-reread", "--no-tell-kernel", "-q", disk}, kept.join('\n').toUtf8()));
    Reference reference;
    for (const QString& key : KeptKeys) {
        reference.uuids.insert(key, env(qPrintable("MARLIN_" + key + "_UUID")));
    }
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        reference.root = treeOf(root.path());
        reference.data = treeOf(data.path());
    }
    reference.extents = extentsOf(disk);
    reference.sourceBytes = output("blockdev", {"--getsize64", disk}).trimmed().toLongLong();
    const QJsonArray tasks{
        QJsonObject{{"command", "create-backup-image"},
                    {"args", QJsonArray{"root:" + env("MARLIN_ROOT_UUID"), "backup:" + env("MARLIN_BACKUP_UUID"),
                                        BackupDir, "system.rbk"}}}};
    const QString info = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", false}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
    bool ok = false;
    m_service = new LiveService;
    QVERIFY(m_service->start());
    const QJsonObject outcome = m_service->runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ManualBackup(LiveService::request(3, "replacement-backup", {{"recoveryInfo", info}})).value();
        },
        &ok);
    const bool restored = runWithInput("sfdisk", {"--no-reread", "--no-tell-kernel", "-q", disk}, table.toUtf8());
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QVERIFY(restored);
    QCOMPARE(output("sfdisk", {"--dump", disk}), table);
    QCOMPARE(reference.extents.size(), KeptKeys.size());
    QFile file(referencePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QDataStream out(&file);
    out << reference;
}

void TestReplacementDiskE2E::listsTheDisks()
{
    const Mounted source(env("MARLIN_BACKUP_UUID"));
    m_service = new LiveService;
    QVERIFY(m_service->start());
    bool ok = false;
    const QJsonObject outcome = m_service->runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ListRestoreDisks(LiveService::request(16, "disks", {{"backupDir", source + BackupDir}}))
                .value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    const QJsonObject data = QJsonDocument::fromJson(outcome.value("data").toString().toUtf8()).object();
    QCOMPARE(data.value("recordedDrive").toString(), env("MARLIN_SYSTEM_DRIVE"));
    QCOMPARE(data.value("recordedPresent").toBool(true), false);
    QMap<QString, QString> verdicts;
    for (const QJsonValue& disk : data.value("disks").toArray()) {
        const QJsonObject d = disk.toObject();
        verdicts.insert(d.value("drive").toString(),
                        d.value("qualifies").toBool() ? QString("yes") : d.value("reason").toString());
    }
    QCOMPARE(verdicts.value(env("MARLIN_NEW_BIG_DRIVE")), QString("yes"));
    QCOMPARE(verdicts.value(env("MARLIN_NEW_MID_DRIVE")), QString("yes"));
    // The end of the data partition and a MiB for the GPT's backup, not the old disk's size.
    const QStringList last = m_reference.extents.value("4").split(' ');
    QCOMPARE(qint64(data.value("needBytes").toDouble()),
             (last.value(0).toLongLong() + last.value(1).toLongLong()) * 512 + 1024 * 1024);
    QCOMPARE(verdicts.value(env("MARLIN_NEW_SMALL_DRIVE")), QString("too small"));
    QCOMPARE(verdicts.value(env("MARLIN_BACKUP_DRIVE")), QString("holds the backup"));
}

void TestReplacementDiskE2E::keepSizeLeavesThePartitionsAsTheyWere()
{
    bool ok = false;
    const QJsonObject outcome = restoreOnto(env("MARLIN_NEW_BIG_DRIVE"), true, &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(extentsOf(env("MARLIN_NEW_BIG_DISK")), m_reference.extents);
    QCOMPARE(exitCodeOf("sfdisk", {"--verify", env("MARLIN_NEW_BIG_DISK")}), 0);
}

void TestReplacementDiskE2E::refusedWithNothingWritten_data()
{
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QString>("message");
    QTest::newRow("smaller disk") << env("MARLIN_NEW_SMALL_DRIVE") << env("MARLIN_NEW_SMALL_DISK")
                                  << "The chosen disk is too small";
    QTest::newRow("the disk holding the backup")
        << env("MARLIN_BACKUP_DRIVE") << env("MARLIN_BACKUP_DISK") << "The chosen disk holds the backup";
    // The big disk holds the restored partitions by now (keepSizeLeavesThePartitionsAsTheyWere): its data one is
    // mounted for this row.
    QTest::newRow("a disk with a mounted partition")
        << env("MARLIN_NEW_BIG_DRIVE") << env("MARLIN_NEW_BIG_DISK") << "A partition of the chosen disk is in use";
    QTest::newRow("a drive no disk has") << "MARLIN_NO_SUCH_DRIVE" << env("MARLIN_NEW_BIG_DISK")
                                         << "The chosen disk is not there";
}

void TestReplacementDiskE2E::refusedWithNothingWritten()
{
    QFETCH(QString, drive);
    QFETCH(QString, disk);
    QFETCH(QString, message);
    QDir scratch(env("MARLIN_STATE_DIR") + "/replacement-mount");
    const bool mount = QByteArray(QTest::currentDataTag()).contains("mounted");
    if (mount) {
        QVERIFY(scratch.mkpath("."));
        QVERIFY(run("mount", {partitionOf(disk, 4), scratch.path()}));
    }
    const QString before = diskState(disk);
    bool ok = true;
    const QJsonObject outcome = restoreOnto(drive, false, &ok);
    if (mount) {
        run("umount", {scratch.path()});
    }
    QVERIFY(!ok);
    QVERIFY2(outcome.value("errMsg").toString().startsWith(message), qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(diskState(disk), before);
}

// Runs first of the restores: the other new disks hold nothing yet, so the UUIDs it writes are the only ones. It is
// wiped afterwards for the same reason.
void TestReplacementDiskE2E::restoreOntoASmallerDisk()
{
    const QString disk = env("MARLIN_NEW_MID_DISK");
    const qint64 sectors = output("blockdev", {"--getsz", disk}).trimmed().toLongLong();
    QVERIFY2(sectors > 0 && sectors * 512 < m_reference.sourceBytes, qPrintable(QString::number(sectors)));
    bool ok = false;
    const QJsonObject outcome = restoreOnto(env("MARLIN_NEW_MID_DRIVE"), false, &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    checkFilledDisk(disk);
    for (int n = KeptKeys.size(); n >= 1; --n) {
        run("wipefs", {"-a", "-q", partitionOf(disk, n)});
    }
    QVERIFY(run("wipefs", {"-a", "-q", disk}));
    run("partx", {"-d", disk});
}

void TestReplacementDiskE2E::restoreFillsTheNewDisk()
{
    bool ok = false;
    const QJsonObject outcome = restoreOnto(env("MARLIN_NEW_BIG_DRIVE"), false, &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    checkFilledDisk(env("MARLIN_NEW_BIG_DISK"));
}

void TestReplacementDiskE2E::checkFilledDisk(const QString& disk)
{
    int code = -1;
    const QString verdict = output("sfdisk", {"--verify", disk}, &code);
    QVERIFY2(code == 0 && verdict.contains("No errors detected"), qPrintable(verdict));
    // The GPT header's own record of where its backup lies: the disk's last sector.
    QFile raw(disk);
    QVERIFY(raw.open(QIODevice::ReadOnly) && raw.seek(512 + 32));
    qint64 alternate = 0;
    QCOMPARE(raw.read(reinterpret_cast<char*>(&alternate), 8), qint64(8));
    const qint64 sectors = output("blockdev", {"--getsz", disk}).trimmed().toLongLong();
    QCOMPARE(alternate, sectors - 1);

    const QMap<QString, QString> extents = extentsOf(disk);
    QCOMPARE(extents.keys(), m_reference.extents.keys());
    for (const QString& number : {QString("1"), QString("2"), QString("3")}) {
        QCOMPARE(extents.value(number), m_reference.extents.value(number));
    }
    // The data partition reaches the last usable sector (34 before the end: the backup table and its header).
    const QStringList data = extents.value("4").split(' ');
    QCOMPARE(data.value(0), m_reference.extents.value("4").section(' ', 0, 0));
    QVERIFY2(data.value(0).toLongLong() + data.value(1).toLongLong() >= sectors - 34 - 2048,
             qPrintable(extents.value("4")));
    const QString dataDevice = partitionOf(disk, 4);
    const QString fsck = output("fsck.ext4", {"-n", "-f", dataDevice}, &code);
    QVERIFY2(code == 0, qPrintable(fsck));
    const QString super = output("dumpe2fs", {"-h", dataDevice});
    const qint64 blocks = super.section("Block count:", 1).section('\n', 0, 0).trimmed().toLongLong();
    const qint64 blockSize = super.section("Block size:", 1).section('\n', 0, 0).trimmed().toLongLong();
    QVERIFY2(blocks * blockSize > (data.value(1).toLongLong() * 512) - 4 * 1024 * 1024, qPrintable(super));

    for (int n = 1; n <= KeptKeys.size(); ++n) {
        QCOMPARE(blkid(partitionOf(disk, n), "UUID"), m_reference.uuids.value(KeptKeys.at(n - 1)));
    }
    // By device: another new disk may hold the same UUIDs from an earlier row.
    const Mounted root(partitionOf(disk, KeptKeys.indexOf("ROOT") + 1));
    const Mounted dataMount(partitionOf(disk, KeptKeys.indexOf("DATA") + 1));
    QVERIFY2(root.isValid() && dataMount.isValid(), qPrintable(disk));
    QCOMPARE(treeOf(root.path()), m_reference.root);
    QMap<QString, QByteArray> restoredData = treeOf(dataMount.path());
    // The task keeps the login records aside and puts them into the data partition's var/log.
    for (const QString& path : restoredData.keys()) {
        if (path.startsWith("/var/log") && !m_reference.data.contains(path)) {
            restoredData.remove(path);
        }
    }
    QCOMPARE(restoredData, m_reference.data);
}

QTEST_GUILESS_MAIN(TestReplacementDiskE2E)
#include "tst_replacement_disk_e2e.moc"
