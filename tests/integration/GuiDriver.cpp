#include "GuiDriver.h"

#include "DialogAnswer.h"

#include "MainWindow.h"
#include "modules/browse/BrowseFilesPage.h"
#include "modules/browse/BrowseFlow.h"
#include "modules/browse/BrowseModel.h"
#include "modules/browse/CopyDestinationPage.h"
#include "modules/browse/CopyResultPage.h"
#include "modules/recovery/RecoveryModule.h"
#include "modules/recovery/RecoveryPage.h"
#include "modules/recovery/RepairFileSystemWidget.h"
#include "modules/recovery/RestoreDiskChooser.h"
#include "modules/recovery/RestoreDiskConfirmPage.h"
#include "modules/recovery/SystemRestoreWidget.h"
#include "widgets/EndPage.h"
#include "widgets/InterruptedRestorePage.h"
#include "widgets/ItemFrame.h"
#include "widgets/WorkingPage.h"

#include "widgets/BaseTableView.h"
#include "widgets/RadioItem.h"
#include "widgets/RestorePage.h"
#include "widgets/TreeViewModel.h"

#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFileChooserEdit.h>
#include <tessel/widgets/TLabel.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItem>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

using namespace Tessel::Widgets;

namespace {
const int PageTimeout = 180000;
} // namespace

GuiDriver::GuiDriver(MainWindow* window, const QString& screenshotDir)
    : m_window(window), m_screenshotDir(screenshotDir)
{
    if (!m_screenshotDir.isEmpty()) {
        QDir().mkpath(m_screenshotDir);
    }
}

RecoveryModule* GuiDriver::module() const
{
    return m_window->recoveryModule();
}

bool GuiDriver::fail(const QString& reason)
{
    m_error = reason;
    return false;
}

void GuiDriver::shot(const QString& name)
{
    shotOf(m_window, name);
}

bool GuiDriver::waitForTop(const std::function<QWidget*()>& page, int timeoutMs, const QString& what)
{
    if (!QTest::qWaitFor([&] { return page() != nullptr && m_window->topWidget() == page(); }, timeoutMs)) {
        return fail(what + " did not come up");
    }
    QTest::qWait(50);
    return true;
}

void GuiDriver::shotOf(QWidget* widget, const QString& name)
{
    if (m_screenshotDir.isEmpty()) {
        return;
    }
    QCoreApplication::processEvents();
    const QString file =
        QString("%1/%2-%3.png").arg(m_screenshotDir).arg(m_screenshots.size() + 1, 2, 10, QChar('0')).arg(name);
    if (widget->grab().save(file)) {
        m_screenshots.append(file);
    }
}

bool GuiDriver::openRestorePage()
{
    RecoveryPage* home = module()->homePage();
    if (!waitForTop([home] { return home; }, 5000, "the home page")) {
        return false;
    }
    QTest::mouseClick(home->tile(1), Qt::LeftButton);
    shot("home-system-restore");
    QTest::mouseClick(home->nextButton(), Qt::LeftButton);
    if (!waitForTop([this] { return module()->systemRestoreWidget(); }, PageTimeout, "the restore page")) {
        return fail(m_error + ": " + home->errorLabel()->text());
    }
    shot("restore-page");
    return true;
}

bool GuiDriver::factoryReset(bool keepPersonalFiles)
{
    RestorePage* page = module()->systemRestoreWidget()->restorePage();
    page->factoryItem()->radioButton()->click();
    if (!page->restoreButton()->isEnabled()) {
        return fail("Restore Now is disabled for the factory reset");
    }
    page->keepCheckBox()->setChecked(keepPersonalFiles);
    shot(keepPersonalFiles ? "factory-reset-keep-files" : "factory-reset-clear-all");
    const DialogAnswer confirm(1, [this](TDialog* dialog) { shotOf(dialog, "factory-reset-confirmation"); });
    QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
    return waitForTop([this] { return module()->workingPage(); }, 60000, "the progress page after the confirmation");
}

bool GuiDriver::restoreAgain()
{
    if (!waitForTop([this] { return module()->interruptedRestorePage(); }, 5000, "the page of the cut-off restore")) {
        return false;
    }
    shot("last-restore-did-not-finish");
    const DialogAnswer confirm(1, [this](TDialog* dialog) { shotOf(dialog, "restore-again-confirmation"); });
    QTest::mouseClick(module()->interruptedRestorePage()->restoreAgainButton(), Qt::LeftButton);
    return waitForTop([this] { return module()->workingPage(); }, 60000, "the progress page after Restore Again");
}

bool GuiDriver::showRestorePoints(int* count)
{
    RestorePage* page = module()->systemRestoreWidget()->restorePage();
    if (page->restorePointItem() == nullptr) {
        return fail("the restore page offers no restore points");
    }
    page->restorePointItem()->radioButton()->click();
    *count = 0;
    for (int i = 0; i < page->model()->rowCount(); ++i) {
        *count += page->model()->item(i, TreeViewModel::PathColumn)->text().isEmpty() ? 0 : 1;
    }
    shot("restore-points");
    return true;
}

