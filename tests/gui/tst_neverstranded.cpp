// The window never leaves a person without a way on: the real window and controller against a stand-in service on
// a private bus that accepts, refuses, fails on the bus or is gone, and sends the answers a real one would.

#include "DialogAnswer.h"
#include "FakeRecoveryService.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/RepairFileSystemWidget.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/EndPage.h"
#include "widgets/ItemFrame.h"
#include "widgets/WorkingPage.h"

#include "widgets/BaseTableView.h"
#include "widgets/RadioItem.h"
#include "widgets/RestorePage.h"
#include "widgets/TreeViewModel.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFileChooserEdit.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TLabel.h>

#include <QAbstractButton>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <memory>

using namespace Tessel::Widgets;

namespace {

const int AnswerTimeout = 20000;
const int BusError = FakeRecoveryObject::DBusError;
const int RestorePageOp = 8;
const QString Unreachable = "The recovery service cannot be reached.";
// Far below the 25 s of D-Bus: a held answer outlasts it at once.
const int ShortCallTimeout = 300;

QString json(const QJsonObject& obj)
{
    return QString::fromUtf8(QJsonDocument(obj).toJson());
}

QString order(const QString& type)
{
    return json({{"type", type}, {"locale", "de_DE"}, {"tasks", QJsonArray()}});
}

// The restore page's information: all three choices, one restore point, and a pending order when given.
QString restorePageInfo(const QString& pendingOrder = QString())
{
    const QJsonArray backups{QJsonObject{{"backupUUID", "data-uuid"},
                                         {"backupPath", "/backups/restore-point-1"},
                                         {"backupTime", "2024-03-09 10:26:40"}}};
    return json({{"recoveryUUID", "rec-uuid"},
                 {"backupInfo", json({{"BackupFileInfoList", backups}})},
                 {"recoveryInfo", pendingOrder},
                 {"isExitsInitBackup", true}});
}

QString checkList()
{
    const QJsonArray items{QJsonObject{
        {"devicePath", "/dev/vdz2"}, {"mountPoint", "/boot"}, {"fsType", "ext4"}, {"status", -1}, {"deviceType", 1}}};
    return json({{"PartitionCheckItemList", items}});
}

QPushButton* retryButton(MainWindow* window)
{
    return window->recoveryModule()->homePage()->findChild<QPushButton*>("retryButton");
}

} // namespace

class TestNeverStranded : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pendingOrderOnRestorePage();
    void firstPage_data();
    void firstPage();
    void tryAgainStartsTheOrder();
    void failedRepairRequest_data();
    void failedRepairRequest();
    void refusedTask_data();
    void refusedTask();
    void slowStart_data();
    void slowStart();
    void unrecordedRestore_data();
    void unrecordedRestore();
    void screenshots_data();
    void screenshots();

private:
    std::unique_ptr<MainWindow> openWindow(const QString& recoveryInfo = QString());
    bool openRestorePage(MainWindow* window, const QString& pendingOrder = QString());
    bool openRepairPage(MainWindow* window);

    PrivateBus m_bus;
    std::unique_ptr<FakeRecoveryService> m_service;
};

void TestNeverStranded::initTestCase()
{
    QVERIFY2(m_bus.start(), "no private bus (dbus-daemon)");
}

void TestNeverStranded::init()
{
    // No recovery partition here: the record of a restore counts as writable.
    RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
    m_service = std::make_unique<FakeRecoveryService>();
    QVERIFY(m_service->start());
}

void TestNeverStranded::cleanup()
{
    m_service.reset();
}

std::unique_ptr<MainWindow> TestNeverStranded::openWindow(const QString& recoveryInfo)
{
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    auto window = std::make_unique<MainWindow>(cmdLine, false, recoveryInfo);
    window->setFixedSize(860, 640);
    window->show();
    window->initAllModule();
    return window;
}

