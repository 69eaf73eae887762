// Drives the real window, home page and controller in-process. A stand-in service on a private bus accepts every
// request; the service's answers are fed to the controller's slots as JSON texts.

#include "FakeRecoveryService.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "Startup.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/EndPage.h"
#include "widgets/ItemFrame.h"
#include "widgets/WorkingPage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TLabel.h>
#include <tessel/widgets/TListView.h>
#include <tessel/widgets/TSpinner.h>

#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <memory>

using namespace Tessel::Widgets;
using GuiTest::saveScreenshot;

namespace {

const QString ForeignID = "{00000000-0000-0000-0000-000000000000}";

QString response(int opType, const QString& operateID, const QJsonObject& extra = QJsonObject())
{
    QJsonObject obj = extra;
    obj.insert("operateID", operateID);
    obj.insert("userName", "live@user");
    obj.insert("opType", opType);
    if (!obj.contains("retCode")) {
        obj.insert("retCode", 0);
    }
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Indented));
}

QString order(const QString& type)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"type", type}, {"tasks", QJsonArray()}}).toJson());
}

} // namespace

class TestRecoveryGui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pageStack_data();
    void pageStack();

    void homeTiles_data();
    void homeTiles();
    void homeBusyAndErrorLine();
    void exitConfirmation_data();
    void exitConfirmation();

    void recoveryTriggered_data();
    void recoveryTriggered();
    void successDispatch_data();
    void successDispatch();
    void errorDispatch_data();
    void errorDispatch();
    void reportProgress_data();
    void reportProgress();
    void staleAnswerIsIgnored();
    void timeLeft_data();
    void timeLeft();
    void endPageMessageSize_data();
    void endPageMessageSize();
    void pageReply_data();
    void pageReply();
    void pageRequestOverDeadBus();
    void autoReboot_data();
    void autoReboot();
    void endPageFollowsOutcome_data();
    void endPageFollowsOutcome();

    void pathBelow_data();
    void pathBelow();
    void qtSpeaksTheLanguage_data();
    void qtSpeaksTheLanguage();
    void windowSize_data();
    void windowSize();

    void screenshots();

private:
    // Sends a pending-order request the stand-in accepts, so the controller remembers its opType and operateID.
    QString rememberRequest(const QString& type);

    PrivateBus m_bus;
    std::unique_ptr<FakeRecoveryService> m_service;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ComMarlinDaemonRecoveryInterface> m_proxy;
    std::unique_ptr<RecoveryModule> m_module;
};

void TestRecoveryGui::initTestCase()
{
    QVERIFY2(m_bus.start(), "no private bus (dbus-daemon)");
    // No recovery partition here: the record of a restore counts as writable.
    RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
}

