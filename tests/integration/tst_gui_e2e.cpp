// The real window and controller against the real service on the fabricated machine: a pending order left in the
// recovery partition runs at start-up and ends on the result page; a restore point chosen on the restore page
// brings the system back; a damaged file system is repaired from the repair page.

#include "DialogAnswer.h"
#include "GuiDriver.h"
#include "HeldRootImage.h"
#include "LiveService.h"
#include "MainWindow.h"
#include "Mounted.h"
#include "Startup.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/RepairFileSystemWidget.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "utils.h"
#include "widgets/EndPage.h"
#include "widgets/InterruptedRestorePage.h"
#include "widgets/ItemFrame.h"
#include "widgets/WorkingPage.h"

#include "widgets/RadioItem.h"
#include "widgets/RestorePage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TLabel.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include <sys/prctl.h>

namespace {

using namespace LiveTest;

const int TaskTimeout = 900000;
const QString RestorePointDir = "/backups/restore-point-1";

QString taskList(const QJsonArray& tasks)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"tasks", tasks}}).toJson(QJsonDocument::Compact));
}

QJsonObject task(const QString& command, const QStringList& args)
{
    return QJsonObject{{"command", command}, {"args", QJsonArray::fromStringList(args)}};
}

// Leaves a pending order where the installed system leaves it.
bool writeOrder(const QJsonObject& order)
{
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    return recovery.isValid() && writeFile(recovery + "/backup/recovery.json", QJsonDocument(order).toJson());
}

void removeOrder()
{
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QFile::remove(recovery + "/backup/recovery.json");
}

// The window as the live program starts it, with what start-up found on the installed system.
std::unique_ptr<MainWindow> startProgram()
{
    CmdLineInfo cmdLine;
    Utils::getCmdLineInfo(cmdLine);
    const Startup::AutoRepairResult found = Startup::isExistAutoRepairFlag(cmdLine);
    auto window = std::make_unique<MainWindow>(cmdLine, found.autoRepair, found.recoveryInfo);
    window->setFixedSize(860, 640);
    window->show();
    window->initAllModule();
    return window;
}

// The process as the service sees it: a caller under another name is not the live GUI.
class ProcessName
{
public:
    explicit ProcessName(const char* name)
    {
        prctl(PR_GET_NAME, m_old);
        prctl(PR_SET_NAME, name);
    }
    ~ProcessName() { prctl(PR_SET_NAME, m_old); }

private:
    char m_old[17] = {};
};

QString screenshotDir()
{
    return qEnvironmentVariable("SCREENSHOT_DIR");
}

// The live program's window as it starts without a pending order; its module exists once this returns.
std::unique_ptr<MainWindow> openWindow()
{
    CmdLineInfo cmdLine;
    Utils::getCmdLineInfo(cmdLine);
    auto window = std::make_unique<MainWindow>(cmdLine, false, QString());
    window->setFixedSize(860, 640);
    window->show();
    window->initAllModule();
    return window;
}

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
    void restoreFromARestorePoint();
    void repairADamagedFileSystem();
    void cutOffRestoreIsRunAgain();
    void pendingOrderFromTheRestorePage();
    void homePageWhenNoOrderRuns();
    void serviceGoneAtStartUp();
    void refusedTaskShowsFailure();
    void unreachableServiceShowsFailure();

private:
    // A manual backup of the root and of opt and var on the data partition, made by the service and recorded
    // where the restore page looks for restore points.
    bool makeRestorePoint();
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

bool TestGuiE2E::makeRestorePoint()
{
    const QString root = "root:" + env("MARLIN_ROOT_UUID");
    const QString data = "data:" + env("MARLIN_DATA_UUID");
    const QJsonArray tasks{task("create-backup-image", {root, data, RestorePointDir, "system.rbk"}),
                           task("create-backup-directory", {data, data, RestorePointDir})};
    QSignalSpy success(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Error);
    // Partition images, as the installed system orders them (a whole-disk backup cannot go onto its own disk).
    const QString request = LiveService::request(4, "restore-point", {{"recoveryInfo", taskList(tasks)}});
    if (m_service->proxy()->SystemBackup(request).value() != 0 ||
        !QTest::qWaitFor([&] { return !success.isEmpty() || !error.isEmpty(); }, TaskTimeout) || success.isEmpty()) {
        return false;
    }
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    return writeFile(recovery + "/backup/savePath.json",
                     QString(R"({"%1": {"1709980000": "%2"}})").arg(env("MARLIN_DATA_UUID"), RestorePointDir).toUtf8());
}