bool TestNeverStranded::openRestorePage(MainWindow* window, const QString& pendingOrder)
{
    RecoveryPage* home = window->recoveryModule()->homePage();
    QTest::mouseClick(home->tile(RecoveryPage::Restore), Qt::LeftButton);
    QTest::mouseClick(home->nextButton(), Qt::LeftButton);
    const QString id = m_service->lastOperateID("InitLiveRestorePage");
    if (id.isEmpty()) {
        return false;
    }
    m_service->send("Success", FakeRecoveryService::response(8, id, {{"data", restorePageInfo(pendingOrder)}}));
    QWidget* expected =
        pendingOrder.isEmpty() ? static_cast<QWidget*>(window->recoveryModule()->systemRestoreWidget()) : nullptr;
    // A pending order is handed on while the answer is handled: the page's request is done with then.
    return QTest::qWaitFor(
        [&] {
            return expected != nullptr ? window->topWidget() == expected
                                       : window->recoveryModule()->lastOpType() != RestorePageOp;
        },
        AnswerTimeout);
}

bool TestNeverStranded::openRepairPage(MainWindow* window)
{
    RecoveryModule* module = window->recoveryModule();
    QMetaObject::invokeMethod(module, "onRepairFileSystem");
    const QString id = m_service->lastOperateID("AsyncGetPartitionCheckItemLists");
    if (id.isEmpty()) {
        return false;
    }
    m_service->send("Success", FakeRecoveryService::response(7, id, {{"data", checkList()}}));
    return QTest::qWaitFor(
        [&] {
            return module->repairFileSystemWidget() != nullptr &&
                   window->topWidget() == module->repairFileSystemWidget();
        },
        AnswerTimeout);
}

// The restore page hands on the pending order it was told about; its progress and outcome must reach the window.
void TestNeverStranded::pendingOrderOnRestorePage()
{
    const auto window = openWindow();
    RecoveryModule* module = window->recoveryModule();
    QVERIFY(openRestorePage(window.get(), order("SystemRestore")));
    QTRY_COMPARE(window->topWidget(), module->workingPage());
    const QString id = m_service->lastOperateID("RestoreByTask");
    QVERIFY(!id.isEmpty());
    m_service->send("ReportProgress", FakeRecoveryService::response(1, id, {{"progress", 40}}));
    QTRY_COMPARE_WITH_TIMEOUT(module->workingPage()->progressValue(), 40, AnswerTimeout);
    m_service->send("Success", FakeRecoveryService::response(1, id));
    QTRY_COMPARE_WITH_TIMEOUT(window->topWidget(), module->endPage(), AnswerTimeout);
    QCOMPARE(module->endPage()->title(), QString("Restore Successful"));
}

void TestNeverStranded::firstPage_data()
{
    QTest::addColumn<QString>("recoveryInfo");
    QTest::addColumn<bool>("serviceUp");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("notice");

    QTest::newRow("no order") << QString() << true << 0 << "home" << false;
    QTest::newRow("unknown type") << order("Reinstall") << true << 0 << "home" << false;
    QTest::newRow("only a locale") << json({{"locale", "de_DE"}}) << true << 0 << "home" << false;
    QTest::newRow("not json") << QString("SystemRestore") << true << 0 << "home" << false;
    QTest::newRow("order, bus error") << order("SystemRestore") << true << BusError << "home" << true;
    QTest::newRow("order, no service") << order("SystemBackup") << false << 0 << "home" << true;
    QTest::newRow("no order, no service") << QString() << false << 0 << "home" << true;
    QTest::newRow("order accepted") << order("ManualRestore") << true << 0 << "progress" << false;
    QTest::newRow("order refused") << order("SystemRestore") << true << -1 << "failure" << false;
}

