#include "FakeTools.h"
#include "core/ToolPath.h"
#include "utils.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestUtilsWrappers : public QObject
{
    Q_OBJECT

private slots:
    void rebootCommandLine_data();
    void rebootCommandLine();
    void removePathPassesThePathAsOneArgument();
    void currentTimeIsUtcWithoutNewline();
    void currentTimeIsEmptyWhenDateFails();
    void rbkValidity_data();
    void rbkValidity();
    void rbkValidityWithoutTool();
    void processNameIsTheKernelCommandName();
    void processNameOfAGoneProcessFails();
    void jsonTextRoundTrip();
    void jsonTextLeniency_data();
    void jsonTextLeniency();
};

void TestUtilsWrappers::rebootCommandLine_data()
{
    QTest::addColumn<bool>("ignoreInhibitors");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("expected");
    QTest::newRow("force wins") << true << true << "systemctl reboot -f";
    QTest::newRow("force") << false << true << "systemctl reboot -f";
    QTest::newRow("ignore inhibitors") << true << false << "systemctl reboot -i";
    QTest::newRow("plain") << false << false << "systemctl reboot";
}

void TestUtilsWrappers::rebootCommandLine()
{
    QFETCH(bool, ignoreInhibitors);
    QFETCH(bool, force);
    QFETCH(QString, expected);
    FakeTools tools({"systemctl"});
    QVERIFY(Utils::rebootSystem(ignoreInhibitors, force));
    QCOMPARE(tools.calls(), QStringList{expected});
    tools.setBehaviour("systemctl", "--exit 1");
    QVERIFY(!Utils::rebootSystem(ignoreInhibitors, force));
}

void TestUtilsWrappers::removePathPassesThePathAsOneArgument()
{
    FakeTools tools({"sudo", "rm"});
    QVERIFY(Utils::removePathBySudo("/tmp/a b;rm -rf x"));
    QCOMPARE(tools.calls(), QStringList{"sudo rm -rf /tmp/a\\ b\\;rm\\ -rf\\ x"});
}

void TestUtilsWrappers::currentTimeIsUtcWithoutNewline()
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
    const QString text = Utils::getCurrentTimeByDate();
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$").match(text).hasMatch(),
             qPrintable(text));
    const QDateTime stamp = QDateTime::fromString(text, Qt::ISODate);
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(stamp.secsTo(before)) <= 5);
}

void TestUtilsWrappers::currentTimeIsEmptyWhenDateFails()
{
    FakeTools tools({"date"});
    tools.setBehaviour("date", "--out 2026-01-01T00:00:00Z --exit 1");
    QCOMPARE(Utils::getCurrentTimeByDate(), QString());
    QCOMPARE(tools.calls(), QStringList{"date -u +%Y-%m-%dT%H:%M:%SZ"});
}

void TestUtilsWrappers::rbkValidity_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<bool>("valid");
    QTest::newRow("intact") << "--out size=1024 --out fs-type=ext4" << true;
    QTest::newRow("invalid on stderr") << "--out 'invalid file' --err 'invalid file' --exit 1" << false;
    QTest::newRow("invalid on stderr, exit 0") << "--err 'invalid file'" << false;
    QTest::newRow("invalid only on stdout") << "--out 'invalid file'" << true;
    QTest::newRow("other text, case differs") << "--err 'Invalid File'" << true;
    QTest::newRow("tool fails silently") << "--exit 3" << false;
    QTest::newRow("tool crashes") << "--signal SEGV" << false;
}

void TestUtilsWrappers::rbkValidity()
{
    QFETCH(QString, behaviour);
    QFETCH(bool, valid);
    FakeTools tools({"marlin-clone"});
    tools.setBehaviour("marlin-clone", behaviour);
    QCOMPARE(Utils::isValidRbkFile("/backup/system.rbk"), valid);
    QCOMPARE(tools.calls(), QStringList{"marlin-clone --rbk-info /backup/system.rbk"});
}

void TestUtilsWrappers::rbkValidityWithoutTool()
{
    ToolPath::setSearchPath({"/nonexistent"});
    const bool valid = Utils::isValidRbkFile("/backup/system.rbk");
    ToolPath::setSearchPath({});
    QVERIFY(!valid);
}

void TestUtilsWrappers::processNameIsTheKernelCommandName()
{
    QTemporaryDir dir;
    const QString program = dir.filePath("marlin-recovery-live-helper");
    QVERIFY(QFile::copy("/bin/sleep", program));
    QProcess child;
    child.start(program, {"30"});
    QVERIFY(child.waitForStarted());
    QString name;
    QVERIFY(Utils::getProcessNameByPid(int(child.processId()), name));
    child.kill();
    child.waitForFinished();
    // The kernel keeps only the first 15 characters.
    QCOMPARE(name, QString("marlin-recovery"));
}

void TestUtilsWrappers::processNameOfAGoneProcessFails()
{
    QProcess child;
    child.start("/bin/true");
    QVERIFY(child.waitForStarted());
    const int pid = int(child.processId());
    QVERIFY(child.waitForFinished());
    QString name;
    QVERIFY(!Utils::getProcessNameByPid(pid, name));
    QVERIFY(name.isEmpty());
}

void TestUtilsWrappers::jsonTextRoundTrip()
{
    QJsonObject obj{{"operateID", "a1b2"}, {"opType", 3}, {"formatData", true}, {"path", "/media/ü"}};
    const QString text = Utils::jsonToString(obj);
    QVERIFY(text.endsWith("}\n"));
    QVERIFY(text.contains("\n    \"opType\": 3"));
    QCOMPARE(Utils::stringToJson(text), obj);
}

void TestUtilsWrappers::jsonTextLeniency_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keys");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not json") << "opType=3" << 0;
    QTest::newRow("array") << "[1,2]" << 0;
    QTest::newRow("truncated") << "{\"opType\": " << 0;
    QTest::newRow("stops at NUL") << QString("{\"opType\": 1}") + QChar(0) + "garbage" << 1;
}

void TestUtilsWrappers::jsonTextLeniency()
{
    QFETCH(QString, text);
    QFETCH(int, keys);
    QCOMPARE(Utils::stringToJson(text).size(), keys);
}

QTEST_GUILESS_MAIN(TestUtilsWrappers)
#include "tst_utilswrappers.moc"
