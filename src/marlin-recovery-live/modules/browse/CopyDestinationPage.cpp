#include "CopyDestinationPage.h"

#include <tessel/widgets/TFontSizeManager.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {

enum Column
{
    NameColumn = 0,
    DriveColumn,
    FsColumn,
    FreeColumn
};

const int UUIDRole = Qt::UserRole + 1;

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1);
}

} // namespace

CopyDestinationPage::CopyDestinationPage(QWidget* parent)
    : QWidget(parent), m_selectionLabel(new QLabel(this)), m_list(new QTreeWidget(this)),
      m_statusLabel(new QLabel(this)), m_backButton(new QPushButton(tr("Back"), this)),
      m_copyButton(new QPushButton(tr("Copy"), this))
{
    setAccessibleName("CopyDestinationPage");
    auto* title = new QLabel(tr("Copy to"), this);
    TFontSizeManager::instance()->bind(title, TFontSizeManager::T3);
    m_selectionLabel->setObjectName("selectionLabel");
    m_statusLabel->setObjectName("statusLabel");
    m_statusLabel->setWordWrap(true);
    m_list->setHeaderLabels({tr("Partition"), tr("Disk"), tr("File System"), tr("Free Space")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setColumnWidth(NameColumn, 240);
    m_list->setColumnWidth(DriveColumn, 190);
    m_list->setColumnWidth(FsColumn, 90);
    for (QPushButton* button : {m_backButton, m_copyButton}) {
        button->setMinimumSize(160, 36);
        button->setAutoDefault(true);
    }
    m_copyButton->setObjectName("copyButton");
    m_copyButton->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_copyButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 20, 30, 20);
    layout->addWidget(title);
    layout->addWidget(m_selectionLabel);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_statusLabel);
    layout->addLayout(buttons);
    setTabOrder(m_list, m_backButton);
    setTabOrder(m_backButton, m_copyButton);
    setFocusProxy(m_list);

    connect(m_backButton, &QPushButton::clicked, this, &CopyDestinationPage::back);
    connect(m_copyButton, &QPushButton::clicked, this, &CopyDestinationPage::onCopy);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &CopyDestinationPage::updateCopyButton);
    // Enter on a destination that can take the files copies there.
    connect(m_list, &QTreeWidget::itemActivated, this, &CopyDestinationPage::onCopy);
}

void CopyDestinationPage::startLoading(const QString& selection)
{
    m_list->clear();
    m_selectionLabel->setText(tr("Files to copy: %1").arg(selection));
    m_statusLabel->setText(tr("Looking for partitions, please wait..."));
    updateCopyButton();
}

void CopyDestinationPage::setDestinations(const QString& data, qint64 bytes, const QString& selection)
{
    m_list->clear();
    m_selectionLabel->setText(tr("Files to copy: %1").arg(selection));
    const QJsonArray destinations = QJsonDocument::fromJson(data.toUtf8()).object().value("destinations").toArray();
    QTreeWidgetItem* first = nullptr;
    for (const QJsonValue& value : destinations) {
        const QJsonObject destination = value.toObject();
        const QString label = destination.value("label").toString();
        const QString device = destination.value("devicePath").toString();
        const qint64 free = qint64(destination.value("free").toDouble());
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(NameColumn, label.isEmpty() ? device : label + " (" + device + ")");
        item->setText(DriveColumn, destination.value("drive").toString());
        item->setText(FsColumn, destination.value("fsType").toString());
        item->setText(FreeColumn,
                      tr("%1 free of %2").arg(sizeText(free), sizeText(qint64(destination.value("size").toDouble()))));
        item->setData(NameColumn, UUIDRole, destination.value("uuid").toString());
        if (free < 0) {
            // The service could not open it to measure: a copy could not open it either.
            item->setFlags(Qt::NoItemFlags);
            item->setText(FreeColumn, tr("cannot be opened"));
        } else if (free < bytes) {
            item->setFlags(Qt::NoItemFlags);
            item->setToolTip(NameColumn, tr("Not enough free space for the selection"));
            item->setText(FreeColumn, item->text(FreeColumn) + " – " + tr("too small"));
        } else if (first == nullptr) {
            first = item;
        }
    }
    m_statusLabel->setText(destinations.isEmpty() ? tr("No other partition can take the files. Connect a USB disk "
                                                       "and go back and forth to look again.")
                                                  : QString());
    if (first != nullptr) {
        m_list->setCurrentItem(first);
    } else if (!destinations.isEmpty()) {
        m_statusLabel->setText(tr("No partition has enough free space for the selection."));
    }
    updateCopyButton();
}

void CopyDestinationPage::showError(const QString& error)
{
    m_statusLabel->setText(error);
}

QString CopyDestinationPage::chosenUUID() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    return item != nullptr && item->flags().testFlag(Qt::ItemIsEnabled) ? item->data(NameColumn, UUIDRole).toString()
                                                                        : QString();
}

QString CopyDestinationPage::chosenName() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    return item != nullptr ? item->text(NameColumn) : QString();
}

void CopyDestinationPage::updateCopyButton()
{
    m_copyButton->setEnabled(!chosenUUID().isEmpty());
}

void CopyDestinationPage::onCopy()
{
    const QString uuid = chosenUUID();
    if (!uuid.isEmpty()) {
        emit copyTo(uuid);
    }
}

void CopyDestinationPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit back();
        return;
    }
    QWidget::keyPressEvent(event);
}
