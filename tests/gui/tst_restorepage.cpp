// The restore page as the live program shows it: which choices the service's information leaves, the restore point
// table, the backup directory check, the factory-reset confirmation, and what each choice asks for.

#include "DialogAnswer.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/EndPage.h"

#include "widgets/BaseItemDelegate.h"
#include "widgets/BaseTableView.h"
#include "widgets/RadioItem.h"
#include "widgets/RestorePage.h"
#include "widgets/SettingsGroup.h"
#include "widgets/TreeViewModel.h"

#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFileChooserEdit.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TTipLabel.h>

#include <QCheckBox>
#include <QDBusConnection>
#include <QFile>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardItem>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <memory>

using namespace Tessel::Widgets;
using GuiTest::saveScreenshot;

namespace {

const QString EncryptedText =
    "The system contains encrypted partition, please decrypt it before using the backup and restore function.";

QJsonObject backup(const QString& path, const QString& time, const QString& uuid, double size = 0)
{
    return {{"backupUUID", uuid},
            {"backupPath", path},
            {"backupTime", time},
            {"createTime", "1709980000"},
            {"backupSize", size}};
}

QString pageInfo(const QJsonObject& overrides, const QJsonArray& backups = QJsonArray())
{
    QJsonObject info{{"recoveryUUID", "rec-uuid"},
                     {"osType", "Professional"},
                     {"backupInfo",
                      QString::fromUtf8(
                          QJsonDocument(QJsonObject{{"BackupFileInfoList", backups}}).toJson(QJsonDocument::Indented))},
                     {"recoveryInfo", ""},
                     {"osVersion", 20},
                     {"isExitsInitBackup", true},
                     {"isDeviceOS", false},
                     {"isLvm", false},
                     {"isEncrypted", false},
                     {"isFileManagerEncrypted", false}};
    for (auto it = overrides.constBegin(); it != overrides.constEnd(); ++it) {
        info.insert(it.key(), it.value());
    }
    return QString::fromUtf8(QJsonDocument(info).toJson());
}

} // namespace

class TestRestorePage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fullPage();
    void reducedToFactoryReset_data();
    void reducedToFactoryReset();
    void encryptedHomeShowsError();
    void missingInitialBackup();
    void pendingOrderRunsAtOnce();
    void reloadStartsFromTheFullPage();

    void restorePointTable();
    void emptyBackupList();
    void backupDirectoryCheck();
    void factoryResetConfirmation_data();
    void factoryResetConfirmation();
    void reducedFactoryItemKeepsFilesChecked();
    void keyboardMovesTheMark_data();
    void keyboardMovesTheMark();
    void chosenChoiceStaysChosen_data();
    void chosenChoiceStaysChosen();
    void tooltipExactlyWhenElided();

    void controllerShowsThePage();

private:
    void load(const QString& info);
    RestorePage* page() const { return m_widget->restorePage(); }
    void clickRow(int row);

    std::unique_ptr<QWidget> m_window;
    SystemRestoreWidget* m_widget = nullptr;
    QTemporaryDir m_noMapper;
};

