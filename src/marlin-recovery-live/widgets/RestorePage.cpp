#include "RestorePage.h"

#include "BaseTableView.h"
#include "RadioItem.h"
#include "SettingsGroup.h"
#include "TreeViewModel.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFileChooserEdit.h>
#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TLabel.h>
#include <tessel/widgets/TTipLabel.h>
#include <tessel/widgets/TWaterProgress.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStandardItem>
#include <QTimer>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {

const int TableHolderMaxHeight = 130;
// Room the time and size columns keep beside the path column.
const int TimeColumnWidth = 170;
const int SizeColumnWidth = 110;

QCheckBox* newKeepCheckBox()
{
    auto* checkBox = new QCheckBox(RestorePage::tr("Keep personal files and apps"));
    checkBox->setMinimumSize(24, 24);
    checkBox->setFocusPolicy(Qt::NoFocus);
    return checkBox;
}

RadioItem* newFactoryItem()
{
    auto* item = new RadioItem;
    item->setText(RestorePage::tr("Reset to factory settings"));
    item->setTipText(
        RestorePage::tr("The initial backup file does not exist, so your system cannot be reset to factory settings."));
    return item;
}

} // namespace

RestorePage::RestorePage(QWidget* parent)
    : QWidget(parent), m_keepCheckBox(newKeepCheckBox()), m_fileChooser(new TFileChooserEdit),
      m_tipLabel(new TTipLabel), m_restoreButton(new QPushButton(tr("Restore Now"))), m_factoryItem(newFactoryItem()),
      m_filesItem(new RadioItem), m_restorePointItem(new RadioItem), m_busyButton(new QPushButton),
      m_tableView(new BaseTableView), m_model(new TreeViewModel(this)),
      m_group(new SettingsGroup(nullptr, SettingsGroup::GroupBackground)), m_tableHolder(new QWidget),
      m_layout(new QVBoxLayout(this)), m_choices(new QButtonGroup(this))
{
    initItems();
    initLayout();
    initConnections();
    initBrowseButton();
    m_factoryItem->radioButton()->setChecked(true);
    // The style and the busy animation need the widgets placed in the window first.
    QTimer::singleShot(0, this, &RestorePage::finishDeferredSetup);
}

QWidget* RestorePage::newKeepContent(QCheckBox* checkBox)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(28, 0, 0, 0);
    layout->addWidget(checkBox);
    return content;
}

void RestorePage::initItems()
{
    m_factoryItem->setContentWidget(newKeepContent(m_keepCheckBox));

    m_filesItem->setText(tr("Restore from backup files"));
    auto* filesContent = new QWidget;
    auto* filesLayout = new QVBoxLayout(filesContent);
    filesLayout->setContentsMargins(3, 3, 3, 3);
    auto* directoryRow = new QHBoxLayout;
    directoryRow->addWidget(new QLabel(tr("Backup directory")), 0, Qt::AlignVCenter);
    directoryRow->addSpacing(5);
    directoryRow->addWidget(m_fileChooser, 1, Qt::AlignVCenter);
    filesLayout->addLayout(directoryRow);
    // A whole-disk backup goes back onto the disk it was made of; this lets the person pick a new one instead.
    m_otherDiskCheckBox = new QCheckBox(tr("Choose the disk to restore a whole-disk backup onto"));
    filesLayout->addWidget(m_otherDiskCheckBox);
    m_fileChooser->setFileMode(QFileDialog::Directory);
    m_filesItem->setContentWidget(filesContent);

    m_restorePointItem->setText(tr("Restore from a restore point"));
    m_tableView->setModel(m_model);
    auto* holderLayout = new QHBoxLayout(m_tableHolder);
    holderLayout->setContentsMargins(3, 3, 3, 3);
    holderLayout->addWidget(m_tableView);
    m_tableHolder->setMaximumHeight(TableHolderMaxHeight);
    m_restorePointItem->setContentWidget(m_tableHolder);

    m_group->appendItem(m_factoryItem);
    m_group->appendItem(m_filesItem);
    m_group->appendItem(m_restorePointItem);
}

