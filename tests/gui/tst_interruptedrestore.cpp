// The page shown at start-up when the last restore was cut off: what it says about the restore, and that "Restore
// Again" repeats exactly that restore (through its confirmation) while "Other Options" leads home. A stand-in
// service on a private bus takes the requests.

#include "DialogAnswer.h"
#include "FakeRecoveryService.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "widgets/InterruptedRestorePage.h"
#include "widgets/WorkingPage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TDialog.h>

#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <memory>

namespace {

QJsonObject mark(const QString& method, const QJsonObject& request)
{
    return QJsonObject{{"method", method},
                       {"request", request},
                       {"started", "2026-03-01T08:30:00Z"},
                       {"backupTime", "2026-02-14T19:05:00Z"},
                       {"targets", QJsonArray{"/dev/sda3"}}};
}

QString orderText(const QString& type, const QStringList& commands)
{
    QJsonArray tasks;
    for (const QString& command : commands) {
        tasks.append(QJsonObject{{"command", command}, {"args", QJsonArray()}});
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"type", type}, {"tasks", tasks}}).toJson());
}

QString text(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson());
}

} // namespace

class TestInterruptedRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void describe_data();
    void describe();
    void restoreAgain_data();
    void restoreAgain();
    void otherOptionsLeadsHome();
    void startupPage_data();
    void startupPage();
    void screenshots();

private:
    PrivateBus m_bus;
    std::unique_ptr<FakeRecoveryService> m_service;
    std::unique_ptr<MainWindow> m_window;
    RecoveryModule* m_module = nullptr;
};

void TestInterruptedRestore::initTestCase()
{
    QVERIFY2(m_bus.start(), "no private bus (dbus-daemon)");
    // No recovery partition here: the record of a restore counts as writable.
    RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
}