void TestRestorePage::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->setFixedSize(860, 640);
    m_widget = new SystemRestoreWidget(m_window.get());
    m_widget->setGeometry(0, 0, 860, 640);
    // The machine running the test may have its own encrypted mapping; the page must not see it.
    m_widget->setMapperDirectory(m_noMapper.path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestRestorePage::cleanup()
{
    m_window.reset();
    m_widget = nullptr;
}

void TestRestorePage::load(const QString& info)
{
    m_widget->loadRestorePageInfo(info);
    QCoreApplication::processEvents();
}

void TestRestorePage::clickRow(int row)
{
    BaseTableView* table = page()->tableView();
    const QRect rect = table->visualRect(page()->model()->index(row, 0));
    QVERIFY(rect.isValid());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void TestRestorePage::fullPage()
{
    load(pageInfo({}));
    QVERIFY(page()->isLiveMode());
    QCOMPARE(page()->group()->itemCount(), 3);
    QVERIFY(page()->factoryItem()->isChecked());
    QVERIFY(!page()->backupFilesItem()->isChecked());
    QVERIFY(!page()->restorePointItem()->isChecked());
    QVERIFY(page()->keepCheckBox()->isChecked());
    QVERIFY(page()->keepCheckBox()->isEnabled());
    QVERIFY(page()->restoreButton()->isEnabled());
    QVERIFY(!page()->tipLabel()->isVisible());
    QVERIFY(!page()->busyButton()->isVisible());
    QCOMPARE(page()->mode(), int(RestorePage::FactoryReset));
    // The other choices' controls are greyed out until their choice is made.
    QVERIFY(!page()->fileChooser()->isEnabled());
    QVERIFY(!page()->tableView()->isEnabled());
    QVERIFY(saveScreenshot(m_widget, "restore-page-full"));

    page()->backupFilesItem()->radioButton()->click();
    QCOMPARE(page()->mode(), int(RestorePage::BackupFiles));
    QVERIFY(!page()->factoryItem()->isChecked());
    QVERIFY(!page()->keepCheckBox()->isChecked());
    QVERIFY(page()->fileChooser()->isEnabled());
    QVERIFY(!page()->restoreButton()->isEnabled());

    page()->factoryItem()->radioButton()->click();
    QCOMPARE(page()->mode(), int(RestorePage::FactoryReset));
    QVERIFY(page()->keepCheckBox()->isChecked());
    QVERIFY(page()->restoreButton()->isEnabled());
    QVERIFY(!page()->backupFilesItem()->isChecked());

    QSignalSpy back(m_widget, &SystemRestoreWidget::cancel);
    QTest::mouseClick(m_widget->backwardButton(), Qt::LeftButton);
    QCOMPARE(back.size(), 1);
}

void TestRestorePage::reducedToFactoryReset_data()
{
    QTest::addColumn<QJsonObject>("overrides");
    QTest::addColumn<bool>("mapper");
    QTest::newRow("device os") << QJsonObject{{"isDeviceOS", true}, {"osType", "Device"}} << false;
    QTest::newRow("lvm") << QJsonObject{{"isLvm", true}} << false;
    QTest::newRow("encrypted") << QJsonObject{{"isEncrypted", true}} << false;
    QTest::newRow("open luks_crypt0") << QJsonObject() << true;
}

void TestRestorePage::reducedToFactoryReset()
{
    QFETCH(QJsonObject, overrides);
    QFETCH(bool, mapper);
    QTemporaryDir mapperDir;
    if (mapper) {
        QFile device(mapperDir.filePath("luks_crypt0"));
        QVERIFY(device.open(QIODevice::WriteOnly));
        m_widget->setMapperDirectory(mapperDir.path());
        QVERIFY(m_widget->hasEncryptedMapper());
    }
    load(pageInfo(overrides));
    QCOMPARE(page()->group()->itemCount(), 1);
    QVERIFY(page()->backupFilesItem() == nullptr);
    QVERIFY(page()->restorePointItem() == nullptr);
    // Nothing points at the controls that went with the dropped choices.
    QVERIFY(page()->tableView() == nullptr && page()->fileChooser() == nullptr);
    QCOMPARE(page()->factoryItem()->text(), QString("Reset to factory settings"));
    QVERIFY(page()->factoryItem()->isChecked());
    QVERIFY(page()->keepCheckBox()->isChecked());
    QVERIFY(page()->restoreButton()->isEnabled());
    QVERIFY(!page()->tipLabel()->isVisible());
    if (mapper) {
        QVERIFY(saveScreenshot(m_widget, "restore-page-factory-only"));
    }

    QSignalSpy reset(m_widget, &SystemRestoreWidget::systemRestoreClicked);
    const DialogAnswer answer(1);
    page()->restore();
    QVERIFY(answer.seen());
    QCOMPARE(reset.size(), 1);
    QCOMPARE(reset.first().first().toBool(), false);
}

void TestRestorePage::encryptedHomeShowsError()
{
    load(pageInfo({{"isFileManagerEncrypted", true}}));
    QCOMPARE(page()->group()->itemCount(), 1);
    QVERIFY(page()->tipLabel()->isVisible());
    QCOMPARE(page()->tipLabel()->text(), EncryptedText);
    QVERIFY(!page()->restoreButton()->isEnabled());
    QVERIFY(!page()->factoryItem()->isEnabled());
    QVERIFY(!page()->keepCheckBox()->isEnabled());
    QVERIFY(saveScreenshot(m_widget, "restore-page-encrypted"));

    // Without an initial backup there is nothing to reset to and no error to show.
    load(pageInfo({{"isFileManagerEncrypted", true}, {"isExitsInitBackup", false}}));
    QVERIFY(!page()->tipLabel()->isVisible());
    QVERIFY(!page()->restoreButton()->isEnabled());
    QVERIFY(page()->factoryItem()->tipLabel()->isVisible());
}

void TestRestorePage::missingInitialBackup()
{
    load(pageInfo({{"isExitsInitBackup", false}}));
    QCOMPARE(page()->group()->itemCount(), 3);
    RadioItem* factory = page()->factoryItem();
    QVERIFY(factory->tipLabel()->isVisible());
    QVERIFY(!factory->radioButton()->isVisible());
    QCOMPARE(factory->tipText(),
             QString("The initial backup file does not exist, so your system cannot be reset to factory settings."));
    QVERIFY(!page()->restoreButton()->isEnabled());
    QVERIFY(saveScreenshot(m_widget, "restore-page-no-initial-backup"));

    // The other choices stay usable.
    QTemporaryDir dir;
    QFile image(dir.filePath("system.rbk"));
    QVERIFY(image.open(QIODevice::WriteOnly));
    page()->backupFilesItem()->radioButton()->click();
    page()->fileChooser()->setText(dir.path());
    QVERIFY(page()->restoreButton()->isEnabled());
}

void TestRestorePage::pendingOrderRunsAtOnce()
{
    const QString order = R"({"type": "SystemRestore", "tasks": []})";
    QSignalSpy triggered(m_widget, &SystemRestoreWidget::recoveryTriggered);
    load(pageInfo({{"recoveryInfo", order}, {"isLvm", true}}));
    QCOMPARE(triggered.size(), 1);
    QCOMPARE(triggered.first().first().toString(), order);
    QVERIFY(!m_widget->isShowingOptions());
    // The information was not applied to the options.
    QCOMPARE(page()->group()->itemCount(), 3);

    // An encrypted home keeps the order waiting and shows the page with its error instead.
    triggered.clear();
    load(pageInfo({{"recoveryInfo", order}, {"isFileManagerEncrypted", true}}));
    QCOMPARE(triggered.size(), 0);
    QVERIFY(m_widget->isShowingOptions());
    QCOMPARE(page()->tipLabel()->text(), EncryptedText);
}

void TestRestorePage::reloadStartsFromTheFullPage()
{
    load(pageInfo({{"isFileManagerEncrypted", true}}));
    QVERIFY(!page()->restoreButton()->isEnabled());
    load(pageInfo({}));
    QCOMPARE(page()->group()->itemCount(), 3);
    QVERIFY(page()->restoreButton()->isEnabled());
    QVERIFY(page()->factoryItem()->isEnabled());
    QVERIFY(!page()->tipLabel()->isVisible());
    // The new page still reaches the controller.
    QSignalSpy custom(m_widget, &SystemRestoreWidget::customRestoreClicked);
    page()->backupFilesItem()->radioButton()->click();
    page()->fileChooser()->setText("/somewhere");
    page()->restore();
    QCOMPARE(custom.size(), 1);
}

void TestRestorePage::restorePointTable()
{
    const QJsonArray backups{backup("/media/root/data/backups/2024-03-09", "2024/03/09", "data-uuid", 314572800),
                             backup("/media/root/data/backups/2023-11-14", "2023/11/14", "data-uuid-2")};
    load(pageInfo({}, backups));
    QCOMPARE(page()->model()->rowCount(), 0);

    page()->restorePointItem()->radioButton()->click();
    QCOMPARE(page()->mode(), int(RestorePage::RestorePoint));
    TreeViewModel* model = page()->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->item(0, 0)->text(), QString("/media/root/data/backups/2024-03-09"));
    QCOMPARE(model->item(0, 2)->text(), QString("2024/03/09"));
    // Its own size on disk; none known for the other.
    QCOMPARE(model->item(0, 1)->text(), QLocale().formattedDataSize(314572800, 1));
    QCOMPARE(model->item(1, 1)->text(), QString());
    QCOMPARE(model->item(0, 3)->text(), QString("data-uuid"));
    QCOMPARE(model->item(1, 3)->text(), QString("data-uuid-2"));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString("Backup File"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QString("Size"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QString("Time"));
    QVERIFY(page()->tableView()->isEnabled());
    QVERIFY(!page()->restoreButton()->isEnabled());
    QVERIFY(saveScreenshot(m_widget, "restore-page-table"));

    QSignalSpy manual(m_widget, &SystemRestoreWidget::manualRestoreClicked);
    clickRow(1);
    QVERIFY(page()->restoreButton()->isEnabled());
    QCOMPARE(model->item(1, 2)->checkState(), Qt::Checked);
    QCOMPARE(model->item(0, 2)->checkState(), Qt::Unchecked);
    QVERIFY(saveScreenshot(m_widget, "restore-page-table-chosen"));
    QTest::mouseClick(page()->restoreButton(), Qt::LeftButton);
    QTRY_COMPARE(manual.size(), 1);
    QCOMPARE(manual.first().at(0).toString(), QString("/media/root/data/backups/2023-11-14"));
    QCOMPARE(manual.first().at(1).toString(), QString("data-uuid-2"));

    // Choosing again refills the table instead of adding to it.
    page()->factoryItem()->radioButton()->click();
    page()->restorePointItem()->radioButton()->click();
    QCOMPARE(model->rowCount(), 2);
    QVERIFY(!page()->restoreButton()->isEnabled());
}

void TestRestorePage::emptyBackupList()
{
    load(pageInfo({}));
    page()->restorePointItem()->radioButton()->click();
    QCOMPARE(page()->model()->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            QVERIFY(page()->model()->item(row, column)->text().isEmpty());
        }
    }
    QVERIFY(saveScreenshot(m_widget, "restore-page-table-empty"));
    clickRow(0);
    QVERIFY(!page()->restoreButton()->isEnabled());
    QSignalSpy manual(m_widget, &SystemRestoreWidget::manualRestoreClicked);
    page()->restore();
    QCOMPARE(manual.size(), 0);
    QVERIFY(page()->tipLabel()->isVisible());
    QCOMPARE(page()->tipLabel()->text(), QString("Backup file is invalid"));
}

void TestRestorePage::backupDirectoryCheck()
{
    load(pageInfo({}));
    QTemporaryDir dir;
    page()->backupFilesItem()->radioButton()->click();
    QVERIFY(!page()->restoreButton()->isEnabled());

    QFile upper(dir.filePath("system.RBK"));
    QVERIFY(upper.open(QIODevice::WriteOnly));
    upper.close();
    page()->fileChooser()->setText(dir.path());
    QVERIFY(!page()->restoreButton()->isEnabled());
    QVERIFY(!RestorePage::hasBackupImage(dir.path()));
    QVERIFY(!RestorePage::hasBackupImage(dir.filePath("missing")));
    QVERIFY(!RestorePage::hasBackupImage(QString()));

    QFile lower(dir.filePath("boot.rbk"));
    QVERIFY(lower.open(QIODevice::WriteOnly));
    lower.close();
    page()->fileChooser()->setText(QString());
    QVERIFY(!page()->restoreButton()->isEnabled());
    page()->fileChooser()->setText(dir.path());
    QVERIFY(page()->restoreButton()->isEnabled());
    QVERIFY(saveScreenshot(m_widget, "restore-page-backup-files"));

    QSignalSpy custom(m_widget, &SystemRestoreWidget::customRestoreClicked);
    QTest::mouseClick(page()->restoreButton(), Qt::LeftButton);
    QTRY_COMPARE(custom.size(), 1);
    QCOMPARE(custom.first().first().toString(), dir.path());
    // Asked for another disk, the same directory goes to the disk chooser instead.
    QSignalSpy chosenDisk(m_widget, &SystemRestoreWidget::chosenDiskRestoreClicked);
    page()->otherDiskCheckBox()->setChecked(true);
    QTest::mouseClick(page()->restoreButton(), Qt::LeftButton);
    QTRY_COMPARE(chosenDisk.size(), 1);
    QCOMPARE(chosenDisk.first().first().toString(), dir.path());
    QCOMPARE(custom.size(), 1);

    // An empty directory text is refused with a message, whatever enabled the button.
    page()->fileChooser()->setText(QString());
    page()->restore();
    QCOMPARE(custom.size(), 1);
    QCOMPARE(page()->tipLabel()->text(), QString("Backup file is invalid"));
    QVERIFY(page()->tipLabel()->isVisible());
    page()->onManualRestoreErrorChanged(Utils::PathError);
    QCOMPARE(page()->tipLabel()->text(), QString("Invalid path"));
    page()->onManualRestoreErrorChanged(Utils::NoError);
    QVERIFY(!page()->tipLabel()->isVisible());
}

void TestRestorePage::factoryResetConfirmation_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("requests");

    QTest::newRow("keep, cancel") << true << 0 << "Keep Personal Files" << 0;
    QTest::newRow("keep, closed") << true << -1 << "Keep Personal Files" << 0;
    QTest::newRow("keep, confirm") << true << 1 << "Keep Personal Files" << 1;
    QTest::newRow("clear, cancel") << false << 0 << "Reset to Factory Settings" << 0;
    QTest::newRow("clear, confirm") << false << 1 << "Reset to Factory Settings" << 1;
}

