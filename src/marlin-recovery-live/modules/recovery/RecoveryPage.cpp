#include "RecoveryPage.h"

#include "widgets/ItemFrame.h"
#include "widgets/LiveWidgets.h"

#include <core/command.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TLabel.h>
#include <tessel/widgets/TListView.h>
#include <tessel/widgets/TSpinner.h>

#include <QHBoxLayout>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {
const int TileLayout = 1002;
const QSize TileSize(240, 240);
const int TileIconSize = 96;
const QStringList AccessibleTexts = {"ivy_SystemRepairTool", "ivy_SystemRestore"};
} // namespace

RecoveryPage::RecoveryPage(QWidget* parent)
    : QWidget(parent), m_titles({tr("System Repair Tools"), tr("System Restore")}),
      m_descriptions({tr("System Repair Tools."), tr("System Restore.")}),
      m_icons({":/marlin-repair.svg", ":/system_restore.svg"})
{
    setAccessibleName("RecoveryPage");
    initUI();
    initTiles();
    connect(m_nextBtn, &QPushButton::clicked, this, &RecoveryPage::onNextBtnClicked);
    connect(m_retryBtn, &QPushButton::clicked, this, &RecoveryPage::retryService);
    connect(m_closeBtn, &TIconButton::clicked, this, &RecoveryPage::confirmExit);
}

void RecoveryPage::initUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);

    m_closeBtn = LiveWidgets::newCloseButton(this);
    layout->addWidget(m_closeBtn, 0, Qt::AlignRight);
    layout->addSpacing(36);

    m_listView = new TListView(this);
    m_listView->setAccessibleName("ivyBackup_BackupListView");
    if (m_fixedListSize) {
        m_listView->setFixedSize(760, 600);
    }
    m_listView->setFrameShape(QFrame::NoFrame);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setDragEnabled(false);
    m_listView->setSelectionMode(QAbstractItemView::NoSelection);
    m_listView->setFocusPolicy(Qt::NoFocus);
    m_listView->setResizeMode(QListView::Adjust);
    m_listView->setViewMode(QListView::IconMode);
    m_listView->setViewportMargins(0, 0, 0, 0);
    m_listView->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    m_listView->setSpacing(90);
    m_listView->setItemSize(TileSize);
    m_listView->setTextElideMode(Qt::ElideRight);
    m_listView->setItemRadius(8);
    m_listView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_model = new QStandardItemModel(m_listView);
    m_listView->setModel(m_model);
    layout->addWidget(m_listView, 0, Qt::AlignHCenter);
    layout->addStretch();

    m_copyFilesBtn = new QPushButton(tr("Copy Personal Files…"), this);
    m_copyFilesBtn->setObjectName("copyFilesButton");
    m_copyFilesBtn->setToolTip(tr("Copy documents off the installed system before restoring it"));
    m_copyFilesBtn->setMinimumSize(200, 32);
    m_copyFilesBtn->setAutoDefault(true);
    connect(m_copyFilesBtn, &QPushButton::clicked, this, &RecoveryPage::notifyCopyPersonalFiles);
    layout->addWidget(m_copyFilesBtn, 0, Qt::AlignHCenter);

    m_spinner = new TSpinner(this);
    m_spinner->setAccessibleName("RecoveryPage_TSpinner");
    m_spinner->setFocusPolicy(Qt::NoFocus);
    m_spinner->setFixedSize(32, 32);
    m_spinner->hide();
    auto* spinnerRow = new QHBoxLayout;
    spinnerRow->addStretch();
    spinnerRow->addWidget(m_spinner);
    spinnerRow->addStretch();
    layout->addLayout(spinnerRow);

    m_errorLabel = new TLabel(this);
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->setFocusPolicy(Qt::NoFocus);
    m_errorLabel->setForegroundColorType(TPalette::TextWarning);
    m_errorLabel->hide();
    m_retryBtn = new QPushButton(tr("Try Again"), this);
    m_retryBtn->setObjectName("retryButton");
    m_retryBtn->setMinimumSize(120, 30);
    m_retryBtn->hide();
    auto* errorRow = new QHBoxLayout;
    errorRow->setSpacing(12);
    errorRow->addStretch();
    errorRow->addWidget(m_errorLabel);
    errorRow->addWidget(m_retryBtn);
    errorRow->addStretch();
    layout->addLayout(errorRow);
    layout->addSpacing(8);

    m_nextBtn = new QPushButton(tr("Next"), this);
    m_nextBtn->setAccessibleName("ivyBackup_Next");
    m_nextBtn->setFixedSize(200, 36);
    m_nextBtn->setEnabled(false);
    auto* nextRow = new QHBoxLayout;
    nextRow->setContentsMargins(13, 0, 13, 0);
    nextRow->addWidget(m_nextBtn);
    layout->addLayout(nextRow, 4);
}

