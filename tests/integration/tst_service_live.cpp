#include "LiveService.h"
#include "utils.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

// The real service on the live environment's private system bus, called through the generated proxy by this
// program, whose name begins with marlin-recovery-live as the service demands of its callers.
namespace {

using namespace LiveTest;

QJsonObject payload(const QSignalSpy& spy, int index)
{
    return Utils::stringToJson(spy.at(index).constFirst().toString());
}

QString request(int opType, const QString& operateID, const QJsonObject& extra = QJsonObject())
{
    return LiveService::request(opType, operateID, extra);
}

// A copy of dbus-send under another name, which every account may run.
class Client
{
public:
    explicit Client(const QString& processName) : m_program(m_dir.filePath(processName))
    {
        QFile::copy("/usr/bin/dbus-send", m_program);
        QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeOther | QFile::ExeGroup);
    }

    // Starts a call of a method as the given account ("" for this one's).
    void start(QProcess& process, const QString& method, const QString& arg, const QString& user = QString()) const
    {
        QStringList args{"--system",
                         "--print-reply=literal",
                         "--dest=com.marlin.recovery",
                         "/com/marlin/recovery",
                         "com.marlin.daemon.recovery." + method,
                         "string:" + arg};
        if (user.isEmpty()) {
            process.start(m_program, args);
            return;
        }
        process.start("setpriv", QStringList{"--reuid=" + user, "--regid=" + user, "--init-groups", m_program} + args);
    }

    // Calls a method and returns the reply line.
    QString call(const QString& method, const QString& arg, const QString& user = QString()) const
    {
        QProcess process;
        start(process, method, arg, user);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput()).simplified();
    }

private:
    QTemporaryDir m_dir;
    QString m_program;
};

// Calls a method through dbus-send from a copy of it with the given process name; returns its reply line.
QString callAs(const QString& processName, const QString& method, const QString& arg)
{
    return Client(processName).call(method, arg);
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The previous worker is released just after its outcome was sent, so a request made at once may still find it:
// repeat the call (each try is a new request) until it is taken or the time is up.
template <typename Call>
auto untilAccepted(Call call, decltype(call()) accepted)
{
    QDeadlineTimer deadline(10000);
    auto answer = call();
    while (answer != accepted && !deadline.hasExpired()) {
        QTest::qWait(20);
        answer = call();
    }
    return answer;
}

} // namespace

class TestServiceLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void liveTypeOfTheRecoveryEnvironment();
    void liveTypeForEachCommandLine_data();
    void liveTypeForEachCommandLine();
    void installedSystemRefusesEveryCaller_data();
    void installedSystemRefusesEveryCaller();
    void badRequestsAreRefused_data();
    void badRequestsAreRefused();
    void hugeRequestIsRefused();
    void callersAreCheckedByProcessName_data();
    void callersAreCheckedByProcessName();
    void callersOutsideTheAdministratorsAreRefused();
    void verdictDoesNotOutliveTheProcess();
    void opTypeMismatch();
    void repairToolOnlyForTheLiveWindow();
    void busyWorkerRefusesAndResetsTheCurrentRequest();
    void repairToolFailure();
    void repairOfADamagedPartition();
    void requestsThatStartNothing();

private:
    LiveService m_service;
    ComMarlinDaemonRecoveryInterface* m_proxy = nullptr;
};

void TestServiceLive::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
    QVERIFY(m_service.start());
    m_proxy = m_service.proxy();
}

void TestServiceLive::init()
{
    // The stand-in repair tool's switches, left behind by an earlier failed run or test.
    for (const char* name : {"/repair-tool.hold", "/repair-tool.stderr", "/repair-tool.exit"}) {
        QFile::remove(env("MARLIN_STATE_DIR") + name);
    }
}

void TestServiceLive::cleanup()
{
    m_service.showOutputOnFailure();
}

void TestServiceLive::cleanupTestCase()
{
    m_service.stop();
    QVERIFY(QFile::exists("/home/marlin/marlin-recovery-service.log"));
}

void TestServiceLive::liveTypeOfTheRecoveryEnvironment()
{
    QCOMPARE(m_proxy->GetLiveType().value(), 1);
}