void TestRecoveryGui::init()
{
    m_service = std::make_unique<FakeRecoveryService>();
    QVERIFY(m_service->start());
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    cmdLine.bootFrom = "live-grub";
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    // The window's own module is replaced by ours, which is the one on screen.
    m_window->initAllModule();
    m_proxy = std::make_unique<ComMarlinDaemonRecoveryInterface>("com.marlin.recovery", "/com/marlin/recovery",
                                                                 QDBusConnection::systemBus());
    m_module = std::make_unique<RecoveryModule>(m_window.get(), m_proxy.get());
    m_module->initialize();
    m_module->active();
    m_window->setFixedSize(860, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestRecoveryGui::cleanup()
{
    m_window->popAllWidgets();
    m_module.reset();
    m_proxy.reset();
    m_window.reset();
    m_service.reset();
}

QString TestRecoveryGui::rememberRequest(const QString& type)
{
    m_module->onRecoveryTriggered(order(type));
    const QString id = m_module->lastOperateID();
    // Back to the home page, so each test sees which page the answer brings up.
    m_module->active();
    return id;
}

// Ops: "show N", "push N", "pop", "popAll", "back", "first"; page 9 describes itself as a result page.
void TestRecoveryGui::pageStack_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("top");
    QTest::addColumn<bool>("backVisible");
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("one page") << QStringList{"show 0"} << 1 << 0 << false << QList<int>{0};
    QTest::newRow("two pages") << QStringList{"show 0", "show 1"} << 2 << 1 << true << QList<int>{1};
    QTest::newRow("back on one page") << QStringList{"show 0", "back"} << 1 << 0 << false << QList<int>{0};
    QTest::newRow("back from second") << QStringList{"show 0", "show 1", "back"} << 1 << 0 << false << QList<int>{0};
    QTest::newRow("back from third") << QStringList{"show 0", "show 1", "show 2", "back"} << 2 << 1 << true
                                     << QList<int>{1};
    QTest::newRow("back from result") << QStringList{"show 0", "show 1", "show 9", "back"} << 1 << 0 << false
                                      << QList<int>{0};
    QTest::newRow("pop all") << QStringList{"show 0", "show 1", "popAll"} << 0 << -1 << true << QList<int>{};
    QTest::newRow("push keeps page out") << QStringList{"show 0", "push 1"} << 2 << 1 << true << QList<int>{0};
    QTest::newRow("first page") << QStringList{"show 0", "show 1", "show 2", "first"} << 1 << 0 << false
                                << QList<int>{0};
    QTest::newRow("pop to one") << QStringList{"show 0", "show 1", "pop"} << 1 << 0 << false << QList<int>{};
    QTest::newRow("pop to two") << QStringList{"show 0", "show 1", "show 2", "pop"} << 2 << 1 << true << QList<int>{};
    QTest::newRow("pop empty") << QStringList{"show 0", "show 1", "popAll", "pop"} << 0 << -1 << false << QList<int>{};
}

void TestRecoveryGui::pageStack()
{
    QFETCH(QStringList, ops);
    QFETCH(int, count);
    QFETCH(int, top);
    QFETCH(bool, backVisible);
    QFETCH(QList<int>, shown);

    m_window->popAllWidgets();
    QList<QWidget*> pages;
    for (int i = 0; i < 10; ++i) {
        pages.append(new QWidget);
    }
    pages[9]->setAccessibleDescription("ResultWidget");
    for (const QString& op : ops) {
        const QStringList parts = op.split(' ');
        const int page = parts.size() > 1 ? parts[1].toInt() : -1;
        if (parts[0] == "show") {
            m_window->showWidget(m_module.get(), pages[page]);
        } else if (parts[0] == "push") {
            m_window->pushWidget(m_module.get(), pages[page]);
        } else if (parts[0] == "pop") {
            m_window->popWidget();
        } else if (parts[0] == "popAll") {
            m_window->popAllWidgets();
        } else if (parts[0] == "back") {
            m_window->back();
        } else if (parts[0] == "first") {
            m_window->backToFirstPage();
        }
    }
    QCOMPARE(m_window->pageCount(), count);
    QCOMPARE(m_window->topWidget(), top < 0 ? nullptr : pages[top]);
    QCOMPARE(m_window->backwardButton()->isVisible(), backVisible);
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(pages[i]->isVisible(), shown.contains(i));
    }
    m_window->popAllWidgets();
    qDeleteAll(pages);
}

void TestRecoveryGui::homeTiles_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<bool>>("checked");
    QTest::addColumn<bool>("nextEnabled");
    QTest::addColumn<int>("repairSignals");
    QTest::addColumn<int>("restoreSignals");

    QTest::newRow("nothing chosen") << QList<int>{} << QList<bool>{false, false} << false << 0 << 0;
    QTest::newRow("repair tools") << QList<int>{0} << QList<bool>{true, false} << true << 1 << 0;
    QTest::newRow("restore") << QList<int>{1} << QList<bool>{false, true} << true << 0 << 1;
    QTest::newRow("changed mind") << QList<int>{0, 1} << QList<bool>{false, true} << true << 0 << 1;
    QTest::newRow("same tile twice") << QList<int>{1, 1} << QList<bool>{false, true} << true << 0 << 1;
    QTest::newRow("back to repair") << QList<int>{1, 0} << QList<bool>{true, false} << true << 1 << 0;
}

