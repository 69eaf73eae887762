#include "FakeTools.h"
#include "core/ToolPath.h"
#include "core/ToolTimeout.h"
#include "core/command.h"

#include <QElapsedTimer>
#include <QtTest>

#include <unistd.h>

namespace {

QStringList g_messages;

void captureMessages(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_messages.append(message);
}

// Found through the search list, which holds a copy of fake-tool for the whole run.
const QString FakeTool = QStringLiteral("fake-tool");

const QString SecurePath = QStringLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");

// A stand-in named marlin-probe in dir, with these permissions.
QString makeProbe(const QTemporaryDir& dir, QFile::Permissions permissions)
{
    const QString probe = dir.filePath("marlin-probe");
    QFile::copy(QStringLiteral(MARLIN_TEST_TOOLS_DIR "/fake-tool"), probe);
    QFile::setPermissions(probe, permissions);
    return probe;
}

} // namespace

class TestSpawnCmd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void outcomeIsTheSameInEveryForm_data();
    void outcomeIsTheSameInEveryForm();
    void channelsAreSeparatedAndAppended();
    void twoArgumentFormKeepsNothing();
    void retryBelowOneRunsNothing_data();
    void retryBelowOneRunsNothing();
    void retryAccumulatesEveryAttempt();
    void retryStopsAtFirstSuccess();
    void onlyTrustedToolsOfTheSearchListRun_data();
    void onlyTrustedToolsOfTheSearchListRun();
    void commandsOfSudoAndEnvAreResolved();
    void childGetsTheSearchListAsPath();
    void childPastItsBoundIsStopped();
    void boundFollowsTheTool_data();
    void boundFollowsTheTool();

private:
    FakeTools m_tools{{"fake-tool"}};
    QStringList m_searchPath;
    QByteArray m_path;
};

void TestSpawnCmd::init()
{
    m_searchPath = ToolPath::searchPath();
    m_path = qgetenv("PATH");
}

void TestSpawnCmd::cleanup()
{
    ToolPath::setSearchPath(m_searchPath);
    qputenv("PATH", m_path);
}

void TestSpawnCmd::outcomeIsTheSameInEveryForm_data()
{
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("expected");
    QTest::newRow("exit 0") << FakeTool << QStringList{"--out", "hello"} << true;
    QTest::newRow("exit 1") << FakeTool << QStringList{"--out", "hello", "--exit", "1"} << false;
    QTest::newRow("exit 4") << FakeTool << QStringList{"--exit", "4"} << false;
    QTest::newRow("only stderr, exit 0") << FakeTool << QStringList{"--err", "warning"} << true;
    QTest::newRow("killed after printing") << FakeTool << QStringList{"--out", "all done", "--signal", "KILL"} << false;
    QTest::newRow("cannot be started") << "/nonexistent/marlin-no-such-tool" << QStringList{} << false;
    QTest::newRow("not executable") << QStringLiteral(MARLIN_TEST_TOOLS_DIR "/../CMakeLists.txt") << QStringList{}
                                    << false;
}

void TestSpawnCmd::outcomeIsTheSameInEveryForm()
{
    QFETCH(QString, cmd);
    QFETCH(QStringList, args);
    QFETCH(bool, expected);
    QString out3;
    QString out4;
    QString err4;
    QString out5;
    QString err5;
    QCOMPARE(SpawnCmd(cmd, args), expected);
    QCOMPARE(SpawnCmd(cmd, args, out3), expected);
    QCOMPARE(SpawnCmd(cmd, args, out4, err4), expected);
    if (expected) {
        QCOMPARE(SpawnCmd(cmd, args, out5, err5, 1), expected);
    }
}

void TestSpawnCmd::channelsAreSeparatedAndAppended()
{
    QString output = "before-out|";
    QString err = "before-err|";
    QVERIFY(SpawnCmd(FakeTool, {"--out", "to stdout", "--err", "to stderr"}, output, err));
    QCOMPARE(output, QString("before-out|to stdout\n"));
    QCOMPARE(err, QString("before-err|to stderr\n"));

    QString only = "kept:";
    QVERIFY(SpawnCmd(FakeTool, {"--out", "ünïcode", "--err", "dropped"}, only));
    QCOMPARE(only, QString("kept:ünïcode\n"));
}