void TestRestorePage::factoryResetConfirmation()
{
    QFETCH(bool, keep);
    QFETCH(int, button);
    QFETCH(QString, title);
    QFETCH(int, requests);

    load(pageInfo({}));
    page()->keepCheckBox()->setChecked(keep);
    QSignalSpy reset(m_widget, &SystemRestoreWidget::systemRestoreClicked);
    const QString shot = keep ? "restore-confirm-keep" : "restore-confirm-clear";
    const DialogAnswer answer(button, [&](TDialog* dialog) {
        if (button == 0) {
            QVERIFY(saveScreenshot(dialog, shot));
        }
    });
    QTest::mouseClick(page()->restoreButton(), Qt::LeftButton);
    QTRY_VERIFY(answer.seen());
    QCOMPARE(answer.title(), title);
    QCOMPARE(answer.buttons(), QStringList({"Cancel", "Confirm and Reset"}));
    if (!keep) {
        QCOMPARE(answer.size(), QSize(450, 240));
        QCOMPARE(
            answer.message(),
            QString("It will permanently clear data of all users on this device, please confirm before proceeding"));
    } else {
        QVERIFY(answer.message().startsWith("It will reset data on your system disk but keep your personal data."));
    }
    QCOMPARE(reset.size(), requests);
    if (requests > 0) {
        QCOMPARE(reset.first().first().toBool(), !keep);
    }
}