void TestServiceLive::liveTypeForEachCommandLine_data()
{
    QTest::addColumn<QString>("cmdLine");
    QTest::addColumn<int>("liveType");
    QTest::newRow("installed system") << "BOOT_IMAGE=/vmlinuz root=UUID=marlin-test-root ro quiet" << 0;
    QTest::newRow("root elsewhere") << "BOOT_IMAGE=/vmlinuz root=UUID=marlin-test-data ro quiet" << 1;
    QTest::newRow("overlay live") << "BOOT_IMAGE=/live/vmlinuz boot=live union=overlay quiet" << 2;
    QTest::newRow("recovery media") << "BOOT_IMAGE=/marlin/vmlinuz boot=live live-media-path=recovery_live" << 3;
    QTest::newRow("unknown live") << "BOOT_IMAGE=/live/vmlinuz boot=live quiet" << -1;
    QTest::newRow("nothing known") << "quiet splash" << -1;
}

void TestServiceLive::liveTypeForEachCommandLine()
{
    QFETCH(QString, cmdLine);
    QFETCH(int, liveType);
    // The service shares this test's mount namespace: lay other files over /proc/cmdline and /etc/fstab for a while.
    QTemporaryDir dir;
    QFile cmdLineFile(dir.filePath("cmdline"));
    QVERIFY(cmdLineFile.open(QIODevice::WriteOnly));
    cmdLineFile.write(cmdLine.toUtf8() + "\n");
    cmdLineFile.close();
    QFile fstab(dir.filePath("fstab"));
    QVERIFY(fstab.open(QIODevice::WriteOnly));
    fstab.write("UUID=marlin-test-root / ext4 defaults 0 1\nUUID=marlin-test-data /data ext4 defaults 0 2\n");
    fstab.close();
    QVERIFY(run("mount", {"--bind", cmdLineFile.fileName(), "/proc/cmdline"}));
    QVERIFY(run("mount", {"--bind", fstab.fileName(), "/etc/fstab"}));
    const int answer = m_proxy->GetLiveType().value();
    QVERIFY(run("umount", {"/etc/fstab"}));
    QVERIFY(run("umount", {"/proc/cmdline"}));
    QCOMPARE(answer, liveType);
    QCOMPARE(m_proxy->GetLiveType().value(), 1);
}

void TestServiceLive::installedSystemRefusesEveryCaller_data()
{
    QTest::addColumn<QString>("rootEntry");
    QTest::newRow("by UUID=") << "UUID=" + env("MARLIN_ROOT_UUID");
    QTest::newRow("by a by-uuid link") << "/dev/disk/by-uuid/" + env("MARLIN_ROOT_UUID");
    QTest::newRow("by LABEL=") << "LABEL=" + env("MARLIN_ROOT_LABEL");
    QTest::newRow("by PARTUUID=") << "PARTUUID=" + env("MARLIN_ROOT_PARTUUID");
}

void TestServiceLive::installedSystemRefusesEveryCaller()
{
    QFETCH(QString, rootEntry);
    // The service decides what it is when it starts: start it again on what looks like an installed system.
    QTemporaryDir dir;
    QVERIFY(writeText(dir.filePath("cmdline"),
                      "BOOT_IMAGE=/vmlinuz root=UUID=" + env("MARLIN_ROOT_UUID").toUtf8() + " ro quiet\n"));
    QVERIFY(writeText(dir.filePath("fstab"), rootEntry.toUtf8() + " / ext4 defaults 0 1\n"));
    QVERIFY(run("mount", {"--bind", dir.filePath("cmdline"), "/proc/cmdline"}));
    QVERIFY(run("mount", {"--bind", dir.filePath("fstab"), "/etc/fstab"}));
    m_service.stop();
    const bool started = m_service.start();
    int liveType = -2;
    QStringList answers;
    if (started) {
        liveType = m_service.proxy()->GetLiveType().value();
        for (const QString& method :
             {QString("SystemRestore"), QString("ManualRestore"), QString("RestoreByTask"), QString("SystemBackup"),
              QString("ManualBackup"), QString("InitLiveRestorePage"), QString("AsyncGetPartitionCheckItemLists")}) {
            answers.append(method + " " + callAs("marlin-recovery-live", method, request(1, "installed")));
        }
        answers.append("FixPartitionByFsck " +
                       callAs("marlin-recovery-live", "FixPartitionByFsck",
                              request(6, "installed", {{"devicePath", env("MARLIN_SPARE_DEV")}})));
    }
    QVERIFY(run("umount", {"/etc/fstab"}));
    QVERIFY(run("umount", {"/proc/cmdline"}));
    m_service.stop();
    QVERIFY(m_service.start());
    m_proxy = m_service.proxy();
    QVERIFY(started);
    QCOMPARE(liveType, 0);
    for (const QString& answer : std::as_const(answers)) {
        QVERIFY2(answer.endsWith(" int32 -100") || answer.endsWith(" boolean false"), qPrintable(answer));
    }
    // The live environment again: the same caller gets past the check.
    QCOMPARE(callAs("marlin-recovery-live", "SystemRestore", "{}"), QString("int32 -1"));
}