void TestSpawnCmd::twoArgumentFormKeepsNothing()
{
    // Large output must neither block the child nor change the outcome.
    QVERIFY(SpawnCmd(FakeTool, {"--bytes", "8000000"}));
    QVERIFY(SpawnCmd(FakeTool, {}));
    QVERIFY(!SpawnCmd(FakeTool, {"--bytes", "8000000", "--exit", "2"}));
}

void TestSpawnCmd::retryBelowOneRunsNothing_data()
{
    QTest::addColumn<int>("tryCount");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -3;
}

void TestSpawnCmd::retryBelowOneRunsNothing()
{
    QFETCH(int, tryCount);
    FakeTools tools({"marlin-probe"});
    QString output;
    QString err;
    QVERIFY(!SpawnCmd("marlin-probe", {}, output, err, tryCount));
    QVERIFY(tools.calls().isEmpty());
    QVERIFY(output.isEmpty());
}

void TestSpawnCmd::retryAccumulatesEveryAttempt()
{
    FakeTools tools({"marlin-probe"});
    tools.setBehaviour("marlin-probe", "--out attempt --err failure --exit 1");
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    QElapsedTimer timer;
    timer.start();
    QString output;
    QString err;
    const bool ok = SpawnCmd("marlin-probe", {"x"}, output, err, 3);
    const qint64 elapsed = timer.elapsed();
    qInstallMessageHandler(previous);

    QVERIFY(!ok);
    QCOMPARE(tools.calls().size(), 3);
    QVERIFY2(elapsed >= 2900, qPrintable(QString::number(elapsed)));
    QCOMPARE(output, QString("attempt\nattempt\nattempt\n"));
    QCOMPARE(err, QString("failure\nfailure\nfailure\n"));
    QCOMPARE(g_messages.count("try again!!!!!"), 3);
    // The logged error grows with every attempt.
    QVERIFY(g_messages.contains("failure\n"));
    QVERIFY(g_messages.contains("failure\nfailure\nfailure\n"));
}

void TestSpawnCmd::retryStopsAtFirstSuccess()
{
    FakeTools tools({"marlin-probe"});
    tools.setBehaviour("marlin-probe", "--out fine");
    QElapsedTimer timer;
    timer.start();
    QString output;
    QString err;
    QVERIFY(SpawnCmd("marlin-probe", {}, output, err, 5));
    QVERIFY(timer.elapsed() < 900);
    QCOMPARE(tools.calls().size(), 1);
    QCOMPARE(output, QString("fine\n"));
}

void TestSpawnCmd::onlyTrustedToolsOfTheSearchListRun_data()
{
    const QFile::Permissions rx =
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QTest::addColumn<int>("permissions");
    QTest::addColumn<bool>("onSearchList");
    QTest::addColumn<bool>("ownedByRoot");
    QTest::addColumn<bool>("runs");
    QTest::newRow("trusted") << int(rx | QFile::WriteOwner) << true << true << true;
    QTest::newRow("only on the environment's PATH") << int(rx | QFile::WriteOwner) << false << true << false;
    QTest::newRow("writable by others") << int(rx | QFile::WriteOwner | QFile::WriteOther) << true << true << false;
    QTest::newRow("writable by the group") << int(rx | QFile::WriteOwner | QFile::WriteGroup) << true << true << false;
    QTest::newRow("not executable") << int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther) << true << true
                                    << false;
    QTest::newRow("not owned by root") << int(rx | QFile::WriteOwner) << true << false << false;
}

void TestSpawnCmd::onlyTrustedToolsOfTheSearchListRun()
{
    QFETCH(int, permissions);
    QFETCH(bool, onSearchList);
    QFETCH(bool, ownedByRoot);
    QFETCH(bool, runs);
    if (!ownedByRoot && ::geteuid() != 0) {
        QSKIP("only a process running as root refuses tools of other owners");
    }
    QTemporaryDir dir;
    const QString probe = makeProbe(dir, QFile::Permissions(permissions));
    QVERIFY(ownedByRoot || ::chown(QFile::encodeName(probe).constData(), 65534, 65534) == 0);
    if (onSearchList) {
        ToolPath::setSearchPath({dir.path(), "/usr/bin", "/bin"});
    } else {
        ToolPath::setSearchPath({});
        qputenv("PATH", QFile::encodeName(dir.path()) + ":" + m_path);
    }

    QCOMPARE(ToolPath::resolve("marlin-probe"), runs ? probe : QString());
    QCOMPARE(ToolPath::resolve(probe).isEmpty(), onSearchList && !runs);
    QCOMPARE(SpawnCmd("marlin-probe", {"x"}), runs);
    QCOMPARE(QFile::exists(dir.filePath("calls.log")), runs);
}

