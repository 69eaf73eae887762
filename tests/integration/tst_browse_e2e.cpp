#include "LiveService.h"
#include "Mounted.h"
#include "utils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>

#include <sys/stat.h>

// Browsing the installed system and bringing single files back onto a second disk, through the real service on the
// fabricated machine. One service for the whole run: a browse session lives as long as the window's.
namespace {

using namespace LiveTest;

// OpBrowseOpen and the others of the service protocol.
enum
{
    Open = 10,
    List = 11,
    Destinations = 12,
    Copy = 13,
    Cancel = 14,
    Close = 15,
};

const QString BigFile = "/home/alice/big.bin";
const QString HomesScript =
    "m=$1; rm -rf \"$m\"/home/alice \"$m\"/home/bob && mkdir -p \"$m\"/home/alice/Documents \"$m\"/home/alice/Videos "
    "\"$m\"/home/alice/.config/marlin \"$m\"/home/bob/Pictures && "
    "printf 'Quarterly report\\n\\nRevenue went up.\\n' >\"$m/home/alice/Documents/report.txt\" && "
    "printf '[General]\\nTheme=dark\\n' >\"$m/home/alice/.config/marlin/settings.ini\" && "
    "head -c 2097152 /dev/urandom >\"$m/home/alice/Videos/clip.bin\" && "
    "printf 'Holiday pictures go here.\\n' >\"$m/home/bob/Pictures/holiday.txt\" && "
    "printf '# Notes\\n- call alice\\n' >\"$m/home/bob/notes.md\" && "
    "chown -R 1000:1000 \"$m/home/alice\" && chown -R 1001:1001 \"$m/home/bob\" && "
    "chmod 0750 \"$m/home/alice\" \"$m/home/bob\"";
const qint64 BigSize = 300 * 1024 * 1024;

QJsonObject dataOf(const QJsonObject& outcome)
{
    return Utils::stringToJson(outcome.value("data").toString());
}

QStringList namesOf(const QJsonObject& listing)
{
    QStringList names;
    for (const QJsonValue& entry : listing.value("entries").toArray()) {
        names.append(entry.toObject().value("name").toString());
    }
    return names;
}

const QStringList CopiedFromAlice{"/Documents/report.txt", "/Videos/clip.bin", "/Documents", "/Videos"};

// What a copy keeps of a file: its mode, owner, modification time and content.
QString attributesOf(const QString& path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return QString();
    }
    const QByteArray content = S_ISREG(info.st_mode) ? readFile(path) : QByteArray();
    return QString("mode %1 owner %2 mtime %3.%4 md5 %5")
        .arg(info.st_mode, 0, 8)
        .arg(info.st_uid)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec)
        .arg(QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
}

bool browseMountsLeft()
{
    return readFile("/proc/self/mountinfo").contains("/run/marlin-browse/");
}

} // namespace

class TestBrowseE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void browseTheHomes();
    void refusedPaths_data();
    void refusedPaths();
    void copyAFolderKeepsContentModeAndTimes();
    void nameClashGetsANewName();
    void destinationWithoutRoomIsRefused();
    void cancelledCopyLeavesNoPartialFile();
    void closeUnmountsEverything();
    void browseAPartition();
    void browseARestorePoint();
    void callerLeavingTheBusCloses();
    void serviceEndingCloses();
    void copyBenchmark();

private:
    // Sends one request; the outcome's payload, empty when it was not accepted.
    QJsonObject ask(int opType, const QJsonObject& extra, bool* succeeded, QList<int>* progress = nullptr);
    QJsonObject copy(const QStringList& paths, bool* succeeded, QList<int>* progress = nullptr);
    int answerTo(int opType, const QJsonObject& extra);

    LiveService m_service;
    QMap<QString, QByteArray> m_homesBefore;
    // CopiedFromAlice's attributes in the source.
    QStringList m_aliceAttributes;
    QByteArray m_rootFstab;
    int m_requests = 0;
};