void RestorePage::initLayout()
{
    m_tipLabel->setVisible(false);
    m_restoreButton->setMinimumSize(240, 36);
    m_restoreButton->setFocusPolicy(Qt::NoFocus);
    m_busyButton->setVisible(false);
    m_busyButton->setFlat(true);
    m_busyButton->setFocusPolicy(Qt::NoFocus);
    m_busyButton->setMinimumSize(240, 90);

    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(1);
    m_layout->addWidget(m_group);
    m_layout->addWidget(m_tipLabel);
    m_layout->addStretch();
    m_layout->addWidget(m_busyButton, 0, Qt::AlignHCenter);
    m_layout->addStretch();
    m_layout->addWidget(m_restoreButton, 0, Qt::AlignHCenter);
}

void RestorePage::initConnections()
{
    connect(m_model, &TreeViewModel::itemsIsReady, this, &RestorePage::updateColumnWidth);
    connect(m_fileChooser, &TFileChooserEdit::dialogClosed, this, [this](int result) {
        if (result == QDialog::Accepted) {
            m_tipLabel->hide();
        }
    });
    connect(m_fileChooser, &TFileChooserEdit::textChanged, this, &RestorePage::onDirectoryChanged);
    connect(m_restoreButton, &QPushButton::clicked, this, &RestorePage::restore, Qt::QueuedConnection);
    for (RadioItem* item : {m_factoryItem, m_filesItem, m_restorePointItem}) {
        m_choices->addButton(item->radioButton());
        connect(item->radioButton(), &QRadioButton::toggled, this, &RestorePage::onItemChecked);
    }
    connect(m_tableView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &RestorePage::onCurrentRowChanged);
}

void RestorePage::finishDeferredSetup()
{
    m_tipLabel->setWordWrap(true);
    auto* busyLayout = new QVBoxLayout(m_busyButton);
    auto* progress = new TWaterProgress;
    progress->setFixedSize(48, 48);
    progress->setValue(50);
    progress->setTextVisible(false);
    progress->start();
    busyLayout->addWidget(progress, 0, Qt::AlignHCenter);
    busyLayout->addSpacing(5);
    busyLayout->addWidget(new QLabel(tr("Applying changes to your system...")), 0, Qt::AlignHCenter);
}

void RestorePage::setLiveMode()
{
    m_layout->setSpacing(0);
    auto* title = new TLabel(tr("Restore"));
    TFontSizeManager::instance()->bind(title, TFontSizeManager::T1);
    m_layout->insertWidget(0, title);
    m_layout->insertSpacing(1, 10);
    m_isLive = true;
    if (m_fileChooser != nullptr) {
        m_fileChooser->setFileMode(QFileDialog::Directory);
        m_fileChooser->setContextMenuPolicy(Qt::NoContextMenu);
        m_tableView->verticalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);
    }
}

bool RestorePage::hasBackupImage(const QString& directory)
{
    if (directory.isEmpty() || !QDir(directory).exists()) {
        return false;
    }
    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() == QLatin1String("rbk")) {
            return true;
        }
    }
    return false;
}

void RestorePage::onDirectoryChanged(const QString& directory)
{
    if (m_mode == BackupFiles) {
        m_restoreButton->setEnabled(hasBackupImage(directory));
    }
}

void RestorePage::showRestorePointContent(const QMargins& margins)
{
    m_restorePointItem->setContentWidget(m_tableHolder);
    m_tableHolder->setContentsMargins(margins);
    m_tableHolder->show();
}

void RestorePage::onItemChecked()
{
    auto* radio = qobject_cast<QRadioButton*>(sender());
    if (radio == nullptr || !radio->isChecked() || m_filesItem == nullptr) {
        return;
    }
    m_tipLabel->hide();
    const QSignalBlocker blockFactory(m_factoryItem->radioButton());
    const QSignalBlocker blockFiles(m_filesItem->radioButton());
    const QSignalBlocker blockPoint(m_restorePointItem->radioButton());
    for (RadioItem* item : {m_factoryItem, m_filesItem, m_restorePointItem}) {
        item->setChecked(false);
    }
    m_restoreButton->setEnabled(false);
    m_keepCheckBox->setChecked(false);
    if (radio == m_factoryItem->radioButton()) {
        m_factoryItem->setChecked(true);
        m_keepCheckBox->setChecked(true);
        m_mode = FactoryReset;
        m_restoreButton->setEnabled(true);
    } else if (radio == m_filesItem->radioButton()) {
        m_filesItem->setChecked(true);
        m_mode = BackupFiles;
        m_restoreButton->setEnabled(hasBackupImage(m_fileChooser->text()));
    } else {
        m_restorePointItem->setChecked(true);
        showRestorePointContent(QMargins(0, 0, 0, 10));
        m_mode = RestorePoint;
        emit requestTreeViewListItem(m_model);
        return;
    }
    // The table stays in place under its radio button, greyed out.
    showRestorePointContent(QMargins());
}

