// "Restore from backup files" for a whole-disk backup whose disk is gone: the disk chooser as the service's list
// fills it, its confirmation, the keyboard through both, and what is sent; a stand-in service takes the requests.

#include "DialogAnswer.h"
#include "FakeRecoveryService.h"
#include "MainWindow.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RestoreDiskChooser.h"
#include "modules/recovery/RestoreDiskConfirmPage.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/InterruptedRestorePage.h"
#include "widgets/RestorePage.h"
#include "widgets/WorkingPage.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TTipLabel.h>

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <memory>

namespace {

const QString Directory = "/media/usb/whole disk";
const int AnswerTimeout = 10000;

QJsonObject disk(const QString& drive, const QString& device, qint64 size, const QString& reason,
                 const QJsonArray& partitions = QJsonArray())
{
    return {{"drive", drive}, {"devicePath", device},     {"model", "Disk " + drive},      {"serial", "SN-" + drive},
            {"size", size},   {"partitions", partitions}, {"qualifies", reason.isEmpty()}, {"reason", reason}};
}

// A new disk, one too small, the backup's own disk with a mounted partition, and a second new disk.
QString listing(bool recordedPresent)
{
    const QJsonArray usb{QJsonObject{{"device", "/dev/sdb1"},
                                     {"label", "Backups"},
                                     {"fsType", "ext4"},
                                     {"size", 500000000000.0},
                                     {"mounted", true}}};
    const QJsonArray disks{disk("NEW1", "/dev/sdc", 1000000000000, QString()),
                           disk("TINY", "/dev/sdd", 64000000000, "too small"),
                           disk("USB", "/dev/sdb", 500000000000, "holds the backup", usb),
                           disk("NEW2", "/dev/sde", 2000000000000, QString())};
    const QJsonObject data{{"needBytes", 256000000000.0},
                           {"recordedDrive", "OLD"},
                           {"recordedPresent", recordedPresent},
                           {"disks", disks}};
    return QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
}

QJsonObject lastRequest(const FakeRecoveryService& service, const QString& method)
{
    return QJsonDocument::fromJson(service.requests(method).value(0).toUtf8()).object();
}

} // namespace

class TestDiskChooser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listsEveryDisk();
    void keyboardChoosesAndConfirms_data();
    void keyboardChoosesAndConfirms();
    void noChooserWhenTheDiskIsThere_data();
    void noChooserWhenTheDiskIsThere();
    void askedForTheChooser_data();
    void askedForTheChooser();
    void restoreAgainWritesTheChosenDisk();

private:
    // Clicks "Restore from backup files" as the restore page does and has the service answer with listing.
    void openChooser();
    // How the stand-in answers ListRestoreDisks: "present" (the backup's disk is there), "error", "refused".
    void setAnswer(const QString& answer);

    PrivateBus m_bus;
    std::unique_ptr<FakeRecoveryService> m_service;
    std::unique_ptr<MainWindow> m_window;
    RecoveryModule* m_module = nullptr;
};

void TestDiskChooser::initTestCase()
{
    QVERIFY2(m_bus.start(), "no private bus (dbus-daemon)");
    RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
}

