#include "RestoreDiskChooser.h"

#include <tessel/widgets/TFontSizeManager.h>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

using Tessel::Widgets::TFontSizeManager;

namespace {

const int DiskRole = Qt::UserRole + 1;

// The service's fixed English reasons, as the person reads them.
QString reasonText(const QString& reason, qint64 needBytes)
{
    if (reason == "too small") {
        return RestoreDiskChooser::tr("too small, the backup needs %1").arg(QLocale().formattedDataSize(needBytes));
    }
    if (reason == "holds the backup") {
        return RestoreDiskChooser::tr("it holds the backup");
    }
    if (reason == "has a mounted partition") {
        return RestoreDiskChooser::tr("a partition on it is in use (mounted)");
    }
    return reason;
}

QString partitionText(const QJsonObject& partition)
{
    QStringList parts{partition.value("device").toString().section('/', -1)};
    const QString label = partition.value("label").toString();
    if (!label.isEmpty()) {
        parts.append(QString("\"%1\"").arg(label));
    }
    const QString type = partition.value("fsType").toString();
    if (!type.isEmpty()) {
        parts.append(type);
    }
    parts.append(QLocale().formattedDataSize(partition.value("size").toVariant().toLongLong()));
    if (partition.value("mounted").toBool()) {
        parts.append(RestoreDiskChooser::tr("mounted"));
    }
    return parts.join(' ');
}

} // namespace

RestoreDiskChooser::RestoreDiskChooser(QWidget* parent)
    : QWidget(parent), m_title(new QLabel(tr("Choose the disk to restore onto"), this)), m_message(new QLabel(this)),
      m_list(new QListWidget(this)), m_wholeDisk(new QCheckBox(tr("Use the whole disk (the last partition grows to "
                                                                  "fill a larger disk)"),
                                                               this)),
      m_back(new QPushButton(tr("Back"), this)), m_next(new QPushButton(tr("Next"), this))
{
    TFontSizeManager::instance()->bind(m_title, TFontSizeManager::T3);
    m_message->setWordWrap(true);
    m_wholeDisk->setChecked(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setWordWrap(true);
    for (QPushButton* button : {m_back, m_next}) {
        button->setFixedSize(200, 40);
    }
    m_next->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_back);
    buttons->addSpacing(20);
    buttons->addWidget(m_next);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 20, 40, 20);
    layout->addWidget(m_title, 0, Qt::AlignHCenter);
    layout->addWidget(m_message);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_wholeDisk);
    layout->addLayout(buttons);
    setTabOrder(m_list, m_wholeDisk);
    setTabOrder(m_wholeDisk, m_back);
    setTabOrder(m_back, m_next);

    connect(m_list, &QListWidget::currentItemChanged, this, [this]() { m_next->setEnabled(!chosenDisk().isEmpty()); });
    // Enter on a disk goes on, as the default button would.
    connect(m_list, &QListWidget::itemActivated, this, &RestoreDiskChooser::goOn);
    connect(m_next, &QPushButton::clicked, this, &RestoreDiskChooser::goOn);
    connect(m_back, &QPushButton::clicked, this, &RestoreDiskChooser::back);
}

QString RestoreDiskChooser::describe(const QJsonObject& disk)
{
    const QString model = disk.value("model").toString().trimmed();
    const QString serial = disk.value("serial").toString().trimmed();
    QString text = tr("%1, serial %2, %3 (%4)")
                       .arg(model.isEmpty() ? tr("Unknown disk") : model, serial.isEmpty() ? tr("none") : serial,
                            QLocale().formattedDataSize(disk.value("size").toVariant().toLongLong()),
                            disk.value("devicePath").toString());
    QStringList partitions;
    for (const QJsonValue& partition : disk.value("partitions").toArray()) {
        partitions.append(partitionText(partition.toObject()));
    }
    text += "\n" + (partitions.isEmpty() ? tr("No partitions") : tr("Holds: %1").arg(partitions.join(", ")));
    return text;
}

void RestoreDiskChooser::setDisks(const QJsonObject& data)
{
    const qint64 needBytes = data.value("needBytes").toVariant().toLongLong();
    const QString need = QLocale().formattedDataSize(needBytes);
    const QString recorded = data.value("recordedDrive").toString();
    m_message->setText(data.value("recordedPresent").toBool()
                           ? tr("Choose the disk to write this backup onto: it needs at least %1.").arg(need)
                           : tr("The disk this backup was made of is not in this computer. Choose the disk to write it "
                                "onto: it needs at least %1.")
                                 .arg(need));
    m_list->clear();
    QListWidgetItem* first = nullptr;
    for (const QJsonValue& value : data.value("disks").toArray()) {
        const QJsonObject disk = value.toObject();
        const bool qualifies = disk.value("qualifies").toBool();
        QString text = describe(disk);
        if (!recorded.isEmpty() && disk.value("drive").toString() == recorded) {
            text += "\n" + tr("The disk this backup was made of");
        }
        if (!qualifies) {
            text += "\n" + tr("Cannot be used: %1").arg(reasonText(disk.value("reason").toString(), needBytes));
        }
        auto* item = new QListWidgetItem(text, m_list);
        item->setData(DiskRole, disk);
        // A disk that cannot take the backup is shown, never chosen, and the arrow keys pass over it.
        item->setFlags(qualifies ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags);
        if (qualifies && first == nullptr) {
            first = item;
        }
    }
    m_list->setCurrentItem(first);
    m_next->setEnabled(first != nullptr);
    m_wholeDisk->setChecked(true);
    m_list->setFocus();
}

QJsonObject RestoreDiskChooser::chosenDisk() const
{
    const QListWidgetItem* item = m_list->currentItem();
    if (item == nullptr || !(item->flags() & Qt::ItemIsEnabled)) {
        return QJsonObject();
    }
    return item->data(DiskRole).toJsonObject();
}

bool RestoreDiskChooser::keepSize() const
{
    return !m_wholeDisk->isChecked();
}

void RestoreDiskChooser::goOn()
{
    const QJsonObject disk = chosenDisk();
    if (!disk.isEmpty()) {
        Q_EMIT chosen(disk, keepSize());
    }
}