void TestGuiE2E::restoreFromARestorePoint()
{
    m_service = new LiveService;
    QVERIFY(m_service->start());
    QMap<QString, QByteArray> rootAtBackup;
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        rootAtBackup = treeOf(root.path());
        QVERIFY(rootAtBackup.contains("/etc/hostname"));
    }
    QVERIFY(makeRestorePoint());
    // The service runs one task per process: the restore gets a fresh one, as after a reboot.
    m_service->stop();
    QVERIFY(m_service->start());
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        QVERIFY(writeFile(root + "/etc/hostname", "broken-after-backup\n"));
        QVERIFY(writeFile(root + "/usr/bin/intruder", "#!/bin/sh\n"));
    }

    const std::unique_ptr<MainWindow> window = openWindow();
    QVERIFY(window->recoveryModule() != nullptr);
    GuiDriver gui(window.get(), screenshotDir().isEmpty() ? QString() : screenshotDir() + "/restore-point");
    QVERIFY2(gui.openRestorePage(), qPrintable(gui.error()));
    QVERIFY2(gui.restoreFromRestorePoint(RestorePointDir), qPrintable(gui.error()));
    QString title;
    QVERIFY2(gui.waitForResult(&title, TaskTimeout), qPrintable(gui.error()));
    QCOMPARE(title, QString("Restore Successful"));
    QCOMPARE(window->recoveryModule()->lastOpType(), 0);

    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}), 0);
    QCOMPARE(output("blkid", {"-o", "value", "-s", "UUID", env("MARLIN_ROOT_DEV")}).trimmed(), env("MARLIN_ROOT_UUID"));
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        QCOMPARE(treeOf(root.path()), rootAtBackup);
    }
    const Mounted data(env("MARLIN_DATA_UUID"));
    QVERIFY(QDir(data + RestorePointDir).removeRecursively());
}

void TestGuiE2E::repairADamagedFileSystem()
{
    // The boot partition is in the installed system's fstab, so the page offers it; its superblock says the file
    // system has errors and an inode is gone.
    const QString boot = env("MARLIN_BOOT_DEV");
    QVERIFY(run("debugfs", {"-w", "-R", "mkdir /repair-victim", boot}));
    QVERIFY(run("debugfs", {"-w", "-R", "clri /repair-victim", boot}));
    QVERIFY(run("debugfs", {"-w", "-R", "ssv state 2", boot}));
    QVERIFY(exitCodeOf("fsck", {"-n", boot}) != 0);

    m_service = new LiveService;
    QVERIFY(m_service->start());
    const std::unique_ptr<MainWindow> window = openWindow();
    QVERIFY(window->recoveryModule() != nullptr);
    GuiDriver gui(window.get(), screenshotDir().isEmpty() ? QString() : screenshotDir() + "/repair");
    QVERIFY2(gui.openRepairPage(120000), qPrintable(gui.error()));
    RepairFileSystemWidget* page = window->recoveryModule()->repairFileSystemWidget();
    // Errors come first; partitions outside the installed system are not offered.
    QCOMPARE(page->devicePathOfRow(1), boot);
    for (int n = 1; n <= page->rowCount(); ++n) {
        QVERIFY(page->devicePathOfRow(n) != env("MARLIN_SPARE_DEV"));
    }
    QString result;
    QVERIFY2(gui.repairPartition(boot, &result, 120000), qPrintable(gui.error()));
    QCOMPARE(result, QString("Repair completed. Reboot to enter the system."));
    QVERIFY(page->backwardButton()->isEnabled());
    QCOMPARE(exitCodeOf("fsck", {"-n", boot}), 0);
}