void TestRecoveryGui::homeTiles()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QList<bool>, checked);
    QFETCH(bool, nextEnabled);
    QFETCH(int, repairSignals);
    QFETCH(int, restoreSignals);

    RecoveryPage* home = m_module->homePage();
    QCOMPARE(m_window->topWidget(), home);
    home->setErrorTip("old error", true);
    QSignalSpy repair(home, &RecoveryPage::notifyRepairFileSystem);
    QSignalSpy restore(home, &RecoveryPage::notifySystemRestore);
    for (int row : clicks) {
        QTest::mouseClick(home->tile(row), Qt::LeftButton);
    }
    for (int row = 0; row < checked.size(); ++row) {
        QCOMPARE(home->tile(row)->isChecked(), checked[row]);
    }
    QCOMPARE(home->nextButton()->isEnabled(), nextEnabled);
    // A chosen tile clears the error line; without a choice it stays.
    QCOMPARE(home->errorLabel()->isVisible(), clicks.isEmpty());
    // Next is pressed even while disabled, to prove it does nothing without a choice.
    home->onNextBtnClicked();
    QCOMPARE(repair.count(), repairSignals);
    QCOMPARE(restore.count(), restoreSignals);
}

void TestRecoveryGui::homeBusyAndErrorLine()
{
    RecoveryPage* home = m_module->homePage();
    QTest::mouseClick(home->tile(1), Qt::LeftButton);
    home->startBusy();
    QVERIFY(home->spinner()->isVisible());
    QVERIFY(home->spinner()->isPlaying());
    QVERIFY(!home->nextButton()->isEnabled());
    home->setErrorTip("Invalid Caller", true);
    home->stopBusy();
    QVERIFY(!home->spinner()->isVisible());
    QVERIFY(!home->spinner()->isPlaying());
    QVERIFY(home->nextButton()->isEnabled());
    QVERIFY(home->errorLabel()->isVisible());
    QCOMPARE(home->errorLabel()->text(), QString("Invalid Caller"));
    home->setErrorTip("ignored", false);
    QVERIFY(!home->errorLabel()->isVisible());
    QVERIFY(home->errorLabel()->text().isEmpty());
}

void TestRecoveryGui::exitConfirmation_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("cancel") << "cancel" << QStringList{};
    QTest::newRow("closed") << "close" << QStringList{};
    QTest::newRow("restart") << "restart" << QStringList{"sudo reboot -f"};
}

void TestRecoveryGui::exitConfirmation()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, calls);

    FakeTools tools({"sudo", "reboot", "poweroff"});
    RecoveryPage* home = m_module->homePage();
    QTest::mouseClick(home->tile(1), Qt::LeftButton);
    home->setErrorTip("kept", true);
    QString message;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        message = dialog->message();
        if (answer == "cancel") {
            dialog->getButton(0)->click();
        } else if (answer == "restart") {
            dialog->getButton(1)->click();
        } else {
            dialog->reject();
        }
    });
    QTest::mouseClick(home->closeButton(), Qt::LeftButton);
    QCOMPARE(message, QString("Are you sure you want to exit and reboot your computer?"));
    QCOMPARE(tools.calls(), calls);
    QCOMPARE(m_window->topWidget(), home);
    QVERIFY(home->tile(1)->isChecked());
    QCOMPARE(home->errorLabel()->text(), QString("kept"));
    QVERIFY(home->nextButton()->isEnabled());
}

void TestRecoveryGui::recoveryTriggered_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("opType");

    QTest::newRow("system restore") << order("SystemRestore") << 1;
    QTest::newRow("manual restore") << order("ManualRestore") << 2;
    QTest::newRow("manual backup") << order("ManualBackup") << 3;
    QTest::newRow("system backup") << order("SystemBackup") << 4;
    QTest::newRow("unknown type") << order("Reinstall") << 0;
    QTest::newRow("not json") << QString("SystemRestore") << 0;
    QTest::newRow("empty") << QString() << 0;
}