void RestorePage::onCurrentRowChanged(const QModelIndex& index)
{
    if (m_mode != RestorePoint) {
        return;
    }
    m_tipLabel->hide();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (QStandardItem* time = m_model->item(row, TreeViewModel::TimeColumn)) {
            time->setCheckState(row == index.row() ? Qt::Checked : Qt::Unchecked);
        }
    }
    const QStandardItem* path = index.isValid() ? m_model->item(index.row(), TreeViewModel::PathColumn) : nullptr;
    m_restoreButton->setEnabled(path != nullptr && !path->text().isEmpty());
}

// Also while the table is empty: its header shows every column from the start.
void RestorePage::updateColumnWidth()
{
    if (m_restorePointItem != nullptr) {
        m_tableView->setColumnWidth(TreeViewModel::PathColumn,
                                    m_restorePointItem->width() - TimeColumnWidth - SizeColumnWidth);
        m_tableView->setColumnWidth(TreeViewModel::SizeColumn, SizeColumnWidth);
    }
}

void RestorePage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateColumnWidth();
}

void RestorePage::onSystemRestoreItemVisibelChanged(bool value)
{
    m_factoryItem->setTipVisible(value);
    if (!value) {
        m_restoreButton->setEnabled(false);
    }
}

void RestorePage::onRestoreButtonVisibleChanged(bool value)
{
    m_restoreButton->setVisible(value);
    m_busyButton->setVisible(!value);
}

void RestorePage::showError(const QString& text)
{
    m_tipLabel->setText(text);
    m_tipLabel->show();
}

void RestorePage::onManualRestoreErrorChanged(Utils::ErrorType errorType)
{
    m_tipLabel->show();
    switch (errorType) {
    case Utils::InvalidBackupFile:
        m_tipLabel->setText(m_mode != FactoryReset ? tr("Backup file is invalid")
                                                   : tr("The initial backup file is broken, so your system cannot be "
                                                        "reset to factory settings."));
        break;
    case Utils::EncryptedPartition:
        m_tipLabel->setText(tr("The system contains encrypted partition, please decrypt it before using the backup "
                               "and restore function."));
        m_restoreButton->setEnabled(false);
        m_factoryItem->setEnabled(false);
        m_keepCheckBox->setEnabled(false);
        break;
    case Utils::PathError:
        m_tipLabel->setText(tr("Invalid path"));
        break;
    default:
        m_tipLabel->hide();
        break;
    }
}

void RestorePage::onCancelRestore()
{
    // No control of the live program leads here: a restore, once started, runs to its end.
    onRestoreButtonVisibleChanged(true);
}

void RestorePage::setFactoryResetOnly()
{
    // The items and the checkbox inside the factory item go with the group's contents.
    m_group->clear();
    m_filesItem = nullptr;
    m_restorePointItem = nullptr;
    m_tableHolder = nullptr;
    m_tableView = nullptr;
    m_fileChooser = nullptr;
    m_otherDiskCheckBox = nullptr;
    m_factoryItem = newFactoryItem();
    m_keepCheckBox = newKeepCheckBox();
    m_keepCheckBox->setChecked(true);
    m_factoryItem->setContentWidget(newKeepContent(m_keepCheckBox));
    m_factoryItem->setChecked(true);
    m_choices->addButton(m_factoryItem->radioButton());
    m_group->appendItem(m_factoryItem);
    m_mode = FactoryReset;
    updateBrowseButton();
    connect(m_factoryItem->radioButton(), &QRadioButton::clicked, this, [this] {
        m_factoryItem->setChecked(true);
        if (!m_keepCheckBox->isChecked()) {
            m_keepCheckBox->setChecked(true);
        }
    });
}

void RestorePage::restore()
{
    m_tipLabel->hide();
    if (m_mode == FactoryReset) {
        confirmFactoryReset();
    } else if (m_mode == BackupFiles) {
        const QString directory = m_fileChooser->text();
        if (directory.isEmpty()) {
            onManualRestoreErrorChanged(Utils::InvalidBackupFile);
            return;
        }
        if (m_otherDiskCheckBox->isChecked()) {
            emit requestRestoreOntoChosenDisk(directory);
        } else {
            emit requestManualRestore(directory);
        }
    } else {
        restoreFromRestorePoint();
    }
}

