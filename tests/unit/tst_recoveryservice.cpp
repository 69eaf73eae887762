#include "FakeRecoveryService.h"
#include "FakeTools.h"
#include "dbus/CallerCheck.h"
#include "dbus/CallerVerdicts.h"
#include "dbus/OperateRequest.h"
#include "dbus/RecoveryService.h"
#include "tasks/Task.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// The service object in-process, without a bus: response texts and what it forwards of a task.
namespace {

QJsonObject payload(const QSignalSpy& spy, int index)
{
    return Utils::stringToJson(spy.at(index).constFirst().toString());
}

} // namespace

class TestRecoveryService : public QObject
{
    Q_OBJECT

private slots:
    void backupDirOnDevice_data();
    void backupDirOnDevice();
    void backupDirInsideDevice();
    void requestRecordsReadLeniently();
    void progressIsForwardedIncreasingAndBounded();
    void taskOutcomesCarryTheCurrentRequest();
    void requestsAreLoggedWithoutTheirValues();
    void callsFromOutsideTheBusAreRefused();
    void liveCallerNames_data();
    void liveCallerNames();
    void startTimeFromStat_data();
    void startTimeFromStat();
    void verdictsHoldForOneProcess();
    void administrators();
    void publishedOnlyWithTheObjectBehindTheName();
};

void TestRecoveryService::backupDirOnDevice_data()
{
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("backupDir");
    QTest::addColumn<QString>("path");
    QTest::newRow("found under the mount") << "/media/root/data"
                                           << "/media/root/data/backups/a"
                                           << "/media/root/data/backups/a";
    QTest::newRow("relative to the device") << "/media/root/data"
                                            << "/backups/a"
                                            << "/media/root/data/backups/a";
    QTest::newRow("only a name prefix") << "/media/root/data"
                                        << "/media/root/data2/b"
                                        << "/media/root/data/media/root/data2/b";
    QTest::newRow("not mounted") << ""
                                 << "/backups/a"
                                 << "/backups/a";
}

void TestRecoveryService::backupDirOnDevice()
{
    QFETCH(QString, mountPoint);
    QFETCH(QString, backupDir);
    QFETCH(QString, path);
    QCOMPARE(RecoveryService::backupDirOnDevice(mountPoint, backupDir), path);
}

void TestRecoveryService::backupDirInsideDevice()
{
    QTemporaryDir work;
    const QString mount = work.filePath("device");
    QVERIFY(QDir().mkpath(mount + "/backups/a") && QDir().mkpath(work.filePath("elsewhere")));
    QVERIFY(QFile::link(work.filePath("elsewhere"), mount + "/out"));
    const QString canonical = QFileInfo(mount).canonicalFilePath();
    QCOMPARE(RecoveryService::backupDirInsideDevice(mount, mount + "/backups/a"), canonical + "/backups/a");
    QCOMPARE(RecoveryService::backupDirInsideDevice(mount, "/backups/a"), canonical + "/backups/a");
    QCOMPARE(RecoveryService::backupDirInsideDevice(mount, mount + "/../elsewhere"), QString());
    QCOMPARE(RecoveryService::backupDirInsideDevice(mount, "/backups/../../elsewhere"), QString());
    QCOMPARE(RecoveryService::backupDirInsideDevice(mount, "/out"), QString());
    QCOMPARE(RecoveryService::backupDirInsideDevice(QString(), "/backups/a"), QString());
}

void TestRecoveryService::liveCallerNames_data()
{
    QTest::addColumn<QString>("comm");
    QTest::addColumn<QString>("exe");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the GUI") << "marlin-recovery"
                             << "marlin-recovery-live" << true;
    QTest::newRow("a test client") << "marlin-recovery"
                                   << "marlin-recovery-live-service-test" << true;
    QTest::newRow("exactly the cut name") << "marlin-recovery"
                                          << "marlin-recovery" << true;
    QTest::newRow("executable unknown") << "marlin-recovery"
                                        << "" << true;
    QTest::newRow("sibling with the same cut") << "marlin-recovery"
                                               << "marlin-recovery-gui" << false;
    QTest::newRow("prefix m") << "m"
                              << "m" << false;
    QTest::newRow("prefix marlin") << "marlin"
                                   << "marlin" << false;
    QTest::newRow("renamed command") << "marlin-recovery"
                                     << "bash" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void TestRecoveryService::liveCallerNames()
{
    QFETCH(QString, comm);
    QFETCH(QString, exe);
    QFETCH(bool, accepted);
    QCOMPARE(RecoveryService::isLiveCallerName(comm, exe), accepted);
}

void TestRecoveryService::startTimeFromStat_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<quint64>("startTime");
    const QByteArray rest = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654 19 20\n";
    QTest::newRow("plain") << "4242 (marlin-recovery)" + rest << quint64(987654);
    // A name chosen to shift the fields: only the last parenthesis ends it.
    QTest::newRow("name with ) and spaces")
        << "4242 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 1 )" + rest << quint64(987654);
    QTest::newRow("too short") << QByteArray("4242 (x) S 1 2 3") << quint64(0);
    QTest::newRow("no name") << QByteArray("4242 S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654") << quint64(0);
    QTest::newRow("not a number") << QByteArray("4242 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 later 19\n")
                                  << quint64(0);
    QTest::newRow("empty") << QByteArray() << quint64(0);
}