void TestServiceLive::badRequestsAreRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("not json") << "opType=7";
    QTest::newRow("array") << "[{\"opType\": 7}]";
    QTest::newRow("empty object") << "{}";
    QTest::newRow("truncated") << "{\"opType\": 7, \"operateID\": ";
    QTest::newRow("string") << "\"{}\"";
}

void TestServiceLive::badRequestsAreRefused()
{
    QFETCH(QString, text);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(m_proxy->AsyncGetPartitionCheckItemLists(text).value(), -1);
    QCOMPARE(m_proxy->FixPartitionByFsck(text).value(), false);
    QCOMPARE(m_proxy->InitLiveRestorePage(text).value(), -1);
    QCOMPARE(m_proxy->SystemBackup(text).value(), -1);
    QCOMPARE(m_proxy->ManualBackup(text).value(), -1);
    QCOMPARE(m_proxy->ManualRestore(text).value(), -1);
    QCOMPARE(m_proxy->SystemRestore(text).value(), -1);
    QCOMPARE(m_proxy->RestoreByTask(text).value(), -1);
    QCOMPARE(m_proxy->ShowSystemRepairTool(text).value(), -1);
    QTest::qWait(200);
    QVERIFY(error.isEmpty());
}

void TestServiceLive::hugeRequestIsRefused()
{
    const QString huge = "{\"opType\": 7, \"operateID\": \"" + QString(8 * 1024 * 1024, 'x');
    QCOMPARE(m_proxy->AsyncGetPartitionCheckItemLists(huge).value(), -1);
    QCOMPARE(m_proxy->GetLiveType().value(), 1);
}

void TestServiceLive::callersAreCheckedByProcessName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reply");
    // "{}" gets past the caller check only to be refused as empty: -1; a refused caller gets -100.
    QTest::newRow("the live GUI, as the kernel cuts it") << "marlin-recovery-live"
                                                         << "int32 -1";
    QTest::newRow("longer name, same first 15") << "marlin-recovery-live-x"
                                                << "int32 -1";
    QTest::newRow("another program") << "dbus-send"
                                     << "int32 -100";
    QTest::newRow("prefix m") << "m"
                              << "int32 -100";
    QTest::newRow("prefix marlin") << "marlin"
                                   << "int32 -100";
    QTest::newRow("sibling") << "marlin-recovery-gui"
                             << "int32 -100";
}

void TestServiceLive::callersAreCheckedByProcessName()
{
    QFETCH(QString, name);
    QFETCH(QString, reply);
    QCOMPARE(callAs(name, "SystemRestore", "{}"), reply);
    // The repair tool runs as root: the same callers.
    QCOMPARE(callAs(name, "ShowSystemRepairTool", "{}"), reply);
}

void TestServiceLive::callersOutsideTheAdministratorsAreRefused()
{
    // This bus lets everybody call: the service alone must refuse an account that could not become root, whatever
    // name its program has. "daemon" is in no administrators' group here.
    const Client gui("marlin-recovery-live");
    QCOMPARE(gui.call("SystemRestore", "{}", "daemon"), QString("int32 -100"));
    QCOMPARE(gui.call("AsyncGetPartitionCheckItemLists", request(7, "not-admin"), "daemon"), QString("int32 -100"));
    QCOMPARE(gui.call("SystemRestore", "{}"), QString("int32 -1"));
}

void TestServiceLive::verdictDoesNotOutliveTheProcess()
{
    const Client gui("marlin-recovery-live");
    const Client other("dbus-send");
    // The kernel hands out the id after ns_last_pid next; some other process of the machine may take it first, so
    // a try whose second process got another id proves nothing and is repeated.
    for (int attempt = 0; attempt < 50; ++attempt) {
        QProcess first;
        gui.start(first, "SystemRestore", "{}");
        QVERIFY(first.waitForStarted());
        const qint64 pid = first.processId();
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(first.readAllStandardOutput()).simplified(), QString("int32 -1"));
        QVERIFY(writeText("/proc/sys/kernel/ns_last_pid", QByteArray::number(pid - 1)));
        QProcess second;
        other.start(second, "SystemRestore", "{}");
        QVERIFY(second.waitForStarted());
        const bool samePid = second.processId() == pid;
        QVERIFY(second.waitForFinished(30000));
        if (samePid) {
            QCOMPARE(QString::fromUtf8(second.readAllStandardOutput()).simplified(), QString("int32 -100"));
            return;
        }
    }
    QFAIL("no second process got the first one's id");
}

