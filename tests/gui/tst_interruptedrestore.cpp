// The page shown at start-up when the last restore was cut off: what it says about the restore, and that "Restore
// Again" repeats exactly that restore (through its confirmation) while "Other Options" leads home. The service
// proxy points at a bus name nobody owns; the controller remembers each request before it is sent.

#include "DialogAnswer.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "widgets/InterruptedRestorePage.h"

#include <tessel/widgets/TApplication.h>

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
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ComMarlinDaemonRecoveryInterface> m_proxy;
    std::unique_ptr<RecoveryModule> m_module;
};

void TestInterruptedRestore::init()
{
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    cmdLine.bootFrom = "live-grub";
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    m_window->initAllModule();
    m_proxy = std::make_unique<ComMarlinDaemonRecoveryInterface>("com.marlin.nobody.owns.this", "/com/marlin/recovery",
                                                                 QDBusConnection::systemBus());
    m_module = std::make_unique<RecoveryModule>(m_window.get(), m_proxy.get());
    m_module->initialize();
    m_window->setFixedSize(860, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestInterruptedRestore::cleanup()
{
    m_window->popAllWidgets();
    m_module.reset();
    m_proxy.reset();
    m_window.reset();
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
    QTest::addColumn<int>("dialogs");
    QTest::addColumn<int>("sentOpType");

    const QJsonObject keep = mark("SystemRestore", {{"opType", 1}, {"formatData", false}});
    QTest::newRow("reset confirmed") << keep << 1 << 1 << 1;
    QTest::newRow("reset cancelled sends nothing") << keep << 0 << 1 << 0;
    QTest::newRow("backup directory") << mark("ManualRestore", {{"opType", 2}, {"backupDir", "/media/b/x"}}) << 1 << 0
                                      << 2;
    QTest::newRow("restore point") << mark("ManualRestore",
                                           {{"opType", 5}, {"backupDir", "/media/b/x"}, {"backupUUID", "1234"}})
                                   << 1 << 0 << 5;
    QTest::newRow("pending order") << mark("RestoreByTask",
                                           {{"opType", 2},
                                            {"recoveryInfo", orderText("ManualRestore", {"restore-partitions"})}})
                                   << 1 << 0 << 2;
}

void TestInterruptedRestore::restoreAgain()
{
    QFETCH(QJsonObject, record);
    QFETCH(int, answer);
    QFETCH(int, dialogs);
    QFETCH(int, sentOpType);

    m_module->showInterruptedRestore(text(record));
    InterruptedRestorePage* page = m_module->interruptedRestorePage();
    QVERIFY(page != nullptr);
    QCOMPARE(m_window->topWidget(), page);
    const DialogAnswer dialog(answer);
    QTest::mouseClick(page->restoreAgainButton(), Qt::LeftButton);
    QCOMPARE(dialog.count(), dialogs);
    if (dialogs > 0) {
        QCOMPARE(dialog.title(), QString("Keep Personal Files"));
    }
    QCOMPARE(m_module->lastOpType(), sentOpType);
}

void TestInterruptedRestore::otherOptionsLeadsHome()
{
    m_module->showInterruptedRestore(text(mark("SystemRestore", {{"opType", 1}})));
    QTest::mouseClick(m_module->interruptedRestorePage()->otherOptionsButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_module->homePage());
    QCOMPARE(m_module->lastOpType(), 0);
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
        auto controller = std::make_unique<RecoveryModule>(m_window.get(), m_proxy.get());
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