void TestRestorePage::reducedFactoryItemKeepsFilesChecked()
{
    load(pageInfo({{"isLvm", true}}));
    page()->keepCheckBox()->setChecked(false);
    page()->factoryItem()->radioButton()->click();
    QVERIFY(page()->keepCheckBox()->isChecked());
    QVERIFY(page()->factoryItem()->isChecked());
    // The box can still be cleared for a full reset afterwards.
    page()->keepCheckBox()->click();
    QSignalSpy reset(m_widget, &SystemRestoreWidget::systemRestoreClicked);
    const DialogAnswer answer(1);
    page()->restore();
    QCOMPARE(answer.title(), QString("Reset to Factory Settings"));
    QCOMPARE(reset.size(), 1);
    QCOMPARE(reset.first().first().toBool(), true);
}

void TestRestorePage::keyboardMovesTheMark_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("marked");

    const QStringList three{"/backups/a", "/backups/b", "/backups/c"};
    QTest::newRow("down") << three << 0 << QList<int>{Qt::Key_Down} << 1;
    QTest::newRow("down, down, up") << three << 0 << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up} << 1;
    QTest::newRow("end") << three << 0 << QList<int>{Qt::Key_End} << 2;
    QTest::newRow("click only") << three << 1 << QList<int>{} << 1;
    QTest::newRow("to an empty row") << QStringList{"/backups/a", QString()} << 0 << QList<int>{Qt::Key_Down} << 1;
}