void TestServiceLive::opTypeMismatch()
{
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(m_proxy->AsyncGetPartitionCheckItemLists(request(3, "mismatch-1")).value(), -1);
    QVERIFY(error.wait(10000));
    QCOMPARE(payload(error, 0).value("errMsg").toString(), QString("opType not match"));
    QCOMPARE(payload(error, 0).value("operateID").toString(), QString("mismatch-1"));
    QCOMPARE(payload(error, 0).value("opType").toInt(), 3);
    QCOMPARE(payload(error, 0).value("retCode").toInt(), -1);
    QCOMPARE(payload(error, 0).value("progress").toInt(), 100);
    QCOMPARE(m_proxy->ShowSystemRepairTool(request(8, "mismatch-2")).value(), -1);
    QVERIFY(error.wait(10000));
    QCOMPARE(payload(error, 1).value("operateID").toString(), QString("mismatch-2"));
}

void TestServiceLive::repairToolOnlyForTheLiveWindow()
{
    const QString log = env("MARLIN_STATE_DIR") + "/repair-tool.log";
    QFile::remove(log);
    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(callAs("dbus-send", "ShowSystemRepairTool", request(9, "repair-tool-0")), QString("int32 -100"));
    QVERIFY(!QFile::exists(log));
    QCOMPARE(callAs("marlin-recovery-live", "ShowSystemRepairTool", request(9, "repair-tool-1")), QString("int32 0"));
    QVERIFY(success.wait(20000));
    QVERIFY(error.isEmpty());
    QCOMPARE(payload(success, 0).value("operateID").toString(), QString("repair-tool-1"));
    QCOMPARE(payload(success, 0).value("opType").toInt(), 9);
    QCOMPARE(payload(success, 0).value("retCode").toInt(), 0);
    QVERIFY(QFile::exists(log));
}

void TestServiceLive::busyWorkerRefusesAndResetsTheCurrentRequest()
{
    // The stand-in repair tool waits while this file exists.
    const QString hold = env("MARLIN_STATE_DIR") + "/repair-tool.hold";
    QFile(hold).open(QIODevice::WriteOnly);
    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    // The worker of the test before may still be ending: the refusals until it has gone come before this reply on
    // the bus, so once they are delivered the spies start afresh.
    QCOMPARE(untilAccepted([this]() { return m_proxy->ShowSystemRepairTool(request(9, "first")).value(); }, 0), 0);
    QCoreApplication::processEvents();
    success.clear();
    error.clear();
    // A repair is not promised while another worker runs: nothing would ever repair the partition. The refusal
    // reaches the GUI with the repair's ids, and the running worker keeps its own.
    QCOMPARE(m_proxy->FixPartitionByFsck(request(6, "repair", {{"devicePath", env("MARLIN_SPARE_DEV")}})).value(),
             false);
    QVERIFY(error.wait(10000));
    QCOMPARE(payload(error, 0).value("errMsg").toString(), QString("another task is running"));
    QCOMPARE(payload(error, 0).value("operateID").toString(), QString("repair"));
    QCOMPARE(payload(error, 0).value("opType").toInt(), 6);
    QFile::remove(hold);
    QVERIFY(success.wait(30000));
    QCOMPARE(payload(success, 0).value("operateID").toString(), QString("first"));
    QCOMPARE(payload(success, 0).value("opType").toInt(), 9);

    QFile(hold).open(QIODevice::WriteOnly);
    QCOMPARE(untilAccepted([this]() { return m_proxy->ShowSystemRepairTool(request(9, "held")).value(); }, 0), 0);
    QCoreApplication::processEvents();
    success.clear();
    error.clear();
    QCOMPARE(m_proxy->InitLiveRestorePage(request(8, "second")).value(), -1);
    QVERIFY(error.wait(10000));
    QCOMPARE(payload(error, 0).value("errMsg").toString(), QString("another task is running"));
    QCOMPARE(payload(error, 0).value("operateID").toString(), QString("second"));
    QCOMPARE(m_proxy->AsyncGetPartitionCheckItemLists(request(7, "third")).value(), -1);
    QVERIFY(error.wait(10000));
    QCOMPARE(payload(error, 1).value("operateID").toString(), QString("third"));
    QFile::remove(hold);
    QVERIFY(success.wait(30000));
    // The refusal of an information request reset the current request, so the worker's outcome carries none.
    QCOMPARE(payload(success, 0).value("operateID").toString(), QString());
    QCOMPARE(payload(success, 0).value("opType").toInt(), 0);
    // The worker is gone once its thread has ended: the next request is taken.
    QCOMPARE(untilAccepted([this]() { return m_proxy->ShowSystemRepairTool(request(9, "fourth")).value(); }, 0), 0);
    QVERIFY(success.wait(20000));
}