void TestBrowseE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1" || env("MARLIN_BACKUP_UUID").isEmpty()) {
        QSKIP("needs the fabricated live environment with its backup disk");
    }
    {
        // Large enough that a cancel arrives while it is copied.
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(data.isValid());
        // Tests before this one add files to the homes, reset or restore them: the homes as the fabricated machine
        // made them, whatever ran before.
        QVERIFY(run("sh", {"-c", HomesScript, "sh", data.path()}));
        QVERIFY(run("dd", {"if=/dev/zero", "of=" + data.path() + BigFile, "bs=1M", "count=300", "status=none"}));
        QVERIFY(run("chown", {"1000:1000", data + BigFile}));
        m_homesBefore = treeOf(data + "/home");
        for (const QString& file : CopiedFromAlice) {
            m_aliceAttributes.append(attributesOf(data + "/home/alice" + file));
        }
    }
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        m_rootFstab = readFile(root + "/etc/fstab");
        QVERIFY(!m_rootFstab.isEmpty());
    }
    QVERIFY(m_service.start());
}

void TestBrowseE2E::cleanupTestCase()
{
    m_service.stop();
    const Mounted data(env("MARLIN_DATA_UUID"));
    QFile::remove(data + BigFile);
    const Mounted backup(env("MARLIN_BACKUP_UUID"));
    QDir(backup + "/Recovered Files").removeRecursively();
}

void TestBrowseE2E::cleanup()
{
    m_service.showOutputOnFailure();
}

int TestBrowseE2E::answerTo(int opType, const QJsonObject& extra)
{
    const QString req = LiveService::request(opType, QString("browse-%1").arg(++m_requests), extra);
    ComMarlinDaemonRecoveryInterface* proxy = m_service.proxy();
    switch (opType) {
    case Open:
        return proxy->OpenBrowse(req).value();
    case List:
        return proxy->ListBrowseDirectory(req).value();
    case Destinations:
        return proxy->ListCopyDestinations(req).value();
    case Copy:
        return proxy->CopyBrowseFiles(req).value();
    case Cancel:
        return proxy->CancelBrowseCopy(req).value();
    default:
        return proxy->CloseBrowse(req).value();
    }
}

QJsonObject TestBrowseE2E::ask(int opType, const QJsonObject& extra, bool* succeeded, QList<int>* progress)
{
    return m_service.runTask([&](ComMarlinDaemonRecoveryInterface*) { return answerTo(opType, extra); }, succeeded,
                             progress);
}

QJsonObject TestBrowseE2E::copy(const QStringList& paths, bool* succeeded, QList<int>* progress)
{
    return ask(Copy, {{"paths", QJsonArray::fromStringList(paths)}, {"destUUID", env("MARLIN_BACKUP_UUID")}}, succeeded,
               progress);
}

void TestBrowseE2E::browseTheHomes()
{
    bool ok = false;
    const QJsonArray volumes = dataOf(ask(Open, {{"source", "personal"}}, &ok)).value("volumes").toArray();
    QVERIFY(ok);
    QCOMPARE(volumes.size(), 1);
    QCOMPARE(volumes.at(0).toObject().value("name").toString(), QString("home"));
    QCOMPARE(volumes.at(0).toObject().value("fsType").toString(), QString("ext4"));
    // The fstab binds /data/home at /home: the data partition, read-only.
    QVERIFY(mountOptionsOf(env("MARLIN_DATA_DEV")).split(',').contains("ro"));

    QCOMPARE(namesOf(dataOf(ask(List, {{"path", ""}}, &ok))), QStringList{"home"});
    QCOMPARE(namesOf(dataOf(ask(List, {{"path", "home"}}, &ok))), (QStringList{"alice", "bob"}));
    const QJsonObject alice = dataOf(ask(List, {{"path", "home/alice"}}, &ok));
    QVERIFY(ok);
    QCOMPARE(namesOf(alice), (QStringList{".config", "Documents", "Videos", "big.bin"}));
    const QJsonObject big = alice.value("entries").toArray().at(3).toObject();
    QCOMPARE(big.value("kind").toString(), QString("file"));
    QCOMPARE(qint64(big.value("size").toDouble()), BigSize);
    QVERIFY(big.value("mtime").toDouble() > 0);

    const QJsonArray destinations = dataOf(ask(Destinations, {}, &ok)).value("destinations").toArray();
    QVERIFY(ok);
    QStringList uuids;
    for (const QJsonValue& each : destinations) {
        uuids.append(each.toObject().value("uuid").toString());
        if (uuids.constLast() == env("MARLIN_BACKUP_UUID")) {
            QVERIFY(each.toObject().value("free").toDouble() > 100e6);
        }
    }
    QVERIFY2(uuids.contains(env("MARLIN_BACKUP_UUID")), qPrintable(uuids.join(' ')));
    // Neither the partition browsed nor the recovery partition takes copies.
    QVERIFY(!uuids.contains(env("MARLIN_DATA_UUID")));
    QVERIFY(!uuids.contains(env("MARLIN_RECOVERY_UUID")));
}