void TestRecoveryGui::recoveryTriggered()
{
    QFETCH(QString, text);
    QFETCH(int, opType);

    m_module->onRecoveryTriggered(text);
    QCOMPARE(m_module->lastOpType(), opType);
    QCOMPARE(m_module->lastOperateID().isEmpty(), opType == 0);
    // Accepted: the progress page; no order: the home page stays.
    QCOMPARE(m_window->topWidget(),
             opType == 0 ? static_cast<QWidget*>(m_module->homePage()) : m_module->workingPage());
}

void TestRecoveryGui::successDispatch_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("opType");
    QTest::addColumn<bool>("sameID");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("busyAfter");

    QTest::newRow("system restore") << "SystemRestore" << 1 << true << "Restore Successful" << true;
    QTest::newRow("manual restore") << "ManualRestore" << 2 << true << "Restore Successful" << true;
    QTest::newRow("restore by uuid") << "SystemRestore" << 5 << true << "Restore Successful" << true;
    QTest::newRow("manual backup") << "ManualBackup" << 3 << true << "Backup Successful" << true;
    QTest::newRow("system backup") << "SystemBackup" << 4 << true << "Backup Successful" << true;
    QTest::newRow("foreign restore") << "SystemRestore" << 1 << false << QString() << true;
    QTest::newRow("foreign backup") << "SystemBackup" << 4 << false << QString() << true;
    QTest::newRow("check list, no page") << "SystemRestore" << 7 << false << QString() << false;
    QTest::newRow("restore page") << "SystemRestore" << 8 << false << QString() << false;
    QTest::newRow("repair tool") << "SystemRestore" << 9 << false << QString() << false;
    QTest::newRow("fsck, no page") << "SystemRestore" << 6 << true << QString() << true;
    QTest::newRow("no opType") << "SystemRestore" << 0 << true << QString() << true;
    QTest::newRow("not json") << "SystemRestore" << -1 << true << QString() << true;
}

void TestRecoveryGui::successDispatch()
{
    QFETCH(QString, order);
    QFETCH(int, opType);
    QFETCH(bool, sameID);
    QFETCH(QString, title);
    QFETCH(bool, busyAfter);

    const QString id = rememberRequest(order);
    QVERIFY(!id.isEmpty());
    m_module->homePage()->startBusy();
    m_module->onSuccess(opType < 0 ? QString("Success!") : response(opType, sameID ? id : ForeignID));
    if (opType == 8) {
        // The restore page exists from the start and comes up with the information.
        QCOMPARE(m_window->topWidget(), m_module->systemRestoreWidget());
    } else if (title.isEmpty()) {
        QCOMPARE(m_window->topWidget(), m_module->homePage());
    } else {
        QCOMPARE(m_window->topWidget(), m_module->endPage());
        QCOMPARE(m_module->endPage()->title(), title);
        QCOMPARE(m_module->endPage()->actionButton()->text(), QString("Reboot Now"));
        QCOMPARE(m_module->endPage()->state(), int(EndPage::Success));
        QVERIFY(!m_window->backwardButton()->isVisible());
    }
    QCOMPARE(m_module->homePage()->spinner()->isPlaying(), busyAfter);
    QCOMPARE(m_module->lastOpType(), 0);
    QVERIFY(m_module->lastOperateID().isEmpty());
}

