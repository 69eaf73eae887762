#include "BrowseFilesPage.h"

#include "BrowseModel.h"

#include <tessel/widgets/TFontSizeManager.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {
const int NameColumnWidth = 360;
const int SizeColumnWidth = 100;
} // namespace

BrowseFilesPage::BrowseFilesPage(QWidget* parent)
    : QWidget(parent), m_titleLabel(new QLabel(this)), m_model(new BrowseModel(this)), m_tree(new QTreeView(this)),
      m_statusLabel(new QLabel(this)), m_selectionLabel(new QLabel(this)),
      m_backButton(new QPushButton(tr("Back"), this)), m_copyButton(new QPushButton(tr("Copy…"), this))
{
    setAccessibleName("BrowseFilesPage");
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T3);
    m_statusLabel->setObjectName("statusLabel");
    m_statusLabel->setWordWrap(true);
    m_selectionLabel->setObjectName("selectionLabel");
    m_tree->setModel(m_model);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setUniformRowHeights(true);
    m_tree->setAllColumnsShowFocus(true);
    m_tree->header()->setStretchLastSection(true);
    m_tree->setColumnWidth(BrowseModel::NameColumn, NameColumnWidth);
    m_tree->setColumnWidth(BrowseModel::SizeColumn, SizeColumnWidth);
    for (QPushButton* button : {m_backButton, m_copyButton}) {
        button->setMinimumSize(160, 36);
        // Enter works on the focused button as Space does.
        button->setAutoDefault(true);
    }
    m_copyButton->setObjectName("copyButton");
    m_copyButton->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_selectionLabel, 1);
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_copyButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 20, 30, 20);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_statusLabel);
    layout->addLayout(buttons);
    setTabOrder(m_tree, m_backButton);
    setTabOrder(m_backButton, m_copyButton);
    setFocusProxy(m_tree);

    connect(m_backButton, &QPushButton::clicked, this, &BrowseFilesPage::back);
    connect(m_copyButton, &QPushButton::clicked, this, &BrowseFilesPage::copyRequested);
    connect(m_model, &BrowseModel::folderWanted, this, &BrowseFilesPage::folderWanted);
    connect(m_model, &BrowseModel::checkedChanged, this, &BrowseFilesPage::updateSelection);
}

void BrowseFilesPage::setTitle(const QString& text)
{
    m_titleLabel->setText(text);
}

void BrowseFilesPage::startLoading()
{
    m_model->setVolumes({});
    m_statusLabel->setText(tr("Opening, please wait..."));
    updateSelection();
}

void BrowseFilesPage::showVolumes(const QString& data)
{
    m_model->setVolumes(QJsonDocument::fromJson(data.toUtf8()).object().value("volumes").toArray());
    m_statusLabel->setText(m_model->rowCount() == 0 ? tr("There is nothing to browse.") : QString());
    m_tree->setCurrentIndex(m_model->index(0, BrowseModel::NameColumn));
    // Only one volume: its contents at once.
    if (m_model->rowCount() == 1) {
        m_tree->expand(m_model->index(0, BrowseModel::NameColumn));
    }
    updateSelection();
}

bool BrowseFilesPage::showEntries(const QString& data)
{
    const QJsonObject listing = QJsonDocument::fromJson(data.toUtf8()).object();
    const QString path = listing.value("path").toString();
    if (!m_model->setEntries(path, listing.value("entries").toArray())) {
        return false;
    }
    m_statusLabel->clear();
    m_tree->expand(m_model->indexOfPath(path));
    updateSelection();
    return true;
}

void BrowseFilesPage::showFolderError(const QString& path, const QString& error)
{
    m_model->forgetRequest(path);
    m_tree->collapse(m_model->indexOfPath(path));
    showError(error);
}

void BrowseFilesPage::showError(const QString& error)
{
    m_statusLabel->setText(error);
}

QString BrowseFilesPage::selectionText() const
{
    const int all = int(m_model->checkedPaths().size());
    const int folders = m_model->checkedFolders();
    const QString size = QLocale().formattedDataSize(m_model->checkedBytes(), 1);
    if (folders == 0) {
        return tr("%n file(s) (%1)", "", all).arg(size);
    }
    return tr("%n file(s) and %1 folder(s), at least %2", "", all - folders).arg(folders).arg(size);
}

void BrowseFilesPage::updateSelection()
{
    const bool any = !m_model->checkedPaths().isEmpty();
    m_copyButton->setEnabled(any);
    m_selectionLabel->setText(any ? tr("Selected: %1").arg(selectionText()) : tr("Check the files to copy."));
}

void BrowseFilesPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit back();
        return;
    }
    QWidget::keyPressEvent(event);
}