void TestBrowseE2E::refusedPaths_data()
{
    QTest::addColumn<int>("opType");
    QTest::addColumn<QJsonObject>("request");
    QTest::newRow("list ..") << int(List) << QJsonObject{{"path", "home/.."}};
    QTest::newRow("list ../ first") << int(List) << QJsonObject{{"path", "../etc"}};
    QTest::newRow("list absolute") << int(List) << QJsonObject{{"path", "/etc"}};
    QTest::newRow("list empty component") << int(List) << QJsonObject{{"path", "home//alice"}};
    const QString backup = env("MARLIN_BACKUP_UUID");
    QTest::newRow("copy ..") << int(Copy)
                             << QJsonObject{{"paths", QJsonArray{"home/alice/../bob"}}, {"destUUID", backup}};
    QTest::newRow("copy a destination folder outside")
        << int(Copy) << QJsonObject{{"paths", QJsonArray{"home/bob"}}, {"destUUID", backup}, {"destDir", "../x"}};
}

void TestBrowseE2E::refusedPaths()
{
    QFETCH(int, opType);
    QFETCH(QJsonObject, request);
    QSignalSpy error(m_service.proxy(), &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(answerTo(opType, request), -1);
    QVERIFY(error.wait(10000));
    QCOMPARE(Utils::stringToJson(error.constFirst().constFirst().toString()).value("errMsg").toString(),
             QString("Invalid path"));
}

void TestBrowseE2E::copyAFolderKeepsContentModeAndTimes()
{
    bool ok = false;
    QList<int> progress;
    const QJsonObject data = dataOf(copy({"home/alice/Documents", "home/alice/Videos"}, &ok, &progress));
    QVERIFY2(ok, qPrintable(QJsonDocument(data).toJson()));
    QCOMPARE(data.value("files").toInt(), 2);
    QCOMPARE(data.value("destPath").toString(), QString("Recovered Files"));
    QVERIFY(!progress.isEmpty());
    for (int i = 1; i < progress.size(); ++i) {
        QVERIFY(progress.at(i) > progress.at(i - 1));
    }
    // Mounted for the copy alone.
    QVERIFY(!isMounted(env("MARLIN_BACKUP_DEV")));

    const Mounted backup(env("MARLIN_BACKUP_UUID"));
    QStringList copied;
    for (const QString& file : CopiedFromAlice) {
        copied.append(attributesOf(backup + "/Recovered Files" + file));
    }
    QCOMPARE(copied, m_aliceAttributes);
}

void TestBrowseE2E::nameClashGetsANewName()
{
    bool ok = false;
    copy({"home/bob/notes.md"}, &ok);
    QVERIFY(ok);
    const QJsonObject data = dataOf(copy({"home/bob/notes.md", "home/alice/Documents"}, &ok));
    QVERIFY(ok);
    const QJsonArray renamed = data.value("renamed").toArray();
    QCOMPARE(renamed.size(), 2);
    QCOMPARE(renamed.at(0).toObject().value("to").toString(), QString("notes (2).md"));
    QCOMPARE(renamed.at(1).toObject().value("to").toString(), QString("Documents (2)"));
    const Mounted backup(env("MARLIN_BACKUP_UUID"));
    QCOMPARE(readFile(backup + "/Recovered Files/notes (2).md"), readFile(backup + "/Recovered Files/notes.md"));
    QVERIFY(QFileInfo(backup + "/Recovered Files/Documents (2)/report.txt").isFile());
    QVERIFY(QFileInfo(backup + "/Recovered Files/Documents/report.txt").isFile());
}

void TestBrowseE2E::destinationWithoutRoomIsRefused()
{
    QMap<QString, QByteArray> before;
    {
        const Mounted backup(env("MARLIN_BACKUP_UUID"));
        const qint64 free = QStorageInfo(backup.path()).bytesAvailable();
        QVERIFY(run("fallocate", {"-l", QString::number(free - 1024 * 1024), backup + "/filler"}));
        before = treeOf(backup.path());
    }
    bool ok = true;
    const QJsonObject outcome = copy({"home/alice/Videos"}, &ok);
    const QJsonObject data = dataOf(outcome);
    {
        const Mounted backup(env("MARLIN_BACKUP_UUID"));
        const QMap<QString, QByteArray> after = treeOf(backup.path());
        QFile::remove(backup + "/filler");
        QCOMPARE(after, before);
    }
    QVERIFY(!ok);
    QCOMPARE(outcome.value("errMsg").toString(), QString("Not enough free space on the destination"));
    QVERIFY(data.value("needed").toDouble() > 2 * 1024 * 1024);
    QVERIFY(data.value("free").toDouble() < data.value("needed").toDouble());
}

void TestBrowseE2E::cancelledCopyLeavesNoPartialFile()
{
    QSignalSpy report(m_service.proxy(), &ComMarlinDaemonRecoveryInterface::ReportProgress);
    QSignalSpy error(m_service.proxy(), &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(answerTo(Copy, {{"paths", QJsonArray{"home/alice/big.bin"}}, {"destUUID", env("MARLIN_BACKUP_UUID")}}), 0);
    QVERIFY(report.wait(60000));
    QCOMPARE(answerTo(Cancel, {}), 0);
    QVERIFY(error.wait(60000));
    const QJsonObject outcome = Utils::stringToJson(error.constLast().constFirst().toString());
    QCOMPARE(outcome.value("errMsg").toString(), QString("Copy cancelled"));
    QCOMPARE(dataOf(outcome).value("files").toInt(), 0);
    const Mounted backup(env("MARLIN_BACKUP_UUID"));
    const QStringList left = QDir(backup + "/Recovered Files").entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(!left.contains("big.bin"), qPrintable(left.join(' ')));
    QVERIFY2(left.filter(".marlin").isEmpty(), qPrintable(left.join(' ')));
}

void TestBrowseE2E::closeUnmountsEverything()
{
    bool ok = false;
    ask(Close, {}, &ok);
    QVERIFY(ok);
    QVERIFY(!isMounted(env("MARLIN_DATA_DEV")));
    QVERIFY(!browseMountsLeft());
    // Nothing was written to what was browsed.
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(treeOf(data + "/home"), m_homesBefore);
}

void TestBrowseE2E::browseAPartition()
{
    bool ok = false;
    const QJsonArray volumes = dataOf(ask(Open, {{"source", "partition"}, {"devicePath", env("MARLIN_BOOT_DEV")}}, &ok))
                                   .value("volumes")
                                   .toArray();
    QVERIFY(ok);
    QCOMPARE(volumes.size(), 1);
    const QString name = volumes.at(0).toObject().value("name").toString();
    QVERIFY(!namesOf(dataOf(ask(List, {{"path", name}}, &ok))).isEmpty());
    // Only the installed system's own disk is browsed.
    const QJsonObject refused = ask(Open, {{"source", "partition"}, {"devicePath", env("MARLIN_BACKUP_DEV")}}, &ok);
    QVERIFY(!ok);
    QCOMPARE(refused.value("errMsg").toString(), QString("Cannot open it for browsing"));
    QVERIFY(!browseMountsLeft());
}

// The installer's initial backup on the recovery partition: its images shown through the cloning tool.
void TestBrowseE2E::browseARestorePoint()
{
    bool ok = false;
    const QJsonObject opened =
        ask(Open, {{"source", "backup"}, {"backupUUID", env("MARLIN_RECOVERY_UUID")}, {"backupDir", "/backup"}}, &ok);
    QVERIFY2(ok, qPrintable(opened.value("errMsg").toString()));
    QStringList volumes;
    for (const QJsonValue& volume : dataOf(opened).value("volumes").toArray()) {
        volumes.append(volume.toObject().value("name").toString());
    }
    QCOMPARE(volumes, (QStringList{"boot", "system"}));
    QVERIFY(namesOf(dataOf(ask(List, {{"path", "system/etc"}}, &ok))).contains("fstab"));
    copy({"system/etc/fstab"}, &ok);
    QVERIFY(ok);
    {
        const Mounted backup(env("MARLIN_BACKUP_UUID"));
        QCOMPARE(readFile(backup + "/Recovered Files/fstab"), m_rootFstab);
    }
    ask(Close, {}, &ok);
    QVERIFY(ok);
    QVERIFY(!browseMountsLeft());
    QVERIFY(!readFile("/proc/self/mountinfo").contains("fuse"));
}

void TestBrowseE2E::callerLeavingTheBusCloses()
{
    // A window of its own: the same process on a connection of its own, which then goes away.
    {
        QDBusConnection window = QDBusConnection::connectToBus(QDBusConnection::SystemBus, "browsing-window");
        ComMarlinDaemonRecoveryInterface proxy("com.marlin.recovery", "/com/marlin/recovery", window);
        QSignalSpy success(&proxy, &ComMarlinDaemonRecoveryInterface::Success);
        QCOMPARE(proxy.OpenBrowse(LiveService::request(Open, "window", {{"source", "personal"}})).value(), 0);
        QVERIFY(success.wait(60000));
        QVERIFY(isMounted(env("MARLIN_DATA_DEV")));
    }
    QDBusConnection::disconnectFromBus("browsing-window");
    QVERIFY(QTest::qWaitFor([] { return !isMounted(env("MARLIN_DATA_DEV")) && !browseMountsLeft(); }, 60000));
}

void TestBrowseE2E::serviceEndingCloses()
{
    bool ok = false;
    ask(Open, {{"source", "personal"}}, &ok);
    QVERIFY(ok);
    QVERIFY(isMounted(env("MARLIN_DATA_DEV")));
    m_service.stop();
    QVERIFY(LiveService::waitUntilNameLeaves());
    QVERIFY(!isMounted(env("MARLIN_DATA_DEV")));
    QVERIFY(!browseMountsLeft());
}

// bench/copy-bench.sh: about 500 MB of headers and large files copied through the service and by cp -a, caches
// dropped before each; prints key=value figures.
void TestBrowseE2E::copyBenchmark()
{
    if (env("MARLIN_COPY_BENCH") != "1") {
        QSKIP("a benchmark: bench/copy-bench.sh runs it");
    }
    const QString bench = "/home/bench";
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(run("mkdir", {"-p", data + bench}));
        QVERIFY(run("cp", {"-a", "/usr/include", data + bench + "/include"}));
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(run("dd", {"if=/dev/urandom", QString("of=%1/video%2.bin").arg(data + bench).arg(i), "bs=1M",
                               "count=110", "status=none"}));
        }
    }
    const auto dropCaches = [] { return run("sync", {}) && writeFile("/proc/sys/vm/drop_caches", "3\n"); };
    bool ok = false;
    ask(Open, {{"source", "personal"}}, &ok);
    QVERIFY(ok);
    QVERIFY(dropCaches());
    QElapsedTimer timer;
    timer.start();
    const QJsonObject copied = dataOf(copy({"home/bench"}, &ok));
    const qint64 serviceMs = timer.elapsed();
    QVERIFY(ok);
    ask(Close, {}, &ok);
    m_service.stop();

    const Mounted data(env("MARLIN_DATA_UUID"));
    const Mounted backup(env("MARLIN_BACKUP_UUID"));
    QDir(backup + "/Recovered Files/bench").removeRecursively();
    QVERIFY(dropCaches());
    timer.start();
    QVERIFY(run("cp", {"-a", data + bench, backup + "/bench-cp"}));
    QVERIFY(run("sync", {}));
    const qint64 cpMs = timer.elapsed();
    QDir(backup + "/bench-cp").removeRecursively();
    QDir(data + bench).removeRecursively();
    const double bytes = copied.value("bytes").toDouble();
    std::printf("files=%d\nbytes=%.0f\nservice_copy_s=%.2f\ncp_a_sync_s=%.2f\nratio=%.2f\n",
                copied.value("files").toInt(), bytes, serviceMs / 1000.0, cpMs / 1000.0,
                double(serviceMs) / double(qMax<qint64>(cpMs, 1)));
    std::fflush(stdout);
}

QTEST_GUILESS_MAIN(TestBrowseE2E)
#include "tst_browse_e2e.moc"