bool GuiDriver::restoreFromRestorePoint(const QString& pathSuffix)
{
    int count = 0;
    if (!showRestorePoints(&count)) {
        return false;
    }
    RestorePage* page = module()->systemRestoreWidget()->restorePage();
    TreeViewModel* model = page->model();
    int row = -1;
    for (int i = 0; i < model->rowCount() && row < 0; ++i) {
        if (model->item(i, TreeViewModel::PathColumn)->text().endsWith(pathSuffix)) {
            row = i;
        }
    }
    if (row < 0) {
        return fail("no restore point ends with " + pathSuffix);
    }
    BaseTableView* table = page->tableView();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualRect(model->index(row, 0)).center());
    if (!page->restoreButton()->isEnabled()) {
        return fail("Restore Now stays disabled after choosing the restore point");
    }
    shot("restore-point-chosen");
    QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
    return waitForTop([this] { return module()->workingPage(); }, 60000, "the progress page");
}

bool GuiDriver::clickRestoreFromFiles(const QString& directory)
{
    RestorePage* page = module()->systemRestoreWidget()->restorePage();
    if (page->backupFilesItem() == nullptr) {
        return fail("the restore page offers no restore from backup files");
    }
    page->backupFilesItem()->radioButton()->click();
    page->fileChooser()->setText(directory);
    if (!page->restoreButton()->isEnabled()) {
        return fail("Restore Now stays disabled for the backup directory " + directory);
    }
    shot("backup-files-chosen");
    QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
    return true;
}

bool GuiDriver::restoreFromBackupFiles(const QString& directory)
{
    return clickRestoreFromFiles(directory) &&
           waitForTop([this] { return module()->workingPage(); }, 60000, "the progress page");
}

bool GuiDriver::restoreOntoNewDisk(const QString& directory, const QString& drive, bool keepSize)
{
    if (!clickRestoreFromFiles(directory) ||
        !waitForTop([this] { return module()->diskChooser(); }, 60000, "the disk chooser")) {
        return false;
    }
    RestoreDiskChooser* chooser = module()->diskChooser();
    for (int row = 0; row < chooser->diskList()->count(); ++row) {
        chooser->diskList()->setCurrentRow(row);
        if (chooser->chosenDisk().value("drive").toString() == drive) {
            break;
        }
    }
    if (chooser->chosenDisk().value("drive").toString() != drive) {
        return fail("the disk chooser does not offer the drive " + drive);
    }
    chooser->wholeDiskBox()->setChecked(!keepSize);
    shot("disk-chosen");
    QTest::mouseClick(chooser->nextButton(), Qt::LeftButton);
    if (!waitForTop([this] { return module()->diskConfirmPage(); }, 10000, "the confirmation of the disk")) {
        return false;
    }
    shot("disk-confirmation");
    // With the old disk went its recovery partition: the window warns that a cut-off restore cannot be resumed.
    const DialogAnswer goOn(1, [this](TDialog* dialog) { shotOf(dialog, "restore-not-recorded"); });
    QTest::mouseClick(module()->diskConfirmPage()->restoreButton(), Qt::LeftButton);
    return waitForTop([this] { return module()->workingPage(); }, 60000, "the progress page");
}

bool GuiDriver::waitForResult(QString* title, int timeoutMs)
{
    int lastShot = -1;
    const bool ended = QTest::qWaitFor(
        [&] {
            WorkingPage* progress = module()->workingPage();
            // A picture on the way, once past the start and once past the middle.
            const int value = progress != nullptr ? progress->progressValue() : 0;
            const int stage = value >= 50 ? 50 : (value >= 5 ? 5 : -1);
            if (stage > lastShot && m_window->topWidget() == progress) {
                lastShot = stage;
                shot(QString("progress-%1").arg(value));
            }
            return module()->endPage() != nullptr && m_window->topWidget() == module()->endPage();
        },
        timeoutMs);
    if (!ended) {
        return fail("no result page within the time allowed");
    }
    QTest::qWait(50);
    shot("result");
    *title = module()->endPage()->title();
    return true;
}

void GuiDriver::backToHome()
{
    module()->active();
    QTest::qWait(50);
}

bool GuiDriver::openRepairPage(int timeoutMs)
{
    QMetaObject::invokeMethod(module(), "onRepairFileSystem");
    if (!waitForTop([this] { return module()->repairFileSystemWidget(); }, timeoutMs, "the repair page")) {
        return fail(m_error + ": " + module()->homePage()->errorLabel()->text());
    }
    shot("repair-page");
    return true;
}