void TestRecoveryGui::errorDispatch_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("opType");
    QTest::addColumn<bool>("sameID");
    QTest::addColumn<QString>("errMsg");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("homeError");

    QTest::newRow("restore, known text") << "SystemRestore" << 1 << true << "Cannot find the target location"
                                         << "Wiederherstellung fehlgeschlagen"
                                         << "Wiederherstellung fehlgeschlagen, Fehler: Der Zielort wurde nicht gefunden"
                                         << QString();
    QTest::newRow("restore, known text naming a device")
        << "ManualRestore" << 2 << true
        << "The restore cannot write /dev/sda3: it is missing, in use or too small. Nothing was written."
        << "Wiederherstellung fehlgeschlagen"
        << "Wiederherstellung fehlgeschlagen, Fehler: Die Wiederherstellung kann /dev/sda3 nicht beschreiben: Es "
           "fehlt, "
           "wird verwendet oder ist zu klein. Es wurde nichts geschrieben."
        << QString();
    QTest::newRow("restore, other text") << "ManualRestore" << 2 << true << "disk vanished"
                                         << "Wiederherstellung fehlgeschlagen"
                                         << "Wiederherstellung fehlgeschlagen, Fehler: disk vanished" << QString();
    QTest::newRow("backup, known text")
        << "SystemBackup" << 4 << true << "Backup error, please try again"
        << "Sicherung fehlgeschlagen"
        << "Sicherung fehlgeschlagen, Fehler: Fehler bei der Sicherung, bitte versuchen Sie es erneut" << QString();
    QTest::newRow("backup, foreign id") << "ManualBackup" << 3 << false << "Backup error, please try again" << QString()
                                        << QString() << QString();
    QTest::newRow("repair tool keeps service text") << "SystemRestore" << 9 << false << "Failed to initialize the task"
                                                    << QString() << QString() << "Failed to initialize the task";
    QTest::newRow("restore page") << "SystemRestore" << 8 << false << "Failed to initialize the task" << QString()
                                  << QString() << QString();
}

void TestRecoveryGui::errorDispatch()
{
    QFETCH(QString, order);
    QFETCH(int, opType);
    QFETCH(bool, sameID);
    QFETCH(QString, errMsg);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(QString, homeError);

    QTranslator translator;
    QVERIFY(translator.load(MARLIN_LIVE_QM_DIR "/marlin-recovery-live_de.qm"));
    QCoreApplication::installTranslator(&translator);
    const QString id = rememberRequest(order);
    m_module->homePage()->startBusy();
    m_module->onError(response(opType, sameID ? id : ForeignID, {{"errMsg", errMsg}, {"retCode", -1}}));
    QCoreApplication::removeTranslator(&translator);

    if (title.isEmpty()) {
        QCOMPARE(m_window->topWidget(), m_module->homePage());
    } else {
        QCOMPARE(m_window->topWidget(), m_module->endPage());
        QCOMPARE(m_module->endPage()->title(), title);
        QCOMPARE(m_module->endPage()->message(), message);
        QCOMPARE(m_module->endPage()->actionButton()->text(), QString("Herunterfahren"));
        QCOMPARE(m_module->endPage()->iconPath(), QString(":/failed.svg"));
    }
    QCOMPARE(m_module->homePage()->errorLabel()->text(), homeError);
    QCOMPARE(m_module->homePage()->spinner()->isPlaying(), homeError.isEmpty());
    QCOMPARE(m_module->lastOpType(), 0);
}

void TestRecoveryGui::reportProgress_data()
{
    QTest::addColumn<int>("opType");
    QTest::addColumn<bool>("sameID");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");

    QTest::newRow("restore") << 1 << true << QString() << 50;
    QTest::newRow("manual restore by uuid") << 5 << true << QString() << 50;
    QTest::newRow("backup") << 4 << true << QString() << 50;
    QTest::newRow("fsck") << 6 << true << QString() << 0;
    QTest::newRow("repair tool") << 9 << true << QString() << 0;
    QTest::newRow("foreign id") << 1 << false << QString() << 0;
    QTest::newRow("not json") << 1 << true << QString("50%") << 0;
}

void TestRecoveryGui::reportProgress()
{
    QFETCH(int, opType);
    QFETCH(bool, sameID);
    QFETCH(QString, text);
    QFETCH(int, value);

    const QString id = rememberRequest("SystemRestore");
    // The page starts at 0 each time it is shown.
    m_module->onReportProgress(response(1, id, {{"progress", 30}}));
    m_module->showWorkingPage();
    QCOMPARE(m_module->workingPage()->progressValue(), 0);
    m_module->onReportProgress(text.isEmpty() ? response(opType, sameID ? id : ForeignID, {{"progress", 50}}) : text);
    QCOMPARE(m_module->workingPage()->progressValue(), value);
    QCOMPARE(m_module->lastOperateID(), id);
}

