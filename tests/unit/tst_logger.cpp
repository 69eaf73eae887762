#include <tessel/core/AbstractAppender.h>
#include <tessel/core/FileAppender.h>
#include <tessel/core/LogRecord.h>
#include <tessel/core/Logger.h>
#include <tessel/core/PatternFormatter.h>
#include <tessel/core/RollingFileAppender.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

using namespace Tessel::Core;

Q_LOGGING_CATEGORY(lcTest, "marlin.test")

namespace {

const QString serviceFormat = QStringLiteral(
    "%{time}{yyyy-MM-dd, HH:mm:ss.zzz}[%{type:1}][%{function:-35} %{line:-4} %{threadid} ] %{message}\n");
const QString guiFormat = QStringLiteral("%{time}{yyyy-MM-dd, HH:mm:ss.zzz}[%{type:1}][%{threadid} ] %{message}\n");
const QString fieldsFormat = QStringLiteral("%{type}|%{file}|%{line}|%{function}|%{threadid}|%{category}|%{message}");

LogRecord sampleRecord(QtMsgType type = QtDebugMsg, const QString& function = QString(), int line = 120)
{
    LogRecord record;
    record.type = type;
    record.time = QDateTime(QDate(2026, 12, 7), QTime(9, 14, 15, 123));
    record.file = QStringLiteral("/src/service.cpp");
    record.line = line;
    record.function = function;
    record.category = QStringLiteral("marlin.service");
    record.message = QStringLiteral("some text");
    record.threadId = 4711;
    return record;
}

LogRecord messageRecord(const QString& message, QtMsgType type = QtDebugMsg)
{
    LogRecord record = sampleRecord(type);
    record.message = message;
    return record;
}

class MemoryAppender : public AbstractAppender
{
public:
    QStringList lines() const
    {
        QMutexLocker locker(&m_linesMutex);
        return m_lines;
    }

protected:
    void append(const QString& formatted) override
    {
        QMutexLocker locker(&m_linesMutex);
        m_lines.append(formatted);
    }

private:
    mutable QMutex m_linesMutex;
    QStringList m_lines;
};

// Logs through the global logger from inside append(), as a careless appender might.
class ReentrantAppender : public MemoryAppender
{
protected:
    void append(const QString& formatted) override
    {
        Logger::globalInstance()->write(messageRecord(QStringLiteral("from inside an appender"), QtWarningMsg));
        MemoryAppender::append(formatted);
    }
};

// Keeps a stack appender registered only for the scope, even when a check bails out early.
class Registration
{
public:
    explicit Registration(AbstractAppender* appender) : m_appender(appender)
    {
        Logger::globalInstance()->registerAppender(appender);
    }
    ~Registration() { Logger::globalInstance()->removeAppender(m_appender); }

private:
    AbstractAppender* m_appender;
};

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {QStringLiteral("<unreadable>")};
    }
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::Append) &&
           file.setFileTime(time, QFileDevice::FileModificationTime);
}

// Noon avoids daylight-saving edges around midnight.
QDateTime daysAgo(int days)
{
    return QDateTime(QDate::currentDate().addDays(-days), QTime(12, 0));
}

// "3" -> "<path>.<today-3>", "3.1" -> "<path>.<today-3>.1"
QString datedName(const QString& path, const QString& age)
{
    const QStringList parts = age.split(u'.');
    QString name = path + u'.' + QDate::currentDate().addDays(-parts[0].toInt()).toString(u"yyyy-MM-dd");
    if (parts.size() > 1) {
        name += u'.' + parts[1];
    }
    return name;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void formatsRecord_data();
    void formatsRecord();
    void shortensFunctionNames_data();
    void shortensFunctionNames();
    void qtMessagesFromWorkerThreadReachAppender();
    void registrationControlsDelivery();
    void fallsBackToPreviousHandlerWithoutAppenders();
    void appenderLoggingDoesNotDeadlock();
    void fileAppenderOpensLazilyAndAppends();
    void fileAppenderFollowsAReplacedFile();
    void fileAppenderIsPrivateAndFollowsNoLink();
    void fileAppenderKeepsEveryLineFromThreads();
    void rollsOverToDatedFile_data();
    void rollsOverToDatedFile();
    void keepsNewestFiles_data();
    void keepsNewestFiles();
};