void TestRecoveryService::startTimeFromStat()
{
    QFETCH(QByteArray, stat);
    QFETCH(quint64, startTime);
    QCOMPARE(CallerCheck::startTimeFromStat(stat), startTime);
}

void TestRecoveryService::verdictsHoldForOneProcess()
{
    CallerVerdicts verdicts;
    const CallerProcess gui{100, 5000, 8, 77};
    QVERIFY(!verdicts.isAccepted(":1.5", gui));
    verdicts.accept(":1.5", gui);
    QVERIFY(verdicts.isAccepted(":1.5", gui));
    // Another connection of a process that got the same id in the same tick, running another program.
    QVERIFY(!verdicts.isAccepted(":1.6", gui));
    QVERIFY(!verdicts.isAccepted(":1.6", CallerProcess{100, 5000, 8, 99}));
    // The connection kept across execve() of another program, or handed to a process started later.
    QVERIFY(!verdicts.isAccepted(":1.5", CallerProcess{100, 5000, 8, 99}));
    QVERIFY(!verdicts.isAccepted(":1.5", CallerProcess{100, 5001, 8, 77}));
    QVERIFY(!verdicts.isAccepted(":1.5", CallerProcess{101, 5000, 8, 77}));
    // Unknown parts are never taken as the same process.
    verdicts.accept(":1.7", CallerProcess{200, 0, 8, 77});
    QVERIFY(!verdicts.isAccepted(":1.7", CallerProcess{200, 0, 8, 77}));
    // This process is read whole and stays the same.
    const CallerProcess own = CallerCheck::callerProcess(uint(getpid()));
    QVERIFY(own.isKnown());
    QVERIFY(CallerCheck::callerProcess(uint(getpid())) == own);
    QVERIFY(!CallerCheck::callerProcess(0).isKnown());
}

void TestRecoveryService::administrators()
{
    QVERIFY(CallerCheck::isAdministrator(0));
    const passwd* daemonAccount = getpwnam("daemon");
    QVERIFY(daemonAccount != nullptr);
    QVERIFY(!CallerCheck::isAdministrator(daemonAccount->pw_uid));
    // An id without an account.
    QVERIFY(!CallerCheck::isAdministrator(3999999));
}

