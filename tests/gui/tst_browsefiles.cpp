// Bringing back single files through the real window and controller, against the stand-in service: the entries
// that open a browse, the tree filled folder by folder, the destination chooser, the copy's progress, Cancel, and
// how it ended; also by keyboard alone.

#include "FakeRecoveryService.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "Startup.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/browse/BrowseFilesPage.h"
#include "modules/browse/BrowseFlow.h"
#include "modules/browse/BrowseModel.h"
#include "modules/browse/CopyDestinationPage.h"
#include "modules/browse/CopyResultPage.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/BaseTableView.h"
#include "widgets/RadioItem.h"
#include "widgets/RestorePage.h"
#include "widgets/TreeViewModel.h"
#include "widgets/WorkingPage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TFileChooserEdit.h>

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>

using GuiTest::saveScreenshot;

namespace {

QString json(const QJsonObject& obj)
{
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Compact));
}

QJsonObject request(const FakeRecoveryService& service, const QString& method)
{
    const QStringList all = service.requests(method);
    return all.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(all.last().toUtf8()).object();
}

QJsonObject entry(const QString& name, const QString& kind, double size)
{
    return {{"name", name}, {"kind", kind}, {"size", size}, {"mtime", 1765000000}};
}

// Root of one volume: a folder and two files.
const QJsonArray RootEntries{entry("home", "dir", 4096), entry("a.txt", "file", 100), entry("b.txt", "file", 300)};

QJsonObject destination(const QString& uuid, const QString& label, double free)
{
    return {{"uuid", uuid}, {"devicePath", "/dev/sdb1"}, {"label", label}, {"fsType", "ext4"}, {"size", 1e9},
            {"free", free}, {"drive", "USB Stick"}};
}

// The focused widget gets the key, as a person's keyboard gives it.
void press(Qt::Key key)
{
    QWidget* focus = QApplication::focusWidget();
    QVERIFY2(focus != nullptr, "nothing has the focus");
    QTest::keyClick(focus, key);
}

} // namespace

class TestBrowseFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void entriesOpenTheBrowse_data();
    void entriesOpenTheBrowse();
    void treeListsFoldersWhenOpened();
    void copyOutcome_data();
    void copyOutcome();
    void wholeFlowByKeyboard();
    void serviceGoneDuringCopy();

private:
    // Sends the outcome of the last request to method.
    void answer(const QString& signal, const QString& method, int opType, const QJsonObject& data = {},
                const QString& errMsg = QString());
    // A personal browse with one volume "root" listed: a.txt and b.txt checkable.
    void openListedBrowse();
    // From the listed browse: a.txt checked, the destinations listed, "big" chosen and the copy started.
    void startCopy();

    PrivateBus m_bus;
    std::unique_ptr<FakeRecoveryService> m_service;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ComMarlinDaemonRecoveryInterface> m_proxy;
    std::unique_ptr<RecoveryModule> m_module;
    BrowseFlow* m_flow = nullptr;
};

void TestBrowseFiles::initTestCase()
{
    QVERIFY2(m_bus.start(), "no private bus (dbus-daemon)");
}