void TestRecoveryGui::timeLeft_data()
{
    // Reports as (seconds since the first, percent).
    QTest::addColumn<QList<QPoint>>("reports");
    QTest::addColumn<QString>("text");

    QList<QPoint> steady;
    for (int i = 0; i <= 10; ++i) {
        steady.append(QPoint(6 * i, i));
    }
    QList<QPoint> fast;
    for (int i = 0; i <= 10; ++i) {
        fast.append(QPoint(i, 5 * i));
    }
    QList<QPoint> burst;
    for (int i = 0; i <= 20; ++i) {
        burst.append(QPoint(6 * i, i));
    }
    burst.append(QPoint(126, 30));

    QTest::newRow("first report") << QList<QPoint>{{0, 3}} << QString();
    QTest::newRow("too early") << QList<QPoint>{{0, 0}, {5, 5}} << QString();
    QTest::newRow("too little progress") << QList<QPoint>{{0, 0}, {30, 1}} << QString();
    QTest::newRow("steady") << steady << "About 9 minutes left";
    QTest::newRow("fast") << fast << "Less than a minute left";
    QTest::newRow("one minute") << QList<QPoint>{{0, 0}, {60, 50}} << "About 1 minute left";
    QTest::newRow("hours") << QList<QPoint>{{0, 0}, {60, 1}, {120, 2}, {180, 3}} << "About 1 h 37 min left";
    // Unsmoothed, the last step alone would say 42 seconds.
    QTest::newRow("a burst does not jump") << burst << "About 4 minutes left";
    QTest::newRow("done") << QList<QPoint>{{0, 0}, {30, 50}, {60, 100}} << QString();
}

void TestRecoveryGui::timeLeft()
{
    QFETCH(QList<QPoint>, reports);
    QFETCH(QString, text);

    qint64 now = 0;
    const QString id = rememberRequest("SystemRestore");
    m_module->showWorkingPage();
    WorkingPage* page = m_module->workingPage();
    page->setClock([&now] { return now; });
    for (const QPoint& report : reports) {
        now = report.x() * 1000;
        m_module->onReportProgress(response(1, id, {{"progress", report.y()}}));
    }
    QCOMPARE(page->timeLeftText(), text);
    // The next task starts without an estimate.
    m_module->showWorkingPage();
    QVERIFY(page->timeLeftText().isEmpty());
}

void TestRecoveryGui::staleAnswerIsIgnored()
{
    const QString first = rememberRequest("SystemBackup");
    const QString second = rememberRequest("SystemBackup");
    QVERIFY(first != second);
    m_module->onSuccess(response(4, first));
    QCOMPARE(m_window->topWidget(), m_module->homePage());
    // The answer still ends the wait for the request.
    QCOMPARE(m_module->lastOpType(), 0);
}

void TestRecoveryGui::endPageMessageSize_data()
{
    QTest::addColumn<int>("pageWidth");
    QTest::addColumn<int>("labelWidth");

    QTest::newRow("window width") << 840 << 509;
    QTest::newRow("narrow") << 300 << 181;
}

void TestRecoveryGui::endPageMessageSize()
{
    QFETCH(int, pageWidth);
    QFETCH(int, labelWidth);

    EndPage page(EndPage::Failure);
    page.setMessage("Restore failed, error: There is something wrong with your initial backup file");
    page.resize(pageWidth, 500);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* label = page.findChild<QLabel*>("messageLabel");
    QVERIFY(label != nullptr);
    QCOMPARE(label->width(), labelWidth);
    QVERIFY(label->height() >= 100);
    QVERIFY(label->height() >= label->heightForWidth(labelWidth));
}