void TestLogger::formatsRecord_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    const QString backup = QStringLiteral("void RecoveryService::ManualBackup(const QString&)");
    const QString longName = QStringLiteral("bool RecoveryService::RestorePartitionTableFromImage(int)");
    QTest::newRow("service debug") << serviceFormat << int(QtDebugMsg) << backup << 120
                                   << "2026-12-07, 09:14:15.123[D][RecoveryService::ManualBackup       120  4711 ] "
                                      "some text\n";
    QTest::newRow("service info") << serviceFormat << int(QtInfoMsg) << backup << 7
                                  << "2026-12-07, 09:14:15.123[I][RecoveryService::ManualBackup       7    4711 ] "
                                     "some text\n";
    QTest::newRow("service warning, line wider than column")
        << serviceFormat << int(QtWarningMsg) << backup << 12345
        << "2026-12-07, 09:14:15.123[W][RecoveryService::ManualBackup       12345 4711 ] some text\n";
    QTest::newRow("service critical, long function not cut")
        << serviceFormat << int(QtCriticalMsg) << longName << 1
        << "2026-12-07, 09:14:15.123[C][RecoveryService::RestorePartitionTableFromImage 1    4711 ] some text\n";
    QTest::newRow("service fatal, no function")
        << serviceFormat << int(QtFatalMsg) << QString() << 0
        << "2026-12-07, 09:14:15.123[F][                                    0    4711 ] some text\n";
    QTest::newRow("gui") << guiFormat << int(QtWarningMsg) << backup << 120
                         << "2026-12-07, 09:14:15.123[W][4711 ] some text\n";
    QTest::newRow("right-aligned") << "[%{line:6}|%{function:30}]" << int(QtDebugMsg) << backup << 42
                                   << "[    42| RecoveryService::ManualBackup]";
    QTest::newRow("full type word") << "%{type}" << int(QtInfoMsg) << backup << 1 << "Info";
    QTest::newRow("no trailing newline") << "%{message}" << int(QtDebugMsg) << backup << 1 << "some text";
    QTest::newRow("file, category, default time") << "%{time} %{file}:%{line} %{category}" << int(QtDebugMsg) << backup
                                                  << 9 << "2026-12-07 09:14:15.123 /src/service.cpp:9 marlin.service";
    QTest::newRow("unknown and malformed tokens stay literal")
        << "%{bogus} %{line:x} %{type:2} %{time:1} 100% %{message" << int(QtDebugMsg) << backup << 1
        << "%{bogus} %{line:x} %{type:2} %{time:1} 100% %{message";
    QTest::newRow("literal newline in the middle") << "a\n%{line}\nb" << int(QtDebugMsg) << backup << 5 << "a\n5\nb";
}

void TestLogger::formatsRecord()
{
    QFETCH(QString, pattern);
    QFETCH(int, type);
    QFETCH(QString, function);
    QFETCH(int, line);
    QFETCH(QString, expected);

    const PatternFormatter formatter(pattern);
    QCOMPARE(formatter.format(sampleRecord(QtMsgType(type), function, line)), expected);
}

void TestLogger::shortensFunctionNames_data()
{
    QTest::addColumn<QString>("pretty");
    QTest::addColumn<QString>("expected");

    const struct
    {
        const char* row;
        const char* pretty;
        const char* expected;
    } cases[] = {
        {"method", "void RecoveryService::ManualBackup(const QString&)", "RecoveryService::ManualBackup"},
        {"constructor", "RecoveryService::RecoveryService(QObject*)", "RecoveryService::RecoveryService"},
        {"virtual const", "virtual bool Tessel::Core::Foo::bar(int) const", "Tessel::Core::Foo::bar"},
        {"static, pointer return", "static Tessel::Core::Logger* Tessel::Core::Logger::globalInstance()",
         "Tessel::Core::Logger::globalInstance"},
        {"clang pointer spelling", "const char *Foo::name() const", "Foo::name"},
        {"template return type", "QList<QPair<int, QString> > Foo::pairs() const", "Foo::pairs"},
        {"function type in template", "std::function<void(int)> Foo::callback()", "Foo::callback"},
        {"lambda", "RecoveryService::ManualBackup(const QString&)::<lambda()>", "RecoveryService::ManualBackup"},
        {"call operator", "bool Foo::operator()(int) const", "Foo::operator()"},
        {"less operator", "bool operator<(const A&, const B&)", "operator<"},
        {"conversion operator", "Foo::operator bool() const", "Foo::operator bool"},
        {"template note", "T Cache<T>::get() [with T = int]", "Cache<T>::get"},
        {"gcc anonymous namespace", "void {anonymous}::logFromWorker()", "logFromWorker"},
        {"clang anonymous namespace", "void (anonymous namespace)::helper(int)", "helper"},
        {"already short", "Foo::bar", "Foo::bar"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        QTest::newRow(c.row) << QString::fromUtf8(c.pretty) << QString::fromUtf8(c.expected);
    }
}

void TestLogger::shortensFunctionNames()
{
    QFETCH(QString, pretty);
    QFETCH(QString, expected);

    QCOMPARE(PatternFormatter::shortFunctionName(pretty), expected);
}

void TestLogger::qtMessagesFromWorkerThreadReachAppender()
{
    MemoryAppender appender;
    appender.setFormat(fieldsFormat);
    Registration registration(&appender);

    qint64 workerId = 0;
    int debugLine = 0;
    int infoLine = 0;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        workerId = LogRecord::currentThreadId();
        debugLine = __LINE__ + 1;
        qDebug("from worker %d", 1);
        infoLine = __LINE__ + 1;
        qCInfo(lcTest) << "categorised";
    }));
    worker->start();
    QVERIFY(worker->wait());

    QVERIFY(workerId != LogRecord::currentThreadId());
    const QString where = QStringLiteral(__FILE__ "|%1|TestLogger::qtMessagesFromWorkerThreadReachAppender|%2|");
    QCOMPARE(appender.lines(), QStringList({"Debug|" + where.arg(debugLine).arg(workerId) + "default|from worker 1",
                                            "Info|" + where.arg(infoLine).arg(workerId) + "marlin.test|categorised"}));
}