// The marked row is the one restored, however the current row moved.
void TestRestorePage::keyboardMovesTheMark()
{
    QFETCH(QStringList, paths);
    QFETCH(int, clicked);
    QFETCH(QList<int>, keys);
    QFETCH(int, marked);

    QJsonArray backups;
    for (int i = 0; i < paths.size(); ++i) {
        backups.append(backup(paths[i], QString("2024/03/0%1").arg(i + 1), QString("uuid-%1").arg(i)));
    }
    load(pageInfo({}, backups));
    page()->restorePointItem()->radioButton()->click();
    clickRow(clicked);
    BaseTableView* table = page()->tableView();
    table->setFocus();
    for (int key : keys) {
        QTest::keyClick(table, Qt::Key(key));
    }
    TreeViewModel* model = page()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QCOMPARE(model->item(row, TreeViewModel::TimeColumn)->checkState(),
                 row == marked ? Qt::Checked : Qt::Unchecked);
    }
    const bool restorable = !paths[marked].isEmpty();
    QCOMPARE(page()->restoreButton()->isEnabled(), restorable);
    if (!restorable) {
        return;
    }
    QSignalSpy manual(m_widget, &SystemRestoreWidget::manualRestoreClicked);
    QTest::mouseClick(page()->restoreButton(), Qt::LeftButton);
    QTRY_COMPARE(manual.size(), 1);
    QCOMPARE(manual.first().at(0).toString(), paths[marked]);
    QCOMPARE(manual.first().at(1).toString(), QString("uuid-%1").arg(marked));
}