void TestInterruptedRestore::init()
{
    m_service = std::make_unique<FakeRecoveryService>();
    QVERIFY(m_service->start());
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    cmdLine.bootFrom = "live-grub";
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    m_window->initAllModule();
    m_module = m_window->recoveryModule();
    m_window->setFixedSize(860, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestInterruptedRestore::cleanup()
{
    m_window->popAllWidgets();
    m_window.reset();
    m_service.reset();
}

void TestInterruptedRestore::describe_data()
{
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QString>("expected");

    QTest::newRow("keeping personal files") << mark("SystemRestore", {{"opType", 1}, {"formatData", false}})
                                            << "Reset to factory settings, keeping personal files";
    QTest::newRow("factory reset") << mark("SystemRestore", {{"opType", 1}, {"formatData", true}})
                                   << "Reset to factory settings";
    QJsonObject undated = mark("ManualRestore", {{"opType", 2}, {"backupDir", "/media/b/backups/1"}});
    undated.remove("backupTime");
    QTest::newRow("backup without a date") << undated << "Restore from a backup";
    QTest::newRow("ordered reset") << mark("RestoreByTask",
                                           {{"opType", 1},
                                            {"recoveryInfo", orderText("SystemRestore", {"refresh-data-partition"})}})
                                   << "Reset to factory settings";
    QTest::newRow("ordered restore keeping files")
        << mark("RestoreByTask", {{"opType", 1}, {"recoveryInfo", orderText("SystemRestore", {})}})
        << "Reset to factory settings, keeping personal files";
}

void TestInterruptedRestore::describe()
{
    QFETCH(QJsonObject, record);
    QFETCH(QString, expected);
    QCOMPARE(InterruptedRestorePage::describe(record), expected);
}

void TestInterruptedRestore::restoreAgain_data()
{
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonObject>("sent");

    const QJsonObject keep = mark("SystemRestore", {{"opType", 1}, {"formatData", false}});
    QTest::newRow("reset confirmed") << keep << 1
                                     << "The initial backup will be written onto your system's partitions again. "
                                        "Your personal files are kept.\nPartitions it writes: /dev/sda3"
                                     << "SystemRestore" << QJsonObject{{"opType", 1}, {"formatData", false}};
    QTest::newRow("reset cancelled sends nothing")
        << keep << 0 << "Your personal files are kept." << QString() << QJsonObject();
    QTest::newRow("reset clearing files") << mark("SystemRestore", {{"opType", 1}, {"formatData", true}}) << 1
                                          << "the personal files of all users on this device will be cleared"
                                          << "SystemRestore" << QJsonObject{{"opType", 1}, {"formatData", true}};
    QTest::newRow("backup directory") << mark("ManualRestore", {{"opType", 2}, {"backupDir", "/media/b/x"}}) << 1
                                      << "The backup in /media/b/x will be written"
                                      << "ManualRestore" << QJsonObject{{"opType", 2}, {"backupDir", "/media/b/x"}};
    const QJsonObject point =
        mark("ManualRestore", {{"opType", 5}, {"backupDir", "/media/b/x"}, {"backupUUID", "1234"}});
    QTest::newRow("restore point") << point << 1 << "The backup in /media/b/x will be written"
                                   << "ManualRestore"
                                   << QJsonObject{{"opType", 5}, {"backupDir", "/media/b/x"}, {"backupUUID", "1234"}};
    QTest::newRow("restore point cancelled") << point << 0 << "/media/b/x" << QString() << QJsonObject();
    const QString order = orderText("ManualRestore", {"restore-partitions"});
    QTest::newRow("pending order") << mark("RestoreByTask", {{"opType", 2}, {"recoveryInfo", order}}) << 1
                                   << "The backup will be written"
                                   << "RestoreByTask" << QJsonObject{{"opType", 2}, {"recoveryInfo", order}};
    const QString reset = orderText("SystemRestore", {"refresh-data-partition"});
    QTest::newRow("ordered reset") << mark("RestoreByTask", {{"opType", 1}, {"recoveryInfo", reset}}) << 1
                                   << "will be cleared"
                                   << "RestoreByTask" << QJsonObject{{"opType", 1}, {"recoveryInfo", reset}};
}

// Every kind asks first, saying what it writes; only a confirmed one is sent.
void TestInterruptedRestore::restoreAgain()
{
    QFETCH(QJsonObject, record);
    QFETCH(int, answer);
    QFETCH(QString, says);
    QFETCH(QString, method);
    QFETCH(QJsonObject, sent);

    m_module->showInterruptedRestore(text(record));
    InterruptedRestorePage* page = m_module->interruptedRestorePage();
    QVERIFY(page != nullptr);
    QCOMPARE(m_window->topWidget(), page);
    const DialogAnswer dialog(answer);
    QTest::mouseClick(page->restoreAgainButton(), Qt::LeftButton);
    QCOMPARE(dialog.count(), 1);
    QCOMPARE(dialog.title(), QString("Restore Again"));
    QVERIFY2(dialog.message().contains(says), qPrintable(dialog.message()));
    QCOMPARE(dialog.buttons(), QStringList({"Cancel", "Restore Again"}));
    int requests = 0;
    for (const QString& name : {QString("SystemRestore"), QString("ManualRestore"), QString("RestoreByTask")}) {
        requests += m_service->requests(name).size();
    }
    QCOMPARE(requests, method.isEmpty() ? 0 : 1);
    if (method.isEmpty()) {
        QCOMPARE(m_window->topWidget(), page);
        return;
    }
    const QJsonObject request = QJsonDocument::fromJson(m_service->requests(method).constFirst().toUtf8()).object();
    for (auto it = sent.constBegin(); it != sent.constEnd(); ++it) {
        QCOMPARE(request.value(it.key()), it.value());
    }
    QCOMPARE(m_window->topWidget(), m_module->workingPage());
}

void TestInterruptedRestore::otherOptionsLeadsHome()
{
    m_module->showInterruptedRestore(text(mark("SystemRestore", {{"opType", 1}})));
    QTest::mouseClick(m_module->interruptedRestorePage()->otherOptionsButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_module->homePage());
    QVERIFY(m_service->requests("SystemRestore").isEmpty());
}

void TestInterruptedRestore::startupPage_data()
{
    QTest::addColumn<QString>("pendingOrder");
    QTest::addColumn<bool>("pageShown");
    QTest::newRow("no pending order") << QString() << true;
    QTest::newRow("a pending order comes first") << orderText("SystemRestore", {}) << false;
}

void TestInterruptedRestore::startupPage()
{
    QFETCH(QString, pendingOrder);
    QFETCH(bool, pageShown);
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    MainWindow window(cmdLine, false, pendingOrder);
    window.setInterruptedRestore(text(mark("SystemRestore", {{"opType", 1}})));
    window.initAllModule();
    QWidget* page = window.recoveryModule()->interruptedRestorePage();
    QCOMPARE(page != nullptr && window.topWidget() == page, pageShown);
}

void TestInterruptedRestore::screenshots()
{
    QJsonObject record = mark("SystemRestore", {{"opType", 1}, {"formatData", false}});
    for (const QString& locale : {QString("en"), QString("de")}) {
        QTranslator translator;
        if (locale != "en") {
            QVERIFY(translator.load(QString(MARLIN_LIVE_QM_DIR "/marlin-recovery-live_%1.qm").arg(locale)));
            QCoreApplication::installTranslator(&translator);
        }
        // A fresh page, so its texts come from the catalogue now installed.
        ComMarlinDaemonRecoveryInterface proxy("com.marlin.recovery", "/com/marlin/recovery",
                                               QDBusConnection::systemBus());
        auto controller = std::make_unique<RecoveryModule>(m_window.get(), &proxy);
        controller->initialize();
        controller->showInterruptedRestore(text(record));
        InterruptedRestorePage* page = controller->interruptedRestorePage();
        if (locale == "de") {
            QCOMPARE(page->title(), QString("Die letzte Wiederherstellung wurde nicht abgeschlossen"));
        }
        // Nothing cut off: every label is as tall as its wrapped text.
        for (QLabel* label : page->findChildren<QLabel*>()) {
            QVERIFY(label->height() >= label->heightForWidth(label->width()));
        }
        QVERIFY(GuiTest::saveScreenshot(m_window.get(), "interrupted-restore-" + locale));
        bool saved = false;
        {
            const DialogAnswer cancel(0, [&](Tessel::Widgets::TDialog* dialog) {
                saved = GuiTest::saveScreenshot(m_window.get(), "restore-again-confirmation-" + locale, dialog);
            });
            QTest::mouseClick(page->restoreAgainButton(), Qt::LeftButton);
        }
        QVERIFY(saved);
        m_window->popAllWidgets();
        QCoreApplication::removeTranslator(&translator);
    }
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    TestInterruptedRestore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_interruptedrestore.moc"