void TestLogger::registrationControlsDelivery()
{
    MemoryAppender kept;
    MemoryAppender removed;
    kept.setFormat(QStringLiteral("%{message}"));
    removed.setFormat(QStringLiteral("%{message}"));
    Registration keptRegistration(&kept);
    Registration twice(&kept);
    Logger::globalInstance()->registerAppender(&removed);
    Logger::globalInstance()->removeAppender(&removed);

    qInfo("once");
    QCOMPARE(kept.lines(), QStringList{"once"});
    QVERIFY(removed.lines().isEmpty());
}

void TestLogger::fallsBackToPreviousHandlerWithoutAppenders()
{
    Logger::installMessageHandler();
    QVERIFY(Logger::globalInstance()->appenders().isEmpty());

    // QtTest's own handler is the previous one; it fails the test if the message never arrives.
    QTest::ignoreMessage(QtWarningMsg, "nobody listens");
    qWarning("nobody listens");
    QTest::ignoreMessage(QtCriticalMsg, "written directly");
    Logger::globalInstance()->write(messageRecord(QStringLiteral("written directly"), QtCriticalMsg));
}

void TestLogger::appenderLoggingDoesNotDeadlock()
{
    ReentrantAppender appender;
    appender.setFormat(QStringLiteral("%{message}"));
    Registration registration(&appender);

    QTest::ignoreMessage(QtWarningMsg, "from inside an appender");
    qDebug("outer");
    QCOMPARE(appender.lines(), QStringList{"outer"});
}

void TestLogger::fileAppenderOpensLazilyAndAppends()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("app.log"));
    QVERIFY(writeFile(path, "earlier run\n"));

    FileAppender appender(path);
    appender.setFormat(QStringLiteral("%{message}\n"));
    QCOMPARE(readLines(path), QStringList{"earlier run"});
    appender.write(messageRecord(QStringLiteral("this run")));
    QCOMPARE(readLines(path), QStringList({"earlier run", "this run"}));

    const QString other = dir.filePath(QStringLiteral("other.log"));
    appender.setFileName(other);
    QVERIFY(!QFile::exists(other));
    appender.write(messageRecord(QStringLiteral("moved")));
    QCOMPARE(readLines(other), QStringList{"moved"});
    QCOMPARE(readLines(path), QStringList({"earlier run", "this run"}));

    appender.setFileName(dir.filePath(QStringLiteral("missing/app.log")));
    appender.write(sampleRecord());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
}

void TestLogger::fileAppenderFollowsAReplacedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("service.log"));
    FileAppender appender(path);
    appender.setFormat(QStringLiteral("%{message}\n"));
    appender.write(messageRecord(QStringLiteral("before")));
    // What sed -i does when it masks the log: a new file renamed over the old name.
    QVERIFY(writeFile(path + QStringLiteral(".new"), "masked\n"));
    QVERIFY(::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                     QFile::encodeName(path).constData()) == 0);
    appender.write(messageRecord(QStringLiteral("after")));
    QCOMPARE(readLines(path), QStringList({"masked", "after"}));
    QVERIFY(QFile::remove(path));
    appender.write(messageRecord(QStringLiteral("fresh")));
    QCOMPARE(readLines(path), QStringList{"fresh"});
}

// The log holds what was done with whose disks: its owner's alone, and a link at its name is never followed.
void TestLogger::fileAppenderIsPrivateAndFollowsNoLink()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("service.log"));
    QVERIFY(writeFile(path, "earlier, readable by all\n"));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup));
    FileAppender appender(path);
    appender.setFormat(QStringLiteral("%{message}\n"));
    appender.write(messageRecord(QStringLiteral("request")));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
    const QString target = dir.filePath(QStringLiteral("passwd"));
    QVERIFY(writeFile(target, "root:x:0:0\n"));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(target, path));
    appender.write(messageRecord(QStringLiteral("through the link")));
    QCOMPARE(readLines(target), QStringList{"root:x:0:0"});
}