void TestRecoveryService::requestRecordsReadLeniently()
{
    RestoreRequest restore;
    restore.read(Utils::stringToJson(
        R"({"operateID": "op-1", "opType": 5, "backupDir": "/b", "backupUUID": "u-1", "formatData": true})"));
    QCOMPARE(restore.operateID, QString("op-1"));
    QCOMPARE(restore.opType, 5);
    QCOMPARE(restore.backupDir, QString("/b"));
    QCOMPARE(restore.backupUUID, QString("u-1"));
    QVERIFY(restore.formatData);

    RestoreRequest defaults;
    defaults.read(Utils::stringToJson(R"({"opType": "1", "formatData": "yes", "backupDir": 7})"));
    QCOMPARE(defaults.opType, 0);
    QVERIFY(!defaults.formatData);
    QVERIFY(defaults.backupDir.isEmpty());
    // A missing operateID becomes a fresh one in braces.
    QVERIFY(defaults.operateID.startsWith('{') && defaults.operateID.endsWith('}'));
    RestoreRequest another;
    another.read(QJsonObject{{"opType", 1}});
    QVERIFY(another.operateID != defaults.operateID);

    TaskRequest task;
    task.read(Utils::stringToJson(R"({"opType": 4, "recoveryInfo": "{\"auto_reboot\": true}"})"));
    QCOMPARE(Utils::stringToJson(task.recoveryInfo).value("auto_reboot").toBool(), true);
}

void TestRecoveryService::progressIsForwardedIncreasingAndBounded()
{
    RecoveryService service;
    auto* task = new Task(&service);
    service.setTask(task);
    QSignalSpy progress(&service, &RecoveryService::ReportProgress);
    for (int value : {5, 5, 3, 7, 132, 198, 99, 100}) {
        Q_EMIT task->progressChanged(value);
    }
    QCOMPARE(progress.size(), 3);
    QCOMPARE(payload(progress, 0).value("progress").toInt(), 5);
    QCOMPARE(payload(progress, 1).value("progress").toInt(), 7);
    // Never past 99 while the task runs: the 100 comes with Success.
    QCOMPARE(payload(progress, 2).value("progress").toInt(), 99);
    QCOMPARE(payload(progress, 2).value("retCode").toInt(), 0);

    QSignalSpy success(&service, &RecoveryService::Success);
    Q_EMIT task->finished();
    QCOMPARE(success.size(), 1);
    // A new run of the task starts from nothing again.
    Q_EMIT task->progressChanged(3);
    QCOMPARE(progress.size(), 4);
}

void TestRecoveryService::taskOutcomesCarryTheCurrentRequest()
{
    FakeTools tools({"sudo", "tar"});
    tools.setBehaviour("sudo", "--exec");
    RecoveryService service;
    auto* task = new Task(&service);
    task->addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    task->addJob("/mnt/data/var", "/backup/var.tar", ArchiveCreateJob);
    task->addJob("/mnt/data/home", "/backup/home.tar", ArchiveCreateJob);
    service.setTask(task);
    QSignalSpy progress(&service, &RecoveryService::ReportProgress);
    QSignalSpy success(&service, &RecoveryService::Success);
    QSignalSpy error(&service, &RecoveryService::Error);
    connect(task, &Task::taskFinished, task, &Task::finished);
    task->start();
    QVERIFY(success.wait(20000));
    QVERIFY(error.isEmpty());
    // The task says 66, 132 and 99; the bus hears 66 and 99.
    QCOMPARE(progress.size(), 2);
    QCOMPARE(payload(progress, 0).value("progress").toInt(), 66);
    QCOMPARE(payload(progress, 1).value("progress").toInt(), 99);
    const QJsonObject done = payload(success, 0);
    QCOMPARE(done.keys(),
             (QStringList{"autoReboot", "data", "errMsg", "opType", "operateID", "progress", "retCode", "userName"}));
    QCOMPARE(done.value("progress").toInt(), 100);
    QCOMPARE(done.value("retCode").toInt(), 0);
    QCOMPARE(done.value("autoReboot").toBool(), false);
    QVERIFY(success.at(0).constFirst().toString().contains("\n    \"opType\": 0"));

    Q_EMIT task->failed("disk full");
    QCOMPARE(error.size(), 1);
    QCOMPARE(payload(error, 0).value("retCode").toInt(), -1);
    QCOMPARE(payload(error, 0).value("progress").toInt(), 100);
    QCOMPARE(payload(error, 0).value("errMsg").toString(), QString("disk full"));
}

void TestRecoveryService::requestsAreLoggedWithoutTheirValues()
{
    const QString summary = RecoveryService::requestSummary(
        R"({"opType": 2, "operateID": "r-1", "backupDir": "/media/alice/Tax returns 2026", "formatData": false})");
    QCOMPARE(summary, QString("opType=2 operateID=r-1 backupDir=(29 bytes) formatData=false"));
    QCOMPARE(RecoveryService::requestSummary("secret words"), QString("(12 bytes, not a JSON object)"));
}

void TestRecoveryService::callsFromOutsideTheBusAreRefused()
{
    RecoveryService service;
    QSignalSpy error(&service, &RecoveryService::Error);
    QCOMPARE(service.SystemRestore(R"({"opType": 1})"), -100);
    QCOMPARE(service.ManualBackup(R"({"opType": 3})"), -100);
    QCOMPARE(service.InitLiveRestorePage(R"({"opType": 8})"), -100);
    QCOMPARE(service.FixPartitionByFsck(R"({"devicePath": "/dev/sda1"})"), false);
    // The repair tool runs as root: refused like the rest, with nothing said on the bus.
    QCOMPARE(service.ShowSystemRepairTool(R"({"opType": 9, "operateID": "x"})"), -100);
    QVERIFY(error.isEmpty());
    QCOMPARE(service.GetLiveType(), Utils::getLiveType("/etc/fstab"));
}

void TestRecoveryService::publishedOnlyWithTheObjectBehindTheName()
{
    PrivateBus bus;
    QVERIFY(bus.start());
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "publish-test");
    QVERIFY(connection.isConnected());
    // Something else already holds the object path: the service must not own a name that answers nothing.
    QObject squatter;
    QVERIFY(connection.registerObject("/com/marlin/recovery", &squatter));
    RecoveryService service;
    QVERIFY(!service.publish(connection, "com.marlin.recovery"));
    QVERIFY(!connection.interface()->isServiceRegistered("com.marlin.recovery").value());
    connection.unregisterObject("/com/marlin/recovery");
    QVERIFY(service.publish(connection, "com.marlin.recovery"));
    QVERIFY(connection.interface()->isServiceRegistered("com.marlin.recovery").value());
    QDBusConnection::disconnectFromBus("publish-test");
}

QTEST_GUILESS_MAIN(TestRecoveryService)
#include "tst_recoveryservice.moc"