void TestGuiE2E::cutOffRestoreIsRunAgain()
{
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/Documents/before-the-cut.txt", "written before the cut\n"));
    }
    {
        HeldRootImage held;
        QVERIFY(held.isValid());
        m_service = new LiveService;
        QVERIFY(m_service->start());
        const QString request = LiveService::request(1, "cut-off", {{"formatData", false}});
        QCOMPARE(m_service->proxy()->SystemRestore(request).value(), 0);
        QVERIFY(held.waitUntilHeld(TaskTimeout));
        m_service->kill();
        held.cut();
    }
    // Half written: what the image tool had written of the root is not a file system any more.
    QVERIFY(breakRoot());

    QVERIFY(m_service->start());
    QSignalSpy success(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Success);
    QCOMPARE(m_service->proxy()->InitLiveRestorePage(LiveService::request(8, "page")).value(), 0);
    QVERIFY(success.wait(120000));
    const QJsonObject page =
        Utils::stringToJson(Utils::stringToJson(success.constFirst().constFirst().toString()).value("data").toString());
    QCOMPARE(page.value("isExitsInitBackup").toBool(), true);
    const QJsonObject reported = Utils::stringToJson(page.value("interruptedRestore").toString());
    QCOMPARE(reported.value("method").toString(), QString("SystemRestore"));
    QCOMPARE(reported.value("request").toObject().value("operateID").toString(), QString("cut-off"));

    CmdLineInfo cmdLine;
    QVERIFY(Utils::getCmdLineInfo(cmdLine));
    const QString mark = Startup::findInterruptedRestore(cmdLine);
    QVERIFY(!mark.isEmpty());
    MainWindow window(cmdLine, false, QString());
    window.setInterruptedRestore(mark);
    window.setFixedSize(860, 640);
    window.show();
    QTRY_VERIFY(window.recoveryModule() != nullptr);
    QTRY_VERIFY(window.topWidget() == window.recoveryModule()->interruptedRestorePage());
    QCOMPARE(window.recoveryModule()->interruptedRestorePage()->title(), QString("The last restore did not finish"));
    GuiDriver gui(&window, screenshotDir().isEmpty() ? QString() : screenshotDir() + "/cut-off");
    QVERIFY2(gui.restoreAgain(), qPrintable(gui.error()));
    QString title;
    QVERIFY2(gui.waitForResult(&title, TaskTimeout), qPrintable(gui.error()));
    QCOMPARE(title, QString("Restore Successful"));

    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}), 0);
    QCOMPARE(output("blkid", {"-o", "value", "-s", "UUID", env("MARLIN_ROOT_DEV")}).trimmed(), env("MARLIN_ROOT_UUID"));
    const Mounted root(env("MARLIN_ROOT_UUID"));
    QCOMPARE(readFile(root + "/etc/hostname"), QByteArray("marlin-pc\n"));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/Documents/before-the-cut.txt"), QByteArray("written before the cut\n"));
    const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!QFile::exists(recovery + "/backup/restore-in-progress.json"));
}

// Booted so that start-up left the order in place: the restore page hands it on, and the window follows it.
void TestGuiE2E::pendingOrderFromTheRestorePage()
{
    QVERIFY(writeOrder({{"type", "SystemRestore"}, {"tasks", QJsonArray()}}));
    m_service = new LiveService;
    QVERIFY(m_service->start());
    const std::unique_ptr<MainWindow> window = openWindow();
    RecoveryModule* module = window->recoveryModule();
    GuiDriver gui(window.get(), screenshotDir().isEmpty() ? QString() : screenshotDir() + "/order-on-restore-page");
    RecoveryPage* home = module->homePage();
    QTest::mouseClick(home->tile(RecoveryPage::Restore), Qt::LeftButton);
    QTest::mouseClick(home->nextButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(module->workingPage() != nullptr && window->topWidget() == module->workingPage(), 120000);
    int highest = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            highest = std::max(highest, module->workingPage()->progressValue());
            return module->endPage() != nullptr && window->topWidget() == module->endPage();
        },
        TaskTimeout));
    gui.shot("result");
    QCOMPARE(module->endPage()->title(), QString("Restore Successful"));
    QVERIFY2(highest > 0, "the progress never moved");
    removeOrder();
}