void TestRecoveryGui::pageReply_data()
{
    QTest::addColumn<bool>("dbusFailed");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("error");

    QTest::newRow("accepted") << false << 0 << QString();
    QTest::newRow("invalid caller") << false << -100 << "Invalid Caller";
    QTest::newRow("refused") << false << -1 << "Invalid Argument";
    QTest::newRow("other code") << false << 3 << "Invalid Argument";
    QTest::newRow("bus failure") << true << 0 << "DBus error, please try again";
}

void TestRecoveryGui::pageReply()
{
    QFETCH(bool, dbusFailed);
    QFETCH(int, code);
    QFETCH(QString, error);

    RecoveryPage* home = m_module->homePage();
    home->startBusy();
    m_module->judgePageReply(dbusFailed, code, "no such name", "onSystemRestore, error: ");
    QCOMPARE(home->errorLabel()->text(), error);
    QCOMPARE(home->errorLabel()->isVisibleTo(home), !error.isEmpty());
    // Accepted: the answer comes later as a signal, so the page stays busy.
    QCOMPARE(home->spinner()->isPlaying(), error.isEmpty());
}

void TestRecoveryGui::pageRequestOverDeadBus()
{
    m_service->setAnswer("InitLiveRestorePage", FakeRecoveryObject::DBusError);
    RecoveryPage* home = m_module->homePage();
    QTest::mouseClick(home->tile(1), Qt::LeftButton);
    QTest::mouseClick(home->nextButton(), Qt::LeftButton);
    QCOMPARE(m_module->lastOpType(), 8);
    QCOMPARE(home->errorLabel()->text(), QString("DBus error, please try again"));
    QVERIFY(!home->spinner()->isPlaying());
    QVERIFY(home->nextButton()->isEnabled());
    QCOMPARE(m_window->topWidget(), home);
}

void TestRecoveryGui::autoReboot_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("autoReboot");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("success, stay") << true << false << QStringList{};
    QTest::newRow("success, reboot") << true << true << QStringList{"sudo reboot -f"};
    QTest::newRow("failure, stay") << false << false << QStringList{};
    QTest::newRow("failure, reboot") << false << true << QStringList{"sudo reboot -f"};
}

void TestRecoveryGui::autoReboot()
{
    QFETCH(bool, success);
    QFETCH(bool, autoReboot);
    QFETCH(QStringList, calls);

    FakeTools tools({"sudo", "reboot", "poweroff"});
    const QString id = rememberRequest("SystemBackup");
    const QString text = response(4, id, {{"autoReboot", autoReboot}, {"errMsg", "x"}});
    if (success) {
        m_module->onSuccess(text);
    } else {
        m_module->onError(text);
    }
    QCOMPARE(tools.calls(), calls);
    // The outcome is on screen before the machine goes down.
    QCOMPARE(m_window->topWidget(), m_module->endPage());
    QCOMPARE(m_module->endPage()->title(), QString(success ? "Backup Successful" : "Backup Failed"));
}

void TestRecoveryGui::endPageFollowsOutcome_data()
{
    QTest::addColumn<QList<bool>>("outcomes");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("call");

    QTest::newRow("success") << QList<bool>{true} << ":/success.svg"
                             << "Reboot Now"
                             << "sudo reboot -f";
    QTest::newRow("failure") << QList<bool>{false} << ":/failed.svg"
                             << "Shut Down"
                             << "sudo poweroff";
    QTest::newRow("failure after success") << QList<bool>{true, false} << ":/failed.svg"
                                           << "Shut Down"
                                           << "sudo poweroff";
    QTest::newRow("success after failure") << QList<bool>{false, true} << ":/success.svg"
                                           << "Reboot Now"
                                           << "sudo reboot -f";
}