void TestServiceLive::repairToolFailure()
{
    const QString stderrFile = env("MARLIN_STATE_DIR") + "/repair-tool.stderr";
    const QString exitFile = env("MARLIN_STATE_DIR") + "/repair-tool.exit";
    QFile text(stderrFile);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("polkit: authentication dismissed");
    text.close();
    QFile code(exitFile);
    QVERIFY(code.open(QIODevice::WriteOnly));
    code.write("126");
    code.close();
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(untilAccepted([this]() { return m_proxy->ShowSystemRepairTool(request(9, "failing")).value(); }, 0), 0);
    // Refusals of the tries before were errors too: wait for the tool's own.
    const auto toolError = [&error]() {
        for (int i = 0; i < error.size(); ++i) {
            if (payload(error, i).value("errMsg").toString().contains("polkit: authentication dismissed")) {
                return i;
            }
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(toolError() >= 0, 20000);
    QFile::remove(stderrFile);
    QFile::remove(exitFile);
    QCOMPARE(payload(error, toolError()).value("operateID").toString(), QString("failing"));
}

void TestServiceLive::repairOfADamagedPartition()
{
    const QString spare = env("MARLIN_SPARE_DEV");
    QVERIFY(run("debugfs", {"-w", "-R", "mkdir /service-victim", spare}));
    QVERIFY(run("debugfs", {"-w", "-R", "clri /service-victim", spare}));
    // As the kernel does when it meets the damage: the file system is marked as having errors.
    QVERIFY(run("debugfs", {"-w", "-R", "ssv state 2", spare}));
    QVERIFY(Utils::checkPartitionErrorByFsck(spare));

    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QCOMPARE(m_proxy->FixPartitionByFsck(request(6, "repair-1", {{"devicePath", ""}})).value(), false);
    const auto repair = [this](const QString& id, const QString& path) {
        return m_proxy->FixPartitionByFsck(request(6, id, {{"devicePath", path}})).value();
    };
    QCOMPARE(untilAccepted([&]() { return repair("repair-2", spare); }, true), true);
    QVERIFY(success.wait(60000));
    QVERIFY(error.isEmpty());
    QCOMPARE(payload(success, 0).value("operateID").toString(), QString("repair-2"));
    QCOMPARE(payload(success, 0).value("opType").toInt(), 6);
    QVERIFY(!Utils::checkPartitionErrorByFsck(spare));

    // A path that is no block device is never handed to fsck, let alone a shell.
    const QString marker = env("MARLIN_STATE_DIR") + "/pwned";
    QCOMPARE(untilAccepted([&]() { return repair("repair-3", spare + "; touch " + marker); }, true), true);
    QVERIFY(error.wait(30000));
    QCOMPARE(payload(error, 0).value("operateID").toString(), QString("repair-3"));
    QVERIFY(!QFile::exists(marker));
}

void TestServiceLive::requestsThatStartNothing()
{
    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QSignalSpy progress(m_proxy, &ComMarlinDaemonRecoveryInterface::ReportProgress);
    QCOMPARE(m_proxy->SystemRestore(request(2, "restore-wrong-type")).value(), 0);
    QCOMPARE(m_proxy->ManualRestore(request(1, "manual-wrong-type")).value(), 0);
    QCOMPARE(m_proxy->ManualBackup(request(4, "backup-wrong-type")).value(), 0);
    QCOMPARE(m_proxy->SystemBackup(request(3, "backup-wrong-type")).value(), 0);
    // Only restores are ordered through a task list.
    for (const int opType : {0, 3, 4, 6, 7}) {
        QCOMPARE(m_proxy->RestoreByTask(request(opType, "task-wrong-type")).value(), -1);
    }
    QTest::qWait(500);
    QVERIFY(success.isEmpty());
    QVERIFY(error.isEmpty());
    QVERIFY(progress.isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceLive)
#include "tst_service_live.moc"