void TestDiskChooser::init()
{
    m_service = std::make_unique<FakeRecoveryService>();
    QVERIFY(m_service->start());
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    m_window->initAllModule();
    m_module = m_window->recoveryModule();
    m_window->setFixedSize(860, 640);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestDiskChooser::cleanup()
{
    m_window->popAllWidgets();
    m_window.reset();
    m_service.reset();
}

void TestDiskChooser::openChooser()
{
    m_service->setDiskListing(listing(false));
    m_module->onRestoreFromFiles(Directory);
    const QJsonObject request = lastRequest(*m_service, "ListRestoreDisks");
    QCOMPARE(request.value("opType").toInt(), 16);
    QCOMPARE(request.value("backupDir").toString(), Directory);
    QTRY_VERIFY_WITH_TIMEOUT(m_module->diskChooser() != nullptr && m_window->topWidget() == m_module->diskChooser(),
                             AnswerTimeout);
}

// Every disk is shown with what the person needs to tell them apart; those that cannot take the backup say why and
// cannot be chosen.
void TestDiskChooser::listsEveryDisk()
{
    openChooser();
    RestoreDiskChooser* chooser = m_module->diskChooser();
    QListWidget* list = chooser->diskList();
    QCOMPARE(list->count(), 4);
    const QStringList enabled{"NEW1", "NEW2"};
    for (int row = 0; row < list->count(); ++row) {
        const QString text = list->item(row)->text();
        const QString drive = QStringList{"NEW1", "TINY", "USB", "NEW2"}.at(row);
        QVERIFY2(text.contains("Disk " + drive) && text.contains("SN-" + drive), qPrintable(text));
        QCOMPARE(bool(list->item(row)->flags() & Qt::ItemIsEnabled), enabled.contains(drive));
    }
    QVERIFY2(list->item(1)->text().contains("Cannot be used: too small, the backup needs"),
             qPrintable(list->item(1)->text()));
    QVERIFY2(list->item(2)->text().contains("sdb1 \"Backups\" ext4") && list->item(2)->text().contains("mounted") &&
                 list->item(2)->text().contains("it holds the backup"),
             qPrintable(list->item(2)->text()));
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(chooser->wholeDiskBox()->isChecked());
    QVERIFY(chooser->nextButton()->isEnabled());
    QVERIFY(m_service->requests("ManualRestore").isEmpty());
}

void TestDiskChooser::keyboardChoosesAndConfirms_data()
{
    QTest::addColumn<int>("downs");
    QTest::addColumn<bool>("keepSize");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("drive");
    QTest::newRow("first disk, whole") << 0 << false << true << "NEW1";
    // Down passes over the two disks that cannot be chosen.
    QTest::newRow("second new disk, old size") << 1 << true << true << "NEW2";
    QTest::newRow("cancelled at the confirmation") << 1 << false << false << QString();
}

void TestDiskChooser::keyboardChoosesAndConfirms()
{
    QFETCH(int, downs);
    QFETCH(bool, keepSize);
    QFETCH(bool, confirm);
    QFETCH(QString, drive);
    openChooser();
    RestoreDiskChooser* chooser = m_module->diskChooser();
    QListWidget* list = chooser->diskList();
    QTRY_VERIFY(list->hasFocus());
    for (int i = 0; i < downs; ++i) {
        QTest::keyClick(list, Qt::Key_Down);
    }
    if (keepSize) {
        QTest::keyClick(list, Qt::Key_Tab);
        QVERIFY(chooser->wholeDiskBox()->hasFocus());
        QTest::keyClick(chooser->wholeDiskBox(), Qt::Key_Space);
        QVERIFY(!chooser->wholeDiskBox()->isChecked());
        chooser->diskList()->setFocus();
    }
    QTest::keyClick(list, Qt::Key_Return);
    RestoreDiskConfirmPage* confirmPage = m_module->diskConfirmPage();
    QCOMPARE(m_window->topWidget(), confirmPage);
    const QString chosen = downs == 0 ? "NEW1" : "NEW2";
    QVERIFY2(confirmPage->messageLabel()->text().contains("Disk " + chosen) &&
                 confirmPage->messageLabel()->text().contains("Everything on it will be replaced"),
             qPrintable(confirmPage->messageLabel()->text()));
    // The safe answer has the focus: a stray key writes nothing.
    QTRY_VERIFY(confirmPage->cancelButton()->hasFocus());
    if (!confirm) {
        QTest::keyClick(confirmPage->cancelButton(), Qt::Key_Space);
        QCOMPARE(m_window->topWidget(), chooser);
        QVERIFY(m_service->requests("ManualRestore").isEmpty());
        return;
    }
    QTest::keyClick(confirmPage->cancelButton(), Qt::Key_Tab);
    QVERIFY(confirmPage->restoreButton()->hasFocus());
    QTest::keyClick(confirmPage->restoreButton(), Qt::Key_Space);
    const QJsonObject request = lastRequest(*m_service, "ManualRestore");
    QCOMPARE(request.value("backupDir").toString(), Directory);
    QCOMPARE(request.value("targetDrive").toString(), drive);
    QCOMPARE(request.value("keepSize").toBool(!keepSize), keepSize);
    QCOMPARE(m_window->topWidget(), m_module->workingPage());
}

void TestDiskChooser::setAnswer(const QString& answer)
{
    // Without a listing the stand-in answers as the service does for a backup that is not a whole-disk one.
    if (answer == "refused") {
        m_service->setAnswer("ListRestoreDisks", -1);
    } else if (answer == "present") {
        m_service->setDiskListing(listing(true));
    }
}

void TestDiskChooser::noChooserWhenTheDiskIsThere_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("the backup's disk is there") << "present";
    QTest::newRow("no whole-disk backup") << "error";
    QTest::newRow("the service cannot list") << "refused";
}

