#include "LiveService.h"
#include "MaliciousBackup.h"
#include "Mounted.h"
#include "utils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

// Backups and requests made by someone other than the service's own user, through the real service on the
// fabricated machine: each is refused, and nothing is written outside the partitions the restore may change (a
// canary directory in the live system's root and the spare partition, which is no partition of the installed system).
namespace {

using namespace LiveTest;

const QString BadBackup = "There is something wrong with your backup file";
const QString NoTarget = "Cannot find the target location";
const QString MaliciousDir = "/backups/malicious";
// Where root once kept login records and event records for a moment: any account could plant a link there first.
const QString PlantedWtmp = "/tmp/wtmp.bak";
const QString PlantedEventLog = "/tmp/event-log";

QString taskList(const QJsonArray& tasks)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", false}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
}

// A backup of the small boot partition into a directory below the recovery partition.
QString bootBackupRequest(const QString& operateID, const QString& directory)
{
    const QJsonArray args{"boot:" + env("MARLIN_BOOT_UUID"), "recovery:" + env("MARLIN_RECOVERY_UUID"), directory,
                          "boot.rbk"};
    const QJsonArray tasks{QJsonObject{{"command", "create-backup-image"}, {"args", args}}};
    return LiveService::request(4, operateID, {{"recoveryInfo", taskList(tasks)}});
}

// What a refused restore must leave as it was.
struct Disks
{
    QMap<QString, QByteArray> canary;
    QMap<QString, QByteArray> spare;
    QMap<QString, QByteArray> dataOpt;
    QMap<QString, QByteArray> dataVar;

    static Disks read(const QString& canaryDir)
    {
        Disks disks;
        disks.canary = treeOf(canaryDir);
        const Mounted spare(env("MARLIN_SPARE_UUID"));
        disks.spare = treeOf(spare.path());
        const Mounted data(env("MARLIN_DATA_UUID"));
        disks.dataOpt = treeOf(data + "/opt");
        disks.dataVar = treeOf(data + "/var");
        // A failed restore, too, puts the login records it kept aside back beside the data partition's own.
        disks.dataVar.remove("/log/wtmp.bak");
        return disks;
    }
};

} // namespace

class TestUntrustedE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void maliciousArchivesAreRefused_data();
    void maliciousArchivesAreRefused();
    void backupDirectoryIsNotWritableByOthers();
    void linksInTheBackupDirectoryAreNeverWrittenThrough();
    void backupDestinationOutsideItsPartition_data();
    void backupDestinationOutsideItsPartition();

private:
    // Starts a fresh service, sends one request and waits for its outcome; the outcome's payload, or empty.
    QJsonObject runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded);

    LiveService* m_service = nullptr;
    QTemporaryDir* m_canary = nullptr;
};

void TestUntrustedE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
}

void TestUntrustedE2E::init()
{
    // In the live system's root, outside every partition of the fabricated machine.
    m_canary = new QTemporaryDir("/var/tmp/marlin-canary-XXXXXX");
    QVERIFY(m_canary->isValid());
    QVERIFY(writeFile(m_canary->filePath("victim"), "original\n"));
}

void TestUntrustedE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
    delete m_canary;
    m_canary = nullptr;
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    for (const QString& dir : {MaliciousDir, QString("/backups/acl"), QString("/backups/out-link")}) {
        QFile::remove(recovery + dir);
        QDir(recovery + dir).removeRecursively();
    }
    // The login records a failed restore puts back beside the data partition's own.
    const Mounted data(env("MARLIN_DATA_UUID"));
    QFile::remove(data + "/var/log/wtmp.bak");
    QFile::remove(PlantedWtmp);
    QFile::remove(PlantedEventLog);
}

QJsonObject TestUntrustedE2E::runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call,
                                      bool* succeeded)
{
    delete m_service;
    m_service = new LiveService;
    return m_service->start() ? m_service->runTask(call, succeeded) : QJsonObject();
}

namespace {

// An opt archive whose members are links: opt itself a link to ".", then a file below it; or a hard link to the
// partition's home.
bool linkingArchive(const QString& archive, const QString& dataUUID, const QString& kind)
{
    QList<TarMember> members;
    if (kind == "selflink") {
        members.append(TarMember{"opt", QByteArray(), ".", 0});
        members.append(TarMember{"opt/escaped", "out\n", QString(), 0});
    } else {
        members.append(TarMember{"opt/", QByteArray(), QString(), '5'});
        members.append(TarMember{"opt/h", QByteArray(), "home", '1'});
    }
    return MaliciousBackup::writeArchive(archive, MaliciousBackup::dataInfo(dataUUID, "opt"), members);
}

} // namespace

void TestUntrustedE2E::maliciousArchivesAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("Directory=-P, absolute members") << "absolute";
    QTest::newRow("Directory=../…, out of the partition") << "leaves";
    QTest::newRow("member with ..") << "dotdot";
    QTest::newRow("UUID of a partition outside the system") << "foreign";
    QTest::newRow("opt a link to itself, then opt/escaped") << "selflink";
    QTest::newRow("hard link out of opt") << "hardlink";
}