void RecoveryPage::initTiles()
{
    for (int row = 0; row < m_titles.size(); ++row) {
        auto* item = new QStandardItem;
        item->setData(AccessibleTexts.at(row), Qt::AccessibleTextRole);
        m_model->appendRow(item);
        auto* tile = new ItemFrame(m_titles.at(row), m_descriptions.at(row), m_icons.at(row), m_listView);
        tile->setLayoutType(TileLayout);
        tile->setFixedSize(TileSize);
        tile->setIcon(m_icons.at(row), TileIconSize);
        tile->initLayout();
        m_listView->setIndexWidget(m_model->index(row, 0), tile);
        connect(tile, &ItemFrame::clicked, this, &RecoveryPage::onItemChanged);
    }
}

ItemFrame* RecoveryPage::tile(int row) const
{
    return qobject_cast<ItemFrame*>(m_listView->indexWidget(m_model->index(row, 0)));
}

void RecoveryPage::setErrorTip(const QString& text, bool visible)
{
    m_retryBtn->hide();
    if (visible) {
        m_errorLabel->setText(text);
        m_errorLabel->show();
        return;
    }
    m_errorLabel->clear();
    m_errorLabel->hide();
}

void RecoveryPage::showServiceUnreachable(bool unreachable)
{
    setErrorTip(tr("The recovery service cannot be reached."), unreachable);
    m_retryBtn->setVisible(unreachable);
}

void RecoveryPage::startBusy()
{
    if (m_spinner == nullptr) {
        return;
    }
    m_spinner->show();
    m_spinner->start();
    m_nextBtn->setEnabled(false);
}

void RecoveryPage::stopBusy()
{
    if (m_spinner == nullptr) {
        return;
    }
    m_spinner->hide();
    m_spinner->stop();
    m_nextBtn->setEnabled(true);
}

void RecoveryPage::onItemChanged(bool checked)
{
    setErrorTip(QString(), false);
    if (!checked) {
        return;
    }
    for (int row = 0; row < m_model->rowCount(); ++row) {
        ItemFrame* frame = tile(row);
        if (frame == nullptr) {
            continue;
        }
        frame->setChecked(frame == sender());
        // The tile keeps the press so that its release reaches it; the list's current row must follow it here.
        if (frame == sender()) {
            m_listView->setCurrentIndex(m_model->index(row, 0));
        }
    }
    m_nextBtn->setEnabled(true);
}

void RecoveryPage::onNextBtnClicked()
{
    const QModelIndex index = m_listView->currentIndex();
    if (!index.isValid()) {
        return;
    }
    if (index.row() == RepairTools) {
        emit notifyRepairFileSystem();
    } else if (index.row() == Restore) {
        emit notifySystemRestore();
    }
}

void RecoveryPage::confirmExit()
{
    TDialog dialog(this);
    dialog.setMessage(tr("Are you sure you want to exit and reboot your computer?"));
    dialog.addButton(tr("Cancel"));
    const int restart = dialog.addButton(tr("Restart"), true, TDialog::ButtonWarning);
    dialog.setIcon(QIcon(":/warning.svg"));
    dialog.setWindowFlags(dialog.windowFlags() | Qt::X11BypassWindowManagerHint);
    dialog.moveToCenter();
    if (dialog.exec() == restart) {
        SpawnCmd("sudo", {"reboot", "-f"});
    }
}