void TestSpawnCmd::commandsOfSudoAndEnvAreResolved()
{
    FakeTools tools({"sudo", "env", "tar"});
    QString program = "sudo";
    QStringList args{"-u", "root", "env", "LC_ALL=C", "tar", "-cf", "-", "env"};
    int commandIndex = -2;
    QVERIFY(ToolPath::resolveCommand(program, args, &commandIndex));
    const QString dir = tools.dir() + "/";
    QCOMPARE(program, dir + "sudo");
    QCOMPARE(args, (QStringList{"-u", "root", dir + "env", "LC_ALL=C", dir + "tar", "-cf", "-", "env"}));
    QCOMPARE(commandIndex, 4);

    // The command sudo runs must be there and trusted, like the program itself.
    QString sudo = "sudo";
    QStringList missing{"--", "marlin-no-such-tool"};
    QVERIFY(!ToolPath::resolveCommand(sudo, missing));
    QVERIFY(!SpawnCmd("sudo", {"marlin-no-such-tool"}));
    QVERIFY(tools.calls().isEmpty());
}

void TestSpawnCmd::childGetsTheSearchListAsPath()
{
    ToolPath::setSearchPath({});
    qputenv("PATH", "/tmp/marlin-elsewhere:" + m_path);
    QString output;
    QVERIFY(SpawnCmd("sh", {"-c", "printf %s \"$PATH\""}, output));
    QCOMPARE(output, SecurePath);

    QString err;
    QString fromCleared;
    QCOMPARE(SpawnCmdExitCode("sh", {"-c", "printf %s \"$PATH\""}, QProcessEnvironment(), fromCleared, err), 0);
    QCOMPARE(fromCleared, SecurePath);
}

void TestSpawnCmd::childPastItsBoundIsStopped()
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    QElapsedTimer timer;
    timer.start();
    QString output;
    QString err;
    // A shell that waits on its own child: the whole group goes.
    const bool ok = SpawnCmd("sh", {"-c", "sleep 1000; echo late"}, output, err, std::chrono::seconds(1));
    const qint64 elapsed = timer.elapsed();
    qInstallMessageHandler(previous);

    QVERIFY(!ok);
    QVERIFY2(elapsed < 1000 * (1 + ToolTimeout::Grace.count()), qPrintable(QString::number(elapsed)));
    QVERIFY(output.isEmpty());
    QVERIFY2(err.contains("timed out after 1 s: /"), qPrintable(err));
    QVERIFY(!g_messages.filter(QRegularExpression("^timed out after 1 s: /.*/sh$")).isEmpty());
}

void TestSpawnCmd::boundFollowsTheTool_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("isLong");
    QTest::newRow("a query") << "/usr/sbin/blkid" << QStringList{"-o", "export"} << false;
    QTest::newRow("unknown") << "marlin-no-such-tool" << QStringList{} << false;
    QTest::newRow("by path") << "/usr/bin/md5sum" << QStringList{"/backup/system.rbk"} << true;
    QTest::newRow("by prefix") << "/sbin/mkfs.ext4" << QStringList{"/dev/sda3"} << true;
    QTest::newRow("by sub-command") << "btrfs" << QStringList{"check", "/dev/sda3"} << true;
    QTest::newRow("other sub-command") << "btrfs" << QStringList{"filesystem", "show"} << false;
}

void TestSpawnCmd::boundFollowsTheTool()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(bool, isLong);
    QCOMPARE(ToolTimeout::of(tool, args), isLong ? ToolTimeout::Long : ToolTimeout::Quick);
}

QTEST_GUILESS_MAIN(TestSpawnCmd)
#include "tst_spawncmd.moc"
