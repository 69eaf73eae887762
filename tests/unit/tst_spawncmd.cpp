#include "FakeTools.h"
#include "core/command.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

QStringList g_messages;

void captureMessages(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_messages.append(message);
}

const QString FakeTool = QStringLiteral(MARLIN_TEST_TOOLS_DIR "/fake-tool");

} // namespace

class TestSpawnCmd : public QObject
{
    Q_OBJECT

private slots:
    void outcomeIsTheSameInEveryForm_data();
    void outcomeIsTheSameInEveryForm();
    void channelsAreSeparatedAndAppended();
    void twoArgumentFormKeepsNothing();
    void retryBelowOneRunsNothing_data();
    void retryBelowOneRunsNothing();
    void retryAccumulatesEveryAttempt();
    void retryStopsAtFirstSuccess();
};

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

QTEST_GUILESS_MAIN(TestSpawnCmd)
#include "tst_spawncmd.moc"