bool GuiDriver::repairPartition(const QString& devicePath, QString* resultText, int timeoutMs)
{
    RepairFileSystemWidget* page = module()->repairFileSystemWidget();
    int row = 0;
    for (int n = 1; n <= page->rowCount() && row == 0; ++n) {
        row = page->devicePathOfRow(n) == devicePath ? n : 0;
    }
    if (row == 0) {
        return fail(devicePath + " is not on the repair page");
    }
    auto* button = page->findChild<QAbstractButton*>(QString("repair_btn_%1").arg(row));
    if (button == nullptr) {
        return fail(devicePath + " has no repair button: no errors were found on it");
    }
    const DialogAnswer confirm(1, [this](TDialog* dialog) { shotOf(dialog, "repair-confirmation"); });
    QTest::mouseClick(button, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return page->isRepairing(); }, 10000)) {
        return fail("the repair did not start");
    }
    shot("repairing");
    if (!QTest::qWaitFor([&] { return !page->isRepairing(); }, timeoutMs)) {
        return fail("the repair did not end in time");
    }
    shot("repair-result");
    *resultText = page->resultText();
    return true;
}

bool GuiDriver::browsePersonalFiles()
{
    backToHome();
    QTest::mouseClick(module()->homePage()->copyFilesButton(), Qt::LeftButton);
    BrowseFlow* flow = module()->browseFlow();
    if (!waitForTop([flow] { return flow->browsePage(); }, 5000, "the browse page") ||
        !QTest::qWaitFor([flow] { return flow->browsePage()->model()->rowCount() > 0; }, PageTimeout)) {
        return fail("the installed system's homes were not shown: " + flow->browsePage()->statusLabel()->text());
    }
    shot("browse-personal-files");
    return true;
}

bool GuiDriver::browseRestorePoint(const QString& pathSuffix)
{
    int count = 0;
    if (!openRestorePage() || !showRestorePoints(&count)) {
        return false;
    }
    RestorePage* page = module()->systemRestoreWidget()->restorePage();
    TreeViewModel* model = page->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        if (model->item(i, TreeViewModel::PathColumn)->text().endsWith(pathSuffix)) {
            BaseTableView* table = page->tableView();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                              table->visualRect(model->index(i, 0)).center());
            break;
        }
    }
    if (!page->browseButton()->isEnabled()) {
        return fail("Browse Files stays disabled for the restore point " + pathSuffix);
    }
    QTest::mouseClick(page->browseButton(), Qt::LeftButton);
    BrowseFlow* flow = module()->browseFlow();
    if (!waitForTop([flow] { return flow->browsePage(); }, 5000, "the browse page") ||
        !QTest::qWaitFor([flow] { return flow->browsePage()->model()->rowCount() > 0; }, PageTimeout)) {
        return fail("the restore point was not shown: " + flow->browsePage()->statusLabel()->text());
    }
    shot("browse-restore-point");
    return true;
}

bool GuiDriver::checkBrowsePath(const QString& path)
{
    BrowseFilesPage* page = module()->browseFlow()->browsePage();
    BrowseModel* model = page->model();
    const QStringList parts = path.split('/');
    for (int depth = 1; depth <= parts.size(); ++depth) {
        const QString prefix = parts.mid(0, depth).join('/');
        if (!QTest::qWaitFor([&] { return model->indexOfPath(prefix).isValid(); }, PageTimeout)) {
            return fail(prefix + " is not listed on the browse page");
        }
        if (depth < parts.size()) {
            page->treeView()->expand(model->indexOfPath(prefix));
        }
    }
    model->itemFromIndex(model->indexOfPath(path))->setCheckState(Qt::Checked);
    return true;
}

bool GuiDriver::copyFiles(const QStringList& paths, const QString& destUUID, QString* result, int timeoutMs)
{
    BrowseFlow* flow = module()->browseFlow();
    for (const QString& path : paths) {
        if (!checkBrowsePath(path)) {
            return false;
        }
    }
    shot("browse-files-chosen");
    QTest::mouseClick(flow->browsePage()->copyButton(), Qt::LeftButton);
    CopyDestinationPage* destinations = flow->destinationPage();
    if (!waitForTop([destinations] { return destinations; }, 5000, "the destination page")) {
        return false;
    }
    QTreeWidget* list = destinations->list();
    QTreeWidgetItem* wanted = nullptr;
    const bool offered = QTest::qWaitFor(
        [&] {
            for (int i = 0; i < list->topLevelItemCount() && wanted == nullptr; ++i) {
                list->setCurrentItem(list->topLevelItem(i));
                wanted = destinations->chosenUUID() == destUUID ? list->topLevelItem(i) : nullptr;
            }
            return wanted != nullptr;
        },
        PageTimeout);
    if (!offered) {
        return fail("the destination " + destUUID + " is not offered");
    }
    shot("browse-destination-chosen");
    QTest::mouseClick(destinations->copyButton(), Qt::LeftButton);
    CopyResultPage* page = flow->resultPage();
    if (!waitForTop([page] { return page; }, timeoutMs, "the copy's result page")) {
        return false;
    }
    shot("browse-copy-result");
    *result = page->title() + ": " + page->message();
    return page->isSuccess() || fail(*result);
}

void GuiDriver::leaveBrowse()
{
    CopyResultPage* page = module()->browseFlow()->resultPage();
    if (m_window->topWidget() == page) {
        QTest::mouseClick(page->homeButton(), Qt::LeftButton);
    }
}