void TestGuiE2E::homePageWhenNoOrderRuns()
{
    QVERIFY(writeOrder({{"locale", "de_DE"}}));
    m_service = new LiveService;
    QVERIFY(m_service->start());
    const std::unique_ptr<MainWindow> window = startProgram();
    RecoveryModule* module = window->recoveryModule();
    QCOMPARE(window->topWidget(), module->homePage());
    QVERIFY(!module->homePage()->retryButton()->isVisible());
    removeOrder();
}

// Nothing answers on the bus: the home page says so, and Try Again runs the order once the service is there.
void TestGuiE2E::serviceGoneAtStartUp()
{
    QVERIFY(writeOrder({{"type", "SystemRestore"}, {"tasks", QJsonArray()}}));
    const std::unique_ptr<MainWindow> window = startProgram();
    RecoveryModule* module = window->recoveryModule();
    GuiDriver gui(window.get(), screenshotDir().isEmpty() ? QString() : screenshotDir() + "/service-gone");
    QCOMPARE(window->topWidget(), module->homePage());
    QVERIFY(module->homePage()->retryButton()->isVisible());
    QCOMPARE(module->homePage()->errorLabel()->text(), QString("The recovery service cannot be reached."));
    gui.shot("home-service-unreachable");

    m_service = new LiveService;
    QVERIFY(m_service->start());
    QTest::mouseClick(module->homePage()->retryButton(), Qt::LeftButton);
    QCOMPARE(window->topWidget(), module->workingPage());
    QString title;
    QVERIFY2(gui.waitForResult(&title, TaskTimeout), qPrintable(gui.error()));
    QCOMPARE(title, QString("Restore Successful"));
}

// The real service refuses a caller that is not the live GUI: the order's failure shows, not a progress page.
void TestGuiE2E::refusedTaskShowsFailure()
{
    QVERIFY(writeOrder({{"type", "SystemRestore"}, {"tasks", QJsonArray()}}));
    m_service = new LiveService;
    QVERIFY(m_service->start());
    const ProcessName stranger("not-the-gui");
    const std::unique_ptr<MainWindow> window = startProgram();
    RecoveryModule* module = window->recoveryModule();
    GuiDriver gui(window.get(), screenshotDir().isEmpty() ? QString() : screenshotDir() + "/refused");
    QVERIFY(module->endPage() != nullptr);
    QCOMPARE(window->topWidget(), module->endPage());
    QCOMPARE(module->endPage()->state(), int(EndPage::Failure));
    QCOMPARE(module->endPage()->message(), QString("Restore failed, error: Invalid Caller"));
    gui.shot("refused-task");
}

// The service goes away while the restore page is open: the factory reset's request fails on the bus.
void TestGuiE2E::unreachableServiceShowsFailure()
{
    m_service = new LiveService;
    QVERIFY(m_service->start());
    const std::unique_ptr<MainWindow> window = openWindow();
    GuiDriver gui(window.get());
    QVERIFY2(gui.openRestorePage(), qPrintable(gui.error()));
    m_service->stop();
    RestorePage* page = window->recoveryModule()->systemRestoreWidget()->restorePage();
    page->factoryItem()->radioButton()->click();
    const DialogAnswer confirm(1);
    QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
    RecoveryModule* module = window->recoveryModule();
    QTRY_VERIFY(module->endPage() != nullptr && window->topWidget() == module->endPage());
    QCOMPARE(module->endPage()->message(), QString("Restore failed, error: The recovery service cannot be reached."));
    QCOMPARE(module->endPage()->state(), int(EndPage::Failure));
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    TestGuiE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gui_e2e.moc"
