// The real window and controller against the real service on the fabricated machine: a pending order left in the
// recovery partition runs at start-up and ends on the result page.

#include "LiveService.h"
#include "MainWindow.h"
#include "Startup.h"
#include "modules/recovery/RecoveryModule.h"
#include "utils.h"
#include "widgets/EndPage.h"
#include "widgets/WorkingPage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TIconButton.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

using namespace LiveTest;

class Mounted
{
public:
    explicit Mounted(const QString& uuid) : m_uuid(uuid), m_path(Utils::mountDeviceByUUID(uuid)) {}
    ~Mounted() { Utils::umountDeviceByUUID(m_uuid); }
    QString operator+(const QString& relative) const { return m_path + relative; }
    bool isValid() const { return !m_path.isEmpty(); }

private:
    QString m_uuid;
    QString m_path;
};

const int TaskTimeout = 900000;

} // namespace

class TestGuiE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void startupClearsFlags();
    void pendingOrder_data();
    void pendingOrder();

private:
    LiveService* m_service = nullptr;
};

void TestGuiE2E::cleanupTestCase()
{
    // What the restore task keeps in the live system's /tmp for the logs.
    QFile::remove("/tmp/wtmp.bak");
    QDir("/tmp/event-log").removeRecursively();
}

void TestGuiE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
}

void TestGuiE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
}

void TestGuiE2E::startupClearsFlags()
{
    const QStringList files = {"/autoRepair.flag", "/.flag.d/autoRepair.flag",
                               "/etc/apt/apt.conf.d/00marlin-installer"};
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        QVERIFY(root.isValid());
        for (const QString& file : files) {
            QVERIFY(writeFile(root + file, "1\n"));
        }
    }
    CmdLineInfo cmdLine;
    QVERIFY(Utils::getCmdLineInfo(cmdLine));
    QCOMPARE(cmdLine.rootUUID, env("MARLIN_ROOT_UUID"));
    const Startup::AutoRepairResult found = Startup::isExistAutoRepairFlag(cmdLine);
    QVERIFY(found.autoRepair);
    const Mounted root(env("MARLIN_ROOT_UUID"));
    for (const QString& file : files) {
        QVERIFY2(!QFile::exists(root + file), qPrintable(file));
    }
}

void TestGuiE2E::pendingOrder_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QJsonArray>("tasks");
    QTest::addColumn<QString>("title");

    QTest::newRow("system restore") << "SystemRestore" << QJsonArray() << "Restore Successful";
    const QJsonArray backup{QJsonObject{
        {"command", "create-backup-image"},
        {"args", QJsonArray{env("MARLIN_ROOT_UUID"), env("MARLIN_RECOVERY_UUID"), "/backups/gui", "system.rbk"}}}};
    QTest::newRow("system backup") << "SystemBackup" << backup << "Backup Successful";
}

void TestGuiE2E::pendingOrder()
{
    QFETCH(QString, type);
    QFETCH(QJsonArray, tasks);
    QFETCH(QString, title);

    const QJsonObject order{{"type", type}, {"locale", "de_DE"}, {"tasks", tasks}};
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY(recovery.isValid());
        QVERIFY(writeFile(recovery + "/backup/recovery.json", QJsonDocument(order).toJson()));
    }
    m_service = new LiveService;
    QVERIFY(m_service->start());

    CmdLineInfo cmdLine;
    QVERIFY(Utils::getCmdLineInfo(cmdLine));
    const Startup::AutoRepairResult found = Startup::isExistAutoRepairFlag(cmdLine);
    QVERIFY(!found.autoRepair);
    QCOMPARE(found.sysLocale, QString("de_DE"));
    QCOMPARE(Utils::stringToJson(found.recoveryInfo).value("type").toString(), type);
    {
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        QVERIFY2(!QFile::exists(recovery + "/backup/recovery.json"), "the pending order is consumed when read");
    }

    MainWindow window(cmdLine, found.autoRepair, found.recoveryInfo);
    window.setFixedSize(860, 640);
    window.show();
    QTRY_VERIFY(window.recoveryModule() != nullptr);
    RecoveryModule* module = window.recoveryModule();
    QVERIFY(module->workingPage() != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(window.topWidget() == module->endPage(), TaskTimeout);
    QCOMPARE(module->endPage()->title(), title);
    QCOMPARE(module->endPage()->state(), int(EndPage::Success));
    QVERIFY(!window.backwardButton()->isVisible());
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    TestGuiE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gui_e2e.moc"