// Without a disk to choose the restore goes on as before: onto the disk the backup names, the service deciding.
void TestDiskChooser::noChooserWhenTheDiskIsThere()
{
    QFETCH(QString, answer);
    setAnswer(answer);
    m_module->onRestoreFromFiles(Directory);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->requests("ManualRestore").size(), 1, AnswerTimeout);
    const QJsonObject request = lastRequest(*m_service, "ManualRestore");
    QCOMPARE(request.value("backupDir").toString(), Directory);
    QVERIFY(!request.contains("targetDrive"));
    QVERIFY(m_module->diskChooser() == nullptr || m_window->topWidget() != m_module->diskChooser());
}

void TestDiskChooser::askedForTheChooser_data()
{
    noChooserWhenTheDiskIsThere_data();
}

// Asked for, the chooser comes whether or not the backup's own disk is there; without a whole-disk backup nothing is
// restored at all, and the restore page says why.
void TestDiskChooser::askedForTheChooser()
{
    QFETCH(QString, answer);
    setAnswer(answer);
    m_module->onRestoreOntoChosenDisk(Directory);
    if (answer == "present") {
        QTRY_VERIFY_WITH_TIMEOUT(m_module->diskChooser() != nullptr && m_window->topWidget() == m_module->diskChooser(),
                                 AnswerTimeout);
        QVERIFY(m_module->diskChooser()->messageLabel()->text().startsWith("Choose the disk to write this backup"));
        return;
    }
    RestorePage* page = m_module->systemRestoreWidget()->restorePage();
    QTRY_VERIFY_WITH_TIMEOUT(!page->tipLabel()->isHidden(), AnswerTimeout);
    QVERIFY2(page->tipLabel()->text().contains("no whole-disk backup"), qPrintable(page->tipLabel()->text()));
    QVERIFY(m_service->requests("ManualRestore").isEmpty());
}

void TestDiskChooser::restoreAgainWritesTheChosenDisk()
{
    const QJsonObject mark{
        {"method", "ManualRestore"},
        {"request", QJsonObject{{"opType", 2}, {"backupDir", Directory}, {"targetDrive", "NEW2"}, {"keepSize", true}}},
        {"started", "2026-03-01T08:30:00Z"},
        {"targets", QJsonArray{"/dev/sde"}}};
    m_module->showInterruptedRestore(QString::fromUtf8(QJsonDocument(mark).toJson()));
    const DialogAnswer dialog(1);
    QTest::mouseClick(m_module->interruptedRestorePage()->restoreAgainButton(), Qt::LeftButton);
    const QJsonObject request = lastRequest(*m_service, "ManualRestore");
    QCOMPARE(request.value("targetDrive").toString(), QString("NEW2"));
    QCOMPARE(request.value("keepSize").toBool(false), true);
    QVERIFY(m_service->requests("ListRestoreDisks").isEmpty());
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    TestDiskChooser test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_diskchooser.moc"