void TestNeverStranded::firstPage()
{
    QFETCH(QString, recoveryInfo);
    QFETCH(bool, serviceUp);
    QFETCH(int, answer);
    QFETCH(QString, page);
    QFETCH(bool, notice);

    if (!serviceUp) {
        m_service->stop();
    }
    m_service->setAnswer("RestoreByTask", answer);
    const auto window = openWindow(recoveryInfo);
    RecoveryModule* module = window->recoveryModule();
    QVERIFY(window->topWidget() != nullptr);
    QWidget* expected = page == "home" ? static_cast<QWidget*>(module->homePage())
                                       : (page == "progress" ? static_cast<QWidget*>(module->workingPage())
                                                             : static_cast<QWidget*>(module->endPage()));
    QCOMPARE(window->topWidget(), expected);
    QCOMPARE(window->pageCount(), 1);
    if (page == "failure") {
        QCOMPARE(module->endPage()->state(), int(EndPage::Failure));
    }
    QPushButton* retry = retryButton(window.get());
    QVERIFY(retry != nullptr);
    QCOMPARE(retry->isVisible(), notice);
    QCOMPARE(module->homePage()->errorLabel()->isVisible(), notice);
    if (notice) {
        QCOMPARE(module->homePage()->errorLabel()->text(), Unreachable);
    }
}

void TestNeverStranded::tryAgainStartsTheOrder()
{
    m_service->stop();
    const auto window = openWindow(order("SystemRestore"));
    RecoveryModule* module = window->recoveryModule();
    QCOMPARE(window->topWidget(), module->homePage());
    QPushButton* retry = retryButton(window.get());
    QVERIFY(retry != nullptr && retry->isVisible());
    // Still gone: the notice stays.
    QTest::mouseClick(retry, Qt::LeftButton);
    QVERIFY(retry->isVisible());
    QCOMPARE(window->topWidget(), module->homePage());

    QVERIFY(m_service->start());
    QTest::mouseClick(retry, Qt::LeftButton);
    QCOMPARE(window->topWidget(), module->workingPage());
    QCOMPARE(m_service->requests("RestoreByTask").size(), 1);
    QVERIFY(!retry->isVisibleTo(module->homePage()));
}

void TestNeverStranded::failedRepairRequest_data()
{
    QTest::addColumn<int>("answer");

    QTest::newRow("refused") << 0;
    QTest::newRow("bus error") << BusError;
}

void TestNeverStranded::failedRepairRequest()
{
    QFETCH(int, answer);

    m_service->setAnswer("FixPartitionByFsck", answer);
    const auto window = openWindow();
    QVERIFY(openRepairPage(window.get()));
    RepairFileSystemWidget* page = window->recoveryModule()->repairFileSystemWidget();
    auto* repair = page->findChild<QAbstractButton*>("repair_btn_1");
    QVERIFY(repair != nullptr);
    const DialogAnswer confirm(1);
    QTest::mouseClick(repair, Qt::LeftButton);
    QCOMPARE(m_service->requests("FixPartitionByFsck").size(), 1);
    QVERIFY(!page->isRepairing());
    QCOMPARE(page->resultText(), QString("Repair failed, please try another repair method."));
    QVERIFY(page->backwardButton()->isEnabled());
    // The partition can be tried again.
    QVERIFY(page->findChild<QAbstractButton*>("repair_btn_1") != nullptr);
}

void TestNeverStranded::refusedTask_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("reason");

    QTest::newRow("factory reset, invalid caller") << "factory"
                                                   << "SystemRestore" << -100 << "Restore Failed"
                                                   << "Invalid Caller";
    QTest::newRow("factory reset, bus error") << "factory"
                                              << "SystemRestore" << BusError << "Restore Failed" << Unreachable;
    QTest::newRow("restore point, refused") << "restore point"
                                            << "ManualRestore" << -1 << "Restore Failed"
                                            << "Invalid Argument";
    QTest::newRow("backup files, bus error") << "backup files"
                                             << "ManualRestore" << BusError << "Restore Failed" << Unreachable;
    QTest::newRow("order on the restore page, refused") << "order"
                                                        << "RestoreByTask" << -1 << "Restore Failed"
                                                        << "Invalid Argument";
    QTest::newRow("order on the restore page, bus error")
        << "order"
        << "RestoreByTask" << BusError << "Restore Failed" << Unreachable;
    QTest::newRow("backup at start-up, invalid caller") << "start-up backup"
                                                        << "SystemBackup" << -100 << "Backup Failed"
                                                        << "Invalid Caller";
    QTest::newRow("manual backup at start-up, refused") << "start-up manual backup"
                                                        << "ManualBackup" << -1 << "Backup Failed"
                                                        << "Invalid Argument";
}