void TestLogger::fileAppenderKeepsEveryLineFromThreads()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("threads.log"));
    FileAppender appender(path);
    appender.setFormat(serviceFormat);

    constexpr int threadCount = 4;
    constexpr int linesPerThread = 500;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([&appender, t] {
            for (int n = 0; n < linesPerThread; ++n) {
                appender.write(messageRecord(QStringLiteral("t%1 n%2").arg(t).arg(n)));
            }
        }));
        threads.back()->start();
    }
    for (const auto& thread : threads) {
        QVERIFY(thread->wait());
    }

    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), threadCount * linesPerThread);
    QSet<QString> messages;
    for (const QString& line : lines) {
        QVERIFY2(line.startsWith(u"2026-12-07, 09:14:15.123[D]"), qPrintable(line));
        messages.insert(line.section(QStringLiteral("] "), -1));
    }
    QCOMPARE(messages.size(), threadCount * linesPerThread);
}

void TestLogger::rollsOverToDatedFile_data()
{
    QTest::addColumn<bool>("restart");
    QTest::addColumn<bool>("dayNameTaken");

    QTest::newRow("running appender") << false << false;
    QTest::newRow("at start-up") << true << false;
    QTest::newRow("dated name taken") << false << true;
    QTest::newRow("dated name taken, at start-up") << true << true;
}

void TestLogger::rollsOverToDatedFile()
{
    QFETCH(bool, restart);
    QFETCH(bool, dayNameTaken);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("marlin-recovery-service.log"));
    const QString dayName = datedName(path, QStringLiteral("2"));
    if (dayNameTaken) {
        QVERIFY(writeFile(dayName, "kept\n"));
    }

    auto appender = std::make_unique<RollingFileAppender>(path);
    appender->setFormat(QStringLiteral("%{message}\n"));
    appender->write(messageRecord(QStringLiteral("yesterday's line")));
    appender->write(messageRecord(QStringLiteral("same day, no rollover")));
    QVERIFY(setModified(path, daysAgo(2)));
    if (restart) {
        appender = std::make_unique<RollingFileAppender>(path);
        appender->setFormat(QStringLiteral("%{message}\n"));
    }
    appender->write(messageRecord(QStringLiteral("today's line")));

    const QStringList old = {"yesterday's line", "same day, no rollover"};
    QCOMPARE(readLines(path), QStringList{"today's line"});
    QCOMPARE(readLines(dayNameTaken ? dayName + ".1" : dayName), old);
    if (dayNameTaken) {
        QCOMPARE(readLines(dayName), QStringList{"kept"});
    }
}

void TestLogger::keepsNewestFiles_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("currentAge");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("remaining");

    QTest::newRow("limit 3") << 3 << 2 << QStringList{"10", "9", "8", "5"} << QStringList{"2", "5"};
    QTest::newRow("later suffix is newer") << 3 << 2 << QStringList{"3.2", "3", "3.1"} << QStringList{"2", "3.2"};
    QTest::newRow("limit 1 keeps only current") << 1 << 2 << QStringList{"5"} << QStringList{};
    QTest::newRow("no limit") << 0 << 2 << QStringList{"10", "5"} << QStringList{"2", "5", "10"};
    QTest::newRow("pruned at start-up") << 2 << 0 << QStringList{"10", "9", "8"} << QStringList{"8"};
}

void TestLogger::keepsNewestFiles()
{
    QFETCH(int, limit);
    QFETCH(int, currentAge);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, remaining);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("service.log"));
    for (const QString& age : existing) {
        QVERIFY(writeFile(datedName(path, age), "old\n"));
    }
    const QStringList unrelated = {
        dir.filePath("other.log." + QDate::currentDate().addDays(-20).toString(u"yyyy-MM-dd")), path + ".notes",
        path + ".2020-13-45"};
    for (const QString& name : unrelated) {
        QVERIFY(writeFile(name, "keep\n"));
    }
    QVERIFY(writeFile(path, "current\n"));
    QVERIFY(setModified(path, daysAgo(currentAge)));

    RollingFileAppender appender(path);
    appender.setLogFilesLimit(limit);
    appender.write(sampleRecord());

    QStringList expected = unrelated;
    expected.append(path);
    for (const QString& age : remaining) {
        expected.append(datedName(path, age));
    }
    QStringList found;
    const QStringList names = QDir(dir.path()).entryList(QDir::Files);
    for (const QString& name : names) {
        found.append(dir.filePath(name));
    }
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