void TestUntrustedE2E::maliciousArchivesAreRefused()
{
    QFETCH(QString, kind);
    const QString victim = m_canary->filePath("victim");
    const QString dataUUID = env("MARLIN_DATA_UUID");
    QString backupDir;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        backupDir = recovery + MaliciousDir;
        const QString archive = backupDir + "/opt.tar";
        namespace Bad = MaliciousBackup;
        const bool made = kind == "absolute" ? Bad::absoluteMembers(archive, dataUUID, victim, "overwritten\n")
                          : kind == "leaves" ? Bad::directoryLeavesPartition(archive, dataUUID, victim, "overwritten\n")
                          : kind == "dotdot" ? Bad::dotDotMember(archive, dataUUID, victim, "overwritten\n")
                          : kind == "foreign" ? Bad::foreignPartition(archive, env("MARLIN_SPARE_UUID"))
                                              : linkingArchive(archive, dataUUID, kind);
        QVERIFY(made);
    }
    QFile::remove(PlantedWtmp);
    QFile::remove(PlantedEventLog);
    QVERIFY(QFile::link(m_canary->filePath("victim"), PlantedWtmp));
    QVERIFY(QFile::link(m_canary->path(), PlantedEventLog));
    const Disks before = Disks::read(m_canary->path());
    QVERIFY(!before.dataOpt.isEmpty());
    bool ok = true;
    QJsonObject outcome;
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        outcome = runTask(
            [&](ComMarlinDaemonRecoveryInterface* proxy) {
                return proxy->ManualRestore(LiveService::request(2, "bad-" + kind, {{"backupDir", backupDir}})).value();
            },
            &ok);
    }
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), BadBackup);
    const Disks after = Disks::read(m_canary->path());
    QCOMPARE(readFile(victim), QByteArray("original\n"));
    QCOMPARE(after.canary, before.canary);
    QCOMPARE(after.spare, before.spare);
    QCOMPARE(after.dataOpt, before.dataOpt);
    QCOMPARE(after.dataVar, before.dataVar);
}

void TestUntrustedE2E::backupDirectoryIsNotWritableByOthers()
{
    // Left writable by every account, as backups once were: the next backup into it takes that away.
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(QDir().mkpath(recovery + "/backups/acl"));
        QVERIFY(MaliciousBackup::makeWritableByAll(recovery + "/backups/acl"));
    }
    bool ok = false;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(bootBackupRequest("acl-1", "/backups/acl")).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    const QString dir = recovery + "/backups/acl";
    QVERIFY(QFile::exists(dir + "/boot.rbk"));
    const QFile::Permissions permissions = QFileInfo(dir).permissions();
    QVERIFY(!(permissions & QFile::WriteOther));
    QVERIFY(permissions & QFile::ReadOther && permissions & QFile::ExeOther);
    QVERIFY(output("getfacl", {"--omit-header", dir}).split('\n').contains("other::r-x"));
}

// Links planted in a backup directory beforehand, to a file of the partition and to one of the live system, under
// the names the backup writes: neither target changes, and the backup leaves regular files.
void TestUntrustedE2E::linksInTheBackupDirectoryAreNeverWrittenThrough()
{
    const QString relative = "/backups/links";
    const QString victim = m_canary->filePath("victim");
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QString dir = recovery + relative;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(recovery + "/backups/kept.txt", "kept\n"));
        QVERIFY(QFile::link("../kept.txt", dir + "/boot.rbk"));
        QVERIFY(QFile::link(victim, dir + "/boot.rbk.md5"));
    }
    bool ok = false;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(bootBackupRequest("links-1", relative)).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(readFile(victim), QByteArray("original\n"));
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QCOMPARE(readFile(recovery + "/backups/kept.txt"), QByteArray("kept\n"));
    for (const QString& name : {QString("boot.rbk"), QString("boot.rbk.md5")}) {
        const QFileInfo written(recovery + relative + "/" + name);
        QVERIFY2(written.isFile() && !written.isSymLink(), qPrintable(name));
    }
    QFile::remove(recovery + "/backups/kept.txt");
}

void TestUntrustedE2E::backupDestinationOutsideItsPartition_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("dot-dot") << "dotdot";
    QTest::newRow("link out of the partition") << "link";
}

void TestUntrustedE2E::backupDestinationOutsideItsPartition()
{
    QFETCH(QString, kind);
    const QString canary = m_canary->path();
    QString directory = QString("/..").repeated(12) + canary + "/escape";
    if (kind == "link") {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(QDir().mkpath(recovery + "/backups"));
        QVERIFY(QFile::link(canary, recovery + "/backups/out-link"));
        directory = "/backups/out-link/escape";
    }
    const QMap<QString, QByteArray> canaryBefore = treeOf(canary);
    bool ok = true;
    const QJsonObject outcome = runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemBackup(bootBackupRequest("outside-" + kind, directory)).value();
        },
        &ok);
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), NoTarget);
    QCOMPARE(treeOf(canary), canaryBefore);
}

QTEST_GUILESS_MAIN(TestUntrustedE2E)
#include "tst_untrusted_e2e.moc"