void TestNeverStranded::refusedTask()
{
    QFETCH(QString, choice);
    QFETCH(QString, method);
    QFETCH(int, answer);
    QFETCH(QString, title);
    QFETCH(QString, reason);

    m_service->setAnswer(method, answer);
    QTemporaryDir backupDir;
    QFile image(backupDir.filePath("system.rbk"));
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.close();

    // Answers the factory reset's confirmation, which opens only once the queued click is handled.
    const DialogAnswer confirm(1);
    std::unique_ptr<MainWindow> window;
    if (choice.startsWith("start-up")) {
        window = openWindow(order(choice.endsWith("manual backup") ? "ManualBackup" : "SystemBackup"));
    } else {
        window = openWindow();
        QVERIFY(openRestorePage(window.get(), choice == "order" ? order("SystemRestore") : QString()));
        RestorePage* page = window->recoveryModule()->systemRestoreWidget()->restorePage();
        if (choice == "factory") {
            page->factoryItem()->radioButton()->click();
        } else if (choice == "restore point") {
            page->restorePointItem()->radioButton()->click();
            BaseTableView* table = page->tableView();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                              table->visualRect(page->model()->index(0, 0)).center());
        } else if (choice == "backup files") {
            page->backupFilesItem()->radioButton()->click();
            page->fileChooser()->setText(backupDir.path());
        }
        if (choice != "order") {
            QVERIFY(page->restoreButton()->isEnabled());
            QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
        }
    }
    RecoveryModule* module = window->recoveryModule();
    QTRY_VERIFY_WITH_TIMEOUT(!m_service->requests(method).isEmpty(), AnswerTimeout);
    QTRY_VERIFY(module->endPage() != nullptr && window->topWidget() == module->endPage());
    QCOMPARE(module->endPage()->state(), int(EndPage::Failure));
    QCOMPARE(module->endPage()->title(), title);
    QVERIFY2(module->endPage()->message().endsWith(reason), qPrintable(module->endPage()->message()));
    QCOMPARE(module->lastOpType(), 0);
    QCOMPARE(window->pageCount(), 1);
}

void TestNeverStranded::slowStart_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("title");

    QTest::newRow("factory reset, success") << "factory"
                                            << "SystemRestore"
                                            << "Success"
                                            << "Restore Successful";
    QTest::newRow("backup files, error") << "backup files"
                                         << "ManualRestore"
                                         << "Error"
                                         << "Restore Failed";
    QTest::newRow("restore point, service leaves") << "restore point"
                                                   << "ManualRestore"
                                                   << "gone"
                                                   << "Restore Failed";
    QTest::newRow("ordered restore, success") << "SystemRestore"
                                              << "RestoreByTask"
                                              << "Success"
                                              << "Restore Successful";
    QTest::newRow("ordered backup, service leaves") << "SystemBackup"
                                                    << "SystemBackup"
                                                    << "gone"
                                                    << "Backup Failed";
    QTest::newRow("ordered manual backup, success") << "ManualBackup"
                                                    << "ManualBackup"
                                                    << "Success"
                                                    << "Backup Successful";
}