void TestBrowseFiles::init()
{
    m_service = std::make_unique<FakeRecoveryService>();
    QVERIFY(m_service->start());
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    cmdLine.bootFrom = "live-grub";
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    m_window->initAllModule();
    m_proxy = std::make_unique<ComMarlinDaemonRecoveryInterface>("com.marlin.recovery", "/com/marlin/recovery",
                                                                 QDBusConnection::systemBus());
    m_module = std::make_unique<RecoveryModule>(m_window.get(), m_proxy.get());
    m_module->initialize();
    m_module->active();
    m_flow = m_module->browseFlow();
    m_window->setFixedSize(860, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestBrowseFiles::cleanup()
{
    m_window->popAllWidgets();
    m_module.reset();
    m_proxy.reset();
    m_window.reset();
    m_service.reset();
}

void TestBrowseFiles::answer(const QString& signal, const QString& method, int opType, const QJsonObject& data,
                             const QString& errMsg)
{
    QVariantMap extra{{"data", data.isEmpty() ? QString() : json(data)}};
    if (!errMsg.isEmpty()) {
        extra.insert("errMsg", errMsg);
        extra.insert("retCode", 1);
    }
    if (signal == "ReportProgress") {
        extra.insert("progress", data.value("bytesDone").toDouble() * 100 / data.value("bytesTotal").toDouble());
    }
    m_service->send(signal, FakeRecoveryService::response(opType, m_service->lastOperateID(method), extra));
}

void TestBrowseFiles::openListedBrowse()
{
    QTest::mouseClick(m_module->homePage()->copyFilesButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_flow->browsePage());
    answer("Success", "OpenBrowse", 10,
           {{"volumes", QJsonArray{QJsonObject{{"name", "root"}, {"fsType", "ext4"}, {"size", 1e9}}}}});
    BrowseModel* model = m_flow->browsePage()->model();
    QTRY_COMPARE(model->rowCount(), 1);
    // The only volume is opened at once.
    QTRY_COMPARE(m_service->requests("ListBrowseDirectory").size(), 1);
    QCOMPARE(request(*m_service, "ListBrowseDirectory").value("path").toString(), QString("root"));
    answer("Success", "ListBrowseDirectory", 11, {{"path", "root"}, {"entries", RootEntries}});
    QTRY_COMPARE(model->rowCount(model->index(0, 0)), 3);
}

void TestBrowseFiles::startCopy()
{
    BrowseModel* model = m_flow->browsePage()->model();
    QVERIFY(!m_flow->browsePage()->copyButton()->isEnabled());
    model->itemFromIndex(model->indexOfPath("root/a.txt"))->setCheckState(Qt::Checked);
    QVERIFY(m_flow->browsePage()->copyButton()->isEnabled());
    QTest::mouseClick(m_flow->browsePage()->copyButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_flow->destinationPage());
    QCOMPARE(m_service->requests("ListCopyDestinations").size(), 1);
    QVERIFY(m_flow->destinationPage()->statusLabel()->text().size() > 0);
    answer("Success", "ListCopyDestinations", 12,
           {{"destinations", QJsonArray{destination("small", "Tiny", 50), destination("big", "Backup Disk", 5e8),
                                        destination("closed", "Unreadable", -1)}}});
    QTreeWidget* list = m_flow->destinationPage()->list();
    QTRY_COMPARE(list->topLevelItemCount(), 3);
    // Free space the service could not measure is not shown as a number, and the partition cannot be chosen.
    QVERIFY(!list->topLevelItem(2)->flags().testFlag(Qt::ItemIsEnabled));
    QVERIFY(!list->topLevelItem(2)->text(3).contains("-1"));
    // 100 bytes chosen: the partition with 50 free cannot be chosen.
    QVERIFY(!list->topLevelItem(0)->flags().testFlag(Qt::ItemIsEnabled));
    QCOMPARE(m_flow->destinationPage()->chosenUUID(), QString("big"));
    list->setCurrentItem(list->topLevelItem(0));
    QCOMPARE(m_flow->destinationPage()->chosenUUID(), QString("big"));
    QVERIFY(saveScreenshot(m_window.get(), "browse-destinations"));
    list->setCurrentItem(list->topLevelItem(1));
    QTest::mouseClick(m_flow->destinationPage()->copyButton(), Qt::LeftButton);
    const QJsonObject copy = request(*m_service, "CopyBrowseFiles");
    QCOMPARE(copy.value("paths").toArray(), QJsonArray{"root/a.txt"});
    QCOMPARE(copy.value("destUUID").toString(), QString("big"));
    QCOMPARE(copy.value("destDir").toString(), QString("Recovered Files"));
    QCOMPARE(m_window->topWidget(), m_flow->workingPage());
}

void TestBrowseFiles::entriesOpenTheBrowse_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("home: personal files") << "home" << QJsonObject{{"source", "personal"}};
    QTest::newRow("restore point") << "point"
                                   << QJsonObject{
                                          {"source", "backup"}, {"backupDir", "/backups/b"}, {"backupUUID", "uuid-b"}};
    QTest::newRow("backup directory") << "directory" << QJsonObject{{"source", "backup"}};
}

void TestBrowseFiles::entriesOpenTheBrowse()
{
    QFETCH(QString, entry);
    QFETCH(QJsonObject, expected);

    QTemporaryDir backupDir;
    if (entry == "home") {
        QTest::mouseClick(m_module->homePage()->copyFilesButton(), Qt::LeftButton);
    } else {
        const QJsonArray backups{QJsonObject{{"backupPath", "/backups/a"}, {"backupUUID", "uuid-a"}},
                                 QJsonObject{{"backupPath", "/backups/b"}, {"backupUUID", "uuid-b"}}};
        const QJsonObject info{{"isExitsInitBackup", true}, {"backupInfo", json({{"BackupFileInfoList", backups}})}};
        m_module->systemRestoreWidget()->loadRestorePageInfo(json(info));
        m_window->showWidget(m_module.get(), m_module->systemRestoreWidget());
        RestorePage* page = m_module->systemRestoreWidget()->restorePage();
        QVERIFY(!page->browseButton()->isEnabled());
        if (entry == "point") {
            page->restorePointItem()->radioButton()->click();
            page->tableView()->setCurrentIndex(page->model()->index(1, 0));
        } else {
            QFile image(backupDir.filePath("system.rbk"));
            QVERIFY(image.open(QIODevice::WriteOnly));
            page->backupFilesItem()->radioButton()->click();
            page->fileChooser()->setText(backupDir.path());
            expected.insert("backupDir", backupDir.path());
        }
        QTRY_VERIFY(page->browseButton()->isEnabled());
        QTest::mouseClick(page->browseButton(), Qt::LeftButton);
    }
    QCOMPARE(m_service->requests("OpenBrowse").size(), 1);
    QJsonObject sent = request(*m_service, "OpenBrowse");
    QCOMPARE(sent.value("opType").toInt(), 10);
    for (const char* key : {"operateID", "opType", "userName"}) {
        sent.remove(key);
    }
    QCOMPARE(sent, expected);
    QCOMPARE(m_window->topWidget(), m_flow->browsePage());
    // Back closes the browse and returns to where it was opened.
    QWidget* opener =
        m_window->pageCount() > 2 ? static_cast<QWidget*>(m_module->systemRestoreWidget()) : m_module->homePage();
    QTest::mouseClick(m_flow->browsePage()->backButton(), Qt::LeftButton);
    QCOMPARE(m_service->requests("CloseBrowse").size(), 1);
    QCOMPARE(m_window->topWidget(), opener);
}

void TestBrowseFiles::treeListsFoldersWhenOpened()
{
    openListedBrowse();
    if (QTest::currentTestFailed()) {
        return;
    }
    BrowseModel* model = m_flow->browsePage()->model();
    QTreeView* tree = m_flow->browsePage()->treeView();
    const QModelIndex home = model->indexOfPath("root/home");
    QVERIFY(home.isValid());
    // Folders first, in the service's order; a folder shows it can be opened before it is listed.
    QCOMPARE(model->index(0, 0, model->index(0, 0)), home);
    QVERIFY(model->hasChildren(home));
    QCOMPARE(model->data(model->indexOfPath("root/b.txt").siblingAtColumn(BrowseModel::SizeColumn)).toString(),
             QLocale().formattedDataSize(300, 1));
    tree->expand(home);
    QTRY_COMPARE(m_service->requests("ListBrowseDirectory").size(), 2);
    QCOMPARE(request(*m_service, "ListBrowseDirectory").value("path").toString(), QString("root/home"));
    // Opened again before the answer: asked once.
    tree->collapse(home);
    tree->expand(home);
    QCOMPARE(m_service->requests("ListBrowseDirectory").size(), 2);
    answer("Success", "ListBrowseDirectory", 11,
           {{"path", "root/home"}, {"entries", QJsonArray{entry("alice", "dir", 4096)}}});
    QTRY_COMPARE(model->rowCount(home), 1);
    QVERIFY(model->indexOfPath("root/home/alice").isValid());
    // A listing that fails leaves the folder to be asked for again.
    const QModelIndex alice = model->indexOfPath("root/home/alice");
    tree->expand(alice);
    QTRY_COMPARE(m_service->requests("ListBrowseDirectory").size(), 3);
    answer("Error", "ListBrowseDirectory", 11, {}, "Permission denied");
    QTRY_COMPARE(m_flow->browsePage()->statusLabel()->text(), QString("Permission denied"));
    tree->expand(alice);
    QTRY_COMPARE(m_service->requests("ListBrowseDirectory").size(), 4);
    QVERIFY(saveScreenshot(m_window.get(), "browse-tree"));
}

void TestBrowseFiles::copyOutcome_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("errMsg");
    QTest::addColumn<QJsonObject>("data");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("copied") << "Success" << QString()
                            << QJsonObject{{"destination", "Backup Disk"},
                                           {"destPath", "Recovered Files"},
                                           {"files", 1},
                                           {"bytes", 100},
                                           {"renamed", QJsonArray{QJsonObject{{"from", "a.txt"}, {"to", "a (2).txt"}}}}}
                            << false << QStringList{"Backup Disk", "Recovered Files", "a (2).txt"};
    QTest::newRow("cancelled") << "Error"
                               << "Copy cancelled" << QJsonObject{{"files", 0}, {"bytes", 0}} << true
                               << QStringList{"Kopieren abgebrochen"};
    QTest::newRow("no room") << "Error"
                             << "Not enough free space on the destination"
                             << QJsonObject{{"needed", 2048}, {"free", 1024}} << false
                             << QStringList{"Nicht genug freier Speicherplatz am Ziel",
                                            QLocale().formattedDataSize(2048, 1)};
}