void TestRecoveryGui::endPageFollowsOutcome()
{
    QFETCH(QList<bool>, outcomes);
    QFETCH(QString, icon);
    QFETCH(QString, button);
    QFETCH(QString, call);

    FakeTools tools({"sudo", "reboot", "poweroff"});
    for (bool success : outcomes) {
        const QString text = response(1, rememberRequest("SystemRestore"), {{"errMsg", "x"}});
        if (success) {
            m_module->onSuccess(text);
        } else {
            m_module->onError(text);
        }
    }
    EndPage* page = m_module->endPage();
    QCOMPARE(m_window->topWidget(), page);
    QCOMPARE(page->iconPath(), icon);
    QCOMPARE(page->actionButton()->text(), button);
    QTest::mouseClick(page->actionButton(), Qt::LeftButton);
    QCOMPARE(tools.calls(), QStringList{call});
}

void TestRecoveryGui::pathBelow_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "/media/root"
                           << "/media/root/.flag.d/autoRepair.flag";
    QTest::newRow("trailing slash") << "/media/root/"
                                    << "/media/root/.flag.d/autoRepair.flag";
    QTest::newRow("root") << "/"
                          << "/.flag.d/autoRepair.flag";
}

void TestRecoveryGui::pathBelow()
{
    QFETCH(QString, root);
    QFETCH(QString, expected);
    QCOMPARE(Startup::pathBelow(root, "/.flag.d/autoRepair.flag"), expected);
}

void TestRecoveryGui::qtSpeaksTheLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("cancel");
    QTest::addColumn<QString>("lookIn");

    QTest::newRow("de_DE") << "de_DE"
                           << "Abbrechen"
                           << "Suchen in:";
    QTest::newRow("zh_CN") << "zh_CN"
                           << "取消"
                           << "查找范围：";
}

// The file dialog and the standard buttons come from Qt itself: its catalogue is loaded beside ours.
void TestRecoveryGui::qtSpeaksTheLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, cancel);
    QFETCH(QString, lookIn);

    QTranslator translator;
    QVERIFY(Startup::installQtTranslation(translator, locale));
    const QString buttonText = QCoreApplication::translate("QPlatformTheme", "Cancel");
    const QString dialogText = QCoreApplication::translate("QFileDialog", "Look in:");
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(buttonText, cancel);
    QCOMPARE(dialogText, lookIn);
}

void TestRecoveryGui::windowSize_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("fixed");

    QTest::newRow("exact") << QSize(860, 640) << true;
    QTest::newRow("large") << QSize(1920, 1080) << true;
    QTest::newRow("narrow") << QSize(859, 1080) << false;
    QTest::newRow("low") << QSize(1920, 639) << false;
}

void TestRecoveryGui::windowSize()
{
    QFETCH(QSize, screen);
    QFETCH(bool, fixed);
    QCOMPARE(Startup::fitsFixedSize(screen), fixed);
}

void TestRecoveryGui::screenshots()
{
    if (qEnvironmentVariableIsEmpty("SCREENSHOT_DIR")) {
        QSKIP("SCREENSHOT_DIR not set");
    }
    RecoveryPage* home = m_module->homePage();
    QVERIFY(saveScreenshot(m_window.get(), "home"));
    QTest::mouseClick(home->tile(1), Qt::LeftButton);
    home->startBusy();
    QVERIFY(saveScreenshot(m_window.get(), "home-busy"));
    m_module->judgePageReply(false, -100, QString(), QString());
    QVERIFY(saveScreenshot(m_window.get(), "home-error"));

    const QString id = rememberRequest("SystemRestore");
    m_module->showWorkingPage();
    m_module->workingPage()->setTip("Do not power off or unplug your machine");
    QVERIFY(saveScreenshot(m_window.get(), "progress-0"));
    m_module->onReportProgress(response(1, id, {{"progress", 50}}));
    QVERIFY(saveScreenshot(m_window.get(), "progress-50"));
    m_module->onSuccess(response(1, id));
    QVERIFY(saveScreenshot(m_window.get(), "success"));
    m_module->onError(response(1, rememberRequest("SystemRestore"),
                               {{"errMsg", "There is something wrong with your initial backup file"}}));
    QVERIFY(saveScreenshot(m_window.get(), "failure"));
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setStyle("glaze");
    TestRecoveryGui test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recoverygui.moc"