void RestorePage::restoreFromRestorePoint()
{
    const int row = m_tableView->currentIndex().row();
    const QStandardItem* pathItem = row < 0 ? nullptr : m_model->item(row, TreeViewModel::PathColumn);
    const QStandardItem* uuidItem = row < 0 ? nullptr : m_model->item(row, TreeViewModel::UUIDColumn);
    const QString path = pathItem != nullptr ? pathItem->text() : QString();
    if (path.isEmpty()) {
        onManualRestoreErrorChanged(Utils::InvalidBackupFile);
        return;
    }
    if (m_isLive) {
        emit requestManualRestoreNew(path, uuidItem != nullptr ? uuidItem->text() : QString());
    } else {
        emit requestManualRestore(path);
    }
}

void RestorePage::confirmFactoryReset()
{
    const bool keep = m_keepCheckBox->isChecked();
    if (confirmReset(this, keep, m_isLive)) {
        emit requestSystemRestore(!keep);
    }
}

bool RestorePage::confirmReset(QWidget* parent, bool keepPersonalFiles, bool isLive)
{
    TDialog dialog(parent);
    dialog.setIcon(QIcon::fromTheme("dialog-warning", QIcon(":/warning.svg")));
    if (isLive) {
        dialog.setWindowFlag(Qt::BypassWindowManagerHint);
    }
    if (keepPersonalFiles) {
        dialog.setTitle(tr("Keep Personal Files"));
        dialog.setMessage(tr("It will reset data on your system disk but keep your personal data. You need to create "
                             "an account with the same username as the current user so that you can access your "
                             "personal data later. Please confirm before proceeding."));
        // Wide enough for the long message in about seven lines at the dialog's font.
        const QFontMetrics metrics(dialog.font());
        const int lineHeight = metrics.lineSpacing();
        const int width = qMax(450, metrics.averageCharWidth() * 62);
        dialog.setFixedSize(width, 200 + lineHeight * 7);
    } else {
        dialog.setFixedSize(450, 240);
        dialog.setTitle(tr("Reset to Factory Settings"));
        dialog.setMessage(
            tr("It will permanently clear data of all users on this device, please confirm before proceeding"));
    }
    dialog.addButton(tr("Cancel"));
    const int confirm = dialog.addButton(tr("Confirm and Reset"), true, TDialog::ButtonWarning);
    dialog.moveToCenter();
    return dialog.exec() == confirm;
}

void RestorePage::initBrowseButton()
{
    m_browseButton = new QPushButton(tr("Browse Files…"));
    m_browseButton->setObjectName("browseButton");
    m_browseButton->setMinimumSize(240, 36);
    m_browseButton->setAutoDefault(true);
    m_layout->insertWidget(m_layout->indexOf(m_restoreButton), m_browseButton, 0, Qt::AlignHCenter);
    // Connected after the page's own handlers, so the restore button's state is settled when this runs.
    for (RadioItem* item : {m_factoryItem, m_filesItem, m_restorePointItem}) {
        connect(item->radioButton(), &QRadioButton::toggled, this, &RestorePage::updateBrowseButton);
    }
    connect(m_fileChooser, &TFileChooserEdit::textChanged, this, &RestorePage::updateBrowseButton);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &RestorePage::updateBrowseButton);
    connect(m_browseButton, &QPushButton::clicked, this, &RestorePage::browse);
    updateBrowseButton();
}

void RestorePage::updateBrowseButton()
{
    const bool offered = m_filesItem != nullptr;
    m_browseButton->setVisible(offered);
    m_browseButton->setEnabled(offered && m_mode != FactoryReset && m_restoreButton->isEnabled());
}

void RestorePage::browse()
{
    if (m_mode == BackupFiles) {
        emit requestBrowse(m_fileChooser->text(), QString());
        return;
    }
    const int row = m_tableView->currentIndex().row();
    const QStandardItem* pathItem = row < 0 ? nullptr : m_model->item(row, TreeViewModel::PathColumn);
    const QStandardItem* uuidItem = row < 0 ? nullptr : m_model->item(row, TreeViewModel::UUIDColumn);
    if (pathItem != nullptr && !pathItem->text().isEmpty()) {
        emit requestBrowse(pathItem->text(), uuidItem != nullptr ? uuidItem->text() : QString());
    }
}