void TestBrowseFiles::copyOutcome()
{
    QFETCH(QString, signal);
    QFETCH(QString, errMsg);
    QFETCH(QJsonObject, data);
    QFETCH(bool, cancel);
    QFETCH(QStringList, shown);

    QTranslator german;
    QVERIFY(german.load(MARLIN_LIVE_QM_DIR "/marlin-recovery-live_de.qm"));
    QCoreApplication::installTranslator(&german);
    openListedBrowse();
    startCopy();
    if (QTest::currentTestFailed()) {
        return;
    }
    answer("ReportProgress", "CopyBrowseFiles", 13, {{"bytesDone", 50}, {"bytesTotal", 100}});
    WorkingPage* working = m_flow->workingPage();
    QTRY_COMPARE(working->progressValue(), 50);
    QVERIFY2(working->detail().contains(QLocale().formattedDataSize(50, 1)), qPrintable(working->detail()));
    QVERIFY(working->cancelButton()->isVisible());
    QVERIFY(saveScreenshot(m_window.get(), "browse-copying"));
    if (cancel) {
        QTest::mouseClick(working->cancelButton(), Qt::LeftButton);
        QCOMPARE(m_service->requests("CancelBrowseCopy").size(), 1);
    }
    answer(signal, "CopyBrowseFiles", 13, data, errMsg);
    CopyResultPage* result = m_flow->resultPage();
    QTRY_COMPARE(m_window->topWidget(), result);
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(result->isSuccess(), signal == "Success");
    for (const QString& text : shown) {
        QVERIFY2(result->message().contains(text), qPrintable(result->message()));
    }
    QVERIFY(saveScreenshot(m_window.get(), "browse-result-" + QString(QTest::currentDataTag()).replace(' ', '-')));
    // The files are still there to copy more of them.
    QTest::mouseClick(result->filesButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_flow->browsePage());
    QCOMPARE(m_service->requests("CloseBrowse").size(), 0);
}