// The service answers only after the window's call time-out: the window keeps the progress page and takes the
// outcome when it comes; only the service leaving the bus without one is a failure.
void TestNeverStranded::slowStart()
{
    QFETCH(QString, choice);
    QFETCH(QString, method);
    QFETCH(QString, outcome);
    QFETCH(QString, title);

    m_service->holdAnswers(method);
    const auto window = openWindow();
    RecoveryModule* module = window->recoveryModule();
    module->setCallTimeout(ShortCallTimeout);
    if (choice == "factory") {
        module->onSystemRestoreClicked(false);
    } else if (choice == "backup files") {
        module->onCustomRestoreClicked("/backups/files");
    } else if (choice == "restore point") {
        module->onManualRestoreClicked("/backups/restore-point-1", "data-uuid");
    } else {
        module->onRecoveryTriggered(order(choice));
    }
    QCOMPARE(m_service->requests(method).size(), 1);
    const QString id = m_service->lastOperateID(method);
    QCOMPARE(module->lastOperateID(), id);
    QCOMPARE(window->topWidget(), module->workingPage());
    // The late answer, then progress, which comes after it: the page follows the task, no failure shown.
    QCOMPARE(m_service->releaseHeld(), 1);
    const int opType = module->lastOpType();
    m_service->send("ReportProgress", FakeRecoveryService::response(opType, id, {{"progress", 30}}));
    QTRY_COMPARE_WITH_TIMEOUT(module->workingPage()->progressValue(), 30, AnswerTimeout);
    QCOMPARE(window->topWidget(), module->workingPage());
    QVERIFY(module->endPage() == nullptr);

    if (outcome == "gone") {
        m_service->stop();
    } else {
        m_service->send(outcome, FakeRecoveryService::response(opType, id, {{"errMsg", "the disk is on fire"}}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(module->endPage() != nullptr && window->topWidget() == module->endPage(), AnswerTimeout);
    QCOMPARE(module->endPage()->title(), title);
    QCOMPARE(module->endPage()->state(), int(outcome == "Success" ? EndPage::Success : EndPage::Failure));
    const QString reason = outcome == "gone" ? "The recovery service stopped before the task finished."
                                             : (outcome == "Error" ? "the disk is on fire" : QString());
    QVERIFY2(module->endPage()->message().endsWith(reason), qPrintable(module->endPage()->message()));
    QCOMPARE(module->lastOpType(), 0);
}

void TestNeverStranded::unrecordedRestore_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");

    QTest::newRow("factory reset, continue") << "factory"
                                             << "SystemRestore" << 1 << true;
    QTest::newRow("factory reset, cancel") << "factory"
                                           << "SystemRestore" << 0 << true;
    QTest::newRow("restore point, cancel") << "restore point"
                                           << "ManualRestore" << 0 << true;
    QTest::newRow("backup files, continue") << "backup files"
                                            << "ManualRestore" << 1 << true;
    QTest::newRow("order on the restore page, cancel") << "order"
                                                       << "RestoreByTask" << 0 << true;
    QTest::newRow("order at start-up, cancel") << "start-up SystemRestore"
                                               << "RestoreByTask" << 0 << true;
    QTest::newRow("backup at start-up, not asked") << "start-up SystemBackup"
                                                   << "SystemBackup" << 1 << false;
}

// A recovery partition that cannot take the record of a restore: the person is told before anything is sent, and
// may go on or not.
void TestNeverStranded::unrecordedRestore()
{
    QFETCH(QString, choice);
    QFETCH(QString, method);
    QFETCH(int, answer);
    QFETCH(bool, asked);

    QStringList checked;
    RecoveryModule::setRestoreRecordCheck([&checked](const QString& recoveryUUID, const QString&) {
        checked.append(recoveryUUID);
        return false;
    });
    const DialogAnswer dialog(answer);
    std::unique_ptr<MainWindow> window;
    if (choice.startsWith("start-up")) {
        window = openWindow(order(choice.section(' ', 1)));
    } else {
        window = openWindow();
        QVERIFY(openRestorePage(window.get(), choice == "order" ? order("SystemRestore") : QString()));
    }
    RecoveryModule* module = window->recoveryModule();
    if (choice == "factory") {
        module->onSystemRestoreClicked(true);
    } else if (choice == "restore point") {
        module->onManualRestoreClicked("/backups/restore-point-1", "data-uuid");
    } else if (choice == "backup files") {
        module->onCustomRestoreClicked("/backups/files");
    }
    QCOMPARE(dialog.count(), asked ? 1 : 0);
    QCOMPARE(m_service->requests(method).size(), answer);
    if (!asked) {
        return;
    }
    QCOMPARE(dialog.title(), QString("The Restore Cannot Be Resumed"));
    QCOMPARE(dialog.buttons(), QStringList({"Cancel", "Continue"}));
    // The service's answer on the restore page says where the record goes.
    QCOMPARE(checked, QStringList{choice.startsWith("start-up") ? QString() : QString("rec-uuid")});
    // Without a pending order the restore page stays for another choice; with one, the home page.
    const bool ordered = choice.startsWith("start-up") || choice == "order";
    QWidget* expected = answer == 1 ? static_cast<QWidget*>(module->workingPage())
                                    : (ordered ? static_cast<QWidget*>(module->homePage())
                                               : static_cast<QWidget*>(module->systemRestoreWidget()));
    QCOMPARE(window->topWidget(), expected);
}

void TestNeverStranded::screenshots_data()
{
    QTest::addColumn<QString>("language");

    QTest::newRow("en") << "en";
    QTest::newRow("de") << "de";
}

void TestNeverStranded::screenshots()
{
    QFETCH(QString, language);
    if (qEnvironmentVariableIsEmpty("SCREENSHOT_DIR")) {
        QSKIP("SCREENSHOT_DIR not set");
    }
    QTranslator translator;
    if (language != "en") {
        QVERIFY(translator.load(MARLIN_LIVE_QM_DIR "/marlin-recovery-live_" + language + ".qm"));
        QCoreApplication::installTranslator(&translator);
    }
    const QString suffix = "-" + language;
    {
        m_service->stop();
        const auto window = openWindow();
        QVERIFY(GuiTest::saveScreenshot(window.get(), "home-service-unreachable" + suffix));
        QVERIFY(m_service->start());
    }
    {
        m_service->setAnswer("SystemRestore", -100);
        const auto window = openWindow();
        QVERIFY(openRestorePage(window.get()));
        const DialogAnswer confirm(1);
        QTest::mouseClick(window->recoveryModule()->systemRestoreWidget()->restorePage()->restoreButton(),
                          Qt::LeftButton);
        QTRY_VERIFY(window->recoveryModule()->endPage() != nullptr &&
                    window->topWidget() == window->recoveryModule()->endPage());
        QVERIFY(GuiTest::saveScreenshot(window.get(), "refused-task" + suffix));
    }
    {
        RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return false; });
        const auto window = openWindow();
        QVERIFY(openRestorePage(window.get()));
        bool saved = false;
        const DialogAnswer cancel(0, [&](TDialog* dialog) {
            saved = GuiTest::saveScreenshot(window.get(), "restore-cannot-be-resumed" + suffix, dialog);
        });
        window->recoveryModule()->onSystemRestoreClicked(false);
        QVERIFY(saved);
        RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
    }
    {
        m_service->setAnswer("FixPartitionByFsck", BusError);
        const auto window = openWindow();
        QVERIFY(openRepairPage(window.get()));
        const DialogAnswer confirm(1);
        QTest::mouseClick(
            window->recoveryModule()->repairFileSystemWidget()->findChild<QAbstractButton*>("repair_btn_1"),
            Qt::LeftButton);
        QVERIFY(GuiTest::saveScreenshot(window.get(), "repair-request-failed" + suffix));
    }
    {
        const auto window = openWindow(order("SystemRestore"));
        RecoveryModule* module = window->recoveryModule();
        WorkingPage* page = module->workingPage();
        QVERIFY(page != nullptr);
        qint64 now = 0;
        page->setClock([&now] { return now; });
        const QString id = m_service->lastOperateID("RestoreByTask");
        for (int percent = 0; percent <= 45; percent += 5) {
            now = percent * 4000;
            module->onReportProgress(FakeRecoveryService::response(1, id, {{"progress", percent}}));
        }
        QVERIFY(!page->timeLeftText().isEmpty());
        QVERIFY(GuiTest::saveScreenshot(window.get(), "progress-time-left" + suffix));
    }
    QCoreApplication::removeTranslator(&translator);
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setStyle("glaze");
    TestNeverStranded test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_neverstranded.moc"