void TestRestorePage::chosenChoiceStaysChosen_data()
{
    QTest::addColumn<int>("choice");

    QTest::newRow("factory reset") << int(RestorePage::FactoryReset);
    QTest::newRow("backup files") << int(RestorePage::BackupFiles);
    QTest::newRow("restore point") << int(RestorePage::RestorePoint);
}

void TestRestorePage::chosenChoiceStaysChosen()
{
    QFETCH(int, choice);

    load(pageInfo({}, {backup("/backups/a", "2024/03/09", "uuid")}));
    const QList<RadioItem*> items{page()->factoryItem(), page()->backupFilesItem(), page()->restorePointItem()};
    QRadioButton* radio = items[choice]->radioButton();
    // On the round mark itself: the button is wider than its text.
    const QPoint mark(8, radio->height() / 2);
    QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, mark);
    QVERIFY(radio->isChecked());
    const bool enabled = page()->restoreButton()->isEnabled();
    // Clicking the chosen one again changes nothing.
    QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, mark);
    for (int i = 0; i < items.size(); ++i) {
        QCOMPARE(items[i]->isChecked(), i == choice);
    }
    QCOMPARE(page()->mode(), choice);
    QCOMPARE(page()->restoreButton()->isEnabled(), enabled);
    QCOMPARE(items[choice]->contentWidget()->isEnabled(), true);
}