void TestBrowseFiles::wholeFlowByKeyboard()
{
    m_module->homePage()->copyFilesButton()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    QCOMPARE(m_service->requests("OpenBrowse").size(), 1);
    answer("Success", "OpenBrowse", 10, {{"volumes", QJsonArray{QJsonObject{{"name", "root"}}}}});
    QTRY_COMPARE(m_service->requests("ListBrowseDirectory").size(), 1);
    answer("Success", "ListBrowseDirectory", 11, {{"path", "root"}, {"entries", RootEntries}});
    BrowseModel* model = m_flow->browsePage()->model();
    QTRY_COMPARE(model->rowCount(model->index(0, 0)), 3);
    QCOMPARE(QApplication::focusWidget(), m_flow->browsePage()->treeView());
    // root, home, a.txt: Space checks it.
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Space);
    QCOMPARE(model->checkedPaths(), QStringList{"root/a.txt"});
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_flow->browsePage()->backButton());
    press(Qt::Key_Tab);
    press(Qt::Key_Return);
    QCOMPARE(m_window->topWidget(), m_flow->destinationPage());
    answer("Success", "ListCopyDestinations", 12, {{"destinations", QJsonArray{destination("big", "Disk", 1e6)}}});
    QTRY_COMPARE(m_flow->destinationPage()->list()->topLevelItemCount(), 1);
    QCOMPARE(QApplication::focusWidget(), m_flow->destinationPage()->list());
    // Enter on the destination copies there.
    press(Qt::Key_Return);
    QCOMPARE(m_service->requests("CopyBrowseFiles").size(), 1);
    QCOMPARE(QApplication::focusWidget(), m_flow->workingPage()->cancelButton());
    press(Qt::Key_Space);
    QCOMPARE(m_service->requests("CancelBrowseCopy").size(), 1);
    answer("Error", "CopyBrowseFiles", 13, {{"files", 0}}, "Copy cancelled");
    QTRY_COMPARE(m_window->topWidget(), m_flow->resultPage());
    // Escape: back to the files, and from there out of the browse to the home page.
    press(Qt::Key_Escape);
    QCOMPARE(m_window->topWidget(), m_flow->browsePage());
    press(Qt::Key_Escape);
    QCOMPARE(m_service->requests("CloseBrowse").size(), 1);
    QCOMPARE(m_window->topWidget(), m_module->homePage());
}

// A copy whose service leaves the bus never sends its outcome: the window must not wait on its progress page.
void TestBrowseFiles::serviceGoneDuringCopy()
{
    openListedBrowse();
    startCopy();
    if (QTest::currentTestFailed()) {
        return;
    }
    m_service->stop();
    QTRY_COMPARE(m_window->topWidget(), m_flow->resultPage());
    QVERIFY(!m_flow->resultPage()->isSuccess());
    QTest::mouseClick(m_flow->resultPage()->homeButton(), Qt::LeftButton);
    QCOMPARE(m_window->topWidget(), m_module->homePage());
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    Tessel::Widgets::TApplication::setStyle("glaze");
    TestBrowseFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browsefiles.moc"