// A cell shows "…" exactly when its tooltip offers the whole text, also with the check mark beside it.
void TestRestorePage::tooltipExactlyWhenElided()
{
    const QString text = "/media/root/data/backups/2024-03-09-restore-point-before-the-update";
    TreeViewModel model;
    for (int row = 0; row < 2; ++row) {
        model.appendRow({new QStandardItem(text), new QStandardItem("2024/03/09"), new QStandardItem("uuid")});
    }
    model.item(1, 0)->setCheckState(Qt::Checked);
    BaseTableView view;
    view.setModel(&model);
    view.resize(900, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* delegate = qobject_cast<BaseItemDelegate*>(view.itemDelegate());
    QVERIFY(delegate != nullptr);
    const int full = view.fontMetrics().horizontalAdvance(text);
    int elidedWidths = 0;
    for (int width = full - 4; width <= full + 32; width += 4) {
        view.setColumnWidth(0, width);
        for (int row = 0; row < 2; ++row) {
            const QModelIndex index = model.index(row, 0);
            QStyleOptionViewItem option;
            option.fontMetrics = view.fontMetrics();
            option.rect = view.visualRect(index);
            const bool elided = delegate->elidedText(option, index) != text;
            elidedWidths += elided ? 1 : 0;
            QToolTip::hideText();
            QTRY_VERIFY(!QToolTip::isVisible());
            const QPoint pos = option.rect.center();
            QHelpEvent event(QEvent::ToolTip, pos, view.viewport()->mapToGlobal(pos));
            QApplication::sendEvent(view.viewport(), &event);
            QVERIFY2(QToolTip::text().contains(text) == elided,
                     qPrintable(QString("width %1, row %2, elided %3").arg(width).arg(row).arg(elided)));
        }
    }
    // The range covers both outcomes.
    QVERIFY(elidedWidths > 0 && elidedWidths < 20);
}

void TestRestorePage::controllerShowsThePage()
{
    // No recovery partition here: the record of a restore counts as writable.
    RecoveryModule::setRestoreRecordCheck([](const QString&, const QString&) { return true; });
    CmdLineInfo cmdLine;
    cmdLine.rootUUID = "test-root";
    cmdLine.bootFrom = "live-grub";
    MainWindow window(cmdLine, false, QString());
    window.initAllModule();
    // A bus name nobody owns: every request fails at once and only the pages are looked at.
    ComMarlinDaemonRecoveryInterface proxy("com.marlin.nobody.owns.this", "/com/marlin/recovery",
                                           QDBusConnection::systemBus());
    RecoveryModule module(&window, &proxy);
    module.initialize();
    module.active();
    window.setFixedSize(860, 640);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const auto answer = [](const QString& data) {
        return QString::fromUtf8(
            QJsonDocument(QJsonObject{{"operateID", "x"}, {"opType", 8}, {"retCode", 0}, {"data", data}}).toJson());
    };
    module.homePage()->startBusy();
    module.onSuccess(answer(pageInfo({})));
    QCOMPARE(window.topWidget(), module.systemRestoreWidget());
    QCOMPARE(module.systemRestoreWidget()->restorePage()->group()->itemCount(), 3);
    // One back button: the page's own.
    QVERIFY(!window.backwardButton()->isVisible());
    QVERIFY(module.systemRestoreWidget()->backwardButton()->isVisible());
    QVERIFY(saveScreenshot(&window, "restore-page-in-window"));
    QTest::mouseClick(module.systemRestoreWidget()->backwardButton(), Qt::LeftButton);
    QCOMPARE(window.topWidget(), module.homePage());

    // A pending order goes straight to its request; the options do not appear. Nobody takes it here, so its
    // failure shows instead of a progress page that would wait for ever.
    module.onSuccess(answer(pageInfo({{"recoveryInfo", R"({"type": "SystemRestore", "tasks": []})"}})));
    QCOMPARE(window.topWidget(), module.endPage());
    QCOMPARE(module.endPage()->state(), int(EndPage::Failure));
    window.popAllWidgets();
}

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    TestRestorePage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_restorepage.moc"
