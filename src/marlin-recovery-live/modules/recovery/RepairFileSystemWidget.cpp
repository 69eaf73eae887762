#include "RepairFileSystemWidget.h"

#include "PartitionItem.h"
#include "widgets/ItemFrame.h"
#include "widgets/LiveWidgets.h"

#include <AsyncTask.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TSpinner.h>

#include <QDebug>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

using namespace Tessel::Widgets;

namespace {
const QString RepairButtonPrefix = "repair_btn_";
const QString NormalButtonPrefix = "normal_btn_";
const QString ButtonFramePrefix = "btnFrame_";
const QString StatusLabelPrefix = "label_indicate_";
const QString NormalIcon = ":/partition_normal.svg";
const QString ExceptionIcon = ":/partition_exception.svg";
const QString FixNormalIcon = ":/fix_normal_16px.svg";
const QString FixHoverIcon = ":/fix_hover_16px.svg";
const QString FixPressIcon = ":/fix_press_16px.svg";
const int ErrorStatus = -1;
const int RowHeight = 70;
const int ListWidth = 660;
const QSize ScrollAreaSize(ListWidth, 420);
const QSize ButtonFrameSize(151, 50);
const int StatusSize = 36;
const int StatusIconSize = 24;
const int SpinnerSize = 26;
const int ResultIconSize = 32;
const int DiskIconSize = 32;
// What the row leaves between the device path and the status icon.
const int MountPointWidth = 150;

// Without the list there is nothing to show, so an unreadable answer gives no rows.
bool parseCheckList(const QString& json, QList<PartitionCheckItem>& items)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning().noquote() << "RepairFileSystemWidget: unreadable partition check list:" << error.errorString();
        return false;
    }
    const QJsonArray array = doc.object().value("PartitionCheckItemList").toArray();
    for (const QJsonValue& value : array) {
        const QJsonObject obj = value.toObject();
        PartitionCheckItem item;
        item.devicePath = obj.value("devicePath").toString();
        item.label = obj.value("label").toString();
        item.uuid = obj.value("uuid").toString();
        item.mountPoint = obj.value("mountPoint").toString();
        item.fsType = obj.value("fsType").toString();
        item.status = obj.value("status").toInt(item.status);
        item.deviceType = obj.value("deviceType").toInt(item.deviceType);
        // Partitions outside the installed system's fstab are not the user's concern here.
        if (item.deviceType != 0) {
            items.append(item);
        }
    }
    return true;
}

// Detached at once so that name look-ups no longer find it; deleted later because it may be the widget whose
// signal is being handled right now.
void discard(QWidget* widget)
{
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (item->widget() != nullptr) {
            discard(item->widget());
        }
        delete item;
    }
}

void discardChildWidgets(QWidget* parent)
{
    const QList<QWidget*> children = parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        discard(child);
    }
}

QPixmap iconPixmap(const QString& path, int size)
{
    return ItemFrame::loadPixmap(path, QSize(size, size));
}
} // namespace

RepairFileSystemWidget::RepairFileSystemWidget(QWidget* parent) : QWidget(parent) {}

void RepairFileSystemWidget::initUI()
{
    m_backwardBtn = LiveWidgets::newBackwardButton(this);
    connect(m_backwardBtn, &TIconButton::clicked, this, &RepairFileSystemWidget::onBackWardClick);

    m_titleLabel = new QLabel(tr("Repair File System"), this);
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T4);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setFixedHeight(25);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setFixedSize(ScrollAreaSize);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->verticalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);
    m_listWidget = new QWidget;
    m_listWidget->setFixedSize(ListWidth, 0);
    m_scrollArea->setWidget(m_listWidget);
    clearList();

    m_resultIcon = new QLabel(this);
    m_resultIcon->setFixedSize(ResultIconSize, ResultIconSize);
    m_resultText = new QLabel(this);
    m_resultText->setAlignment(Qt::AlignCenter);
}

void RepairFileSystemWidget::initLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_backwardBtn, 0, Qt::AlignLeft);
    layout->addWidget(m_titleLabel);
    layout->addSpacing(30);

    // Centred, so the list stays in the middle of a full-screen window too.
    auto* listRow = new QHBoxLayout;
    listRow->addStretch();
    listRow->addWidget(m_scrollArea, 1);
    listRow->addStretch();
    layout->addLayout(listRow);

    auto* resultRow = new QHBoxLayout;
    resultRow->setSpacing(8);
    resultRow->addStretch();
    resultRow->addWidget(m_resultIcon);
    resultRow->addWidget(m_resultText);
    resultRow->addStretch();
    layout->addLayout(resultRow);
    // Spare height goes below the result instead of pulling the rows apart.
    layout->addStretch();
}

QString RepairFileSystemWidget::resultText() const
{
    return m_resultText->text();
}

void RepairFileSystemWidget::loadPartitionCheckList(const QString& json)
{
    // A reload during a repair keeps the repair going: its outcome is still to come for the same device.
    const QString repairingPath = m_repairing ? m_devicePaths.value(m_repairingRow) : QString();
    clearList();
    QList<PartitionCheckItem> items;
    const bool readable = parseCheckList(json, items);
    std::stable_sort(items.begin(), items.end(),
                     [](const PartitionCheckItem& a, const PartitionCheckItem& b) { return a.status < b.status; });
    bool hasErrors = false;
    for (const PartitionCheckItem& item : items) {
        addRow(item);
        hasErrors = hasErrors || item.status == ErrorStatus;
    }
    if (m_repairing) {
        m_repairingRow = repairingPath.isEmpty() ? -1 : m_devicePaths.key(repairingPath, -1);
        showRowRepairing(m_repairingRow);
    }
    if (hasErrors || !readable || m_repairing) {
        setResult(QString(), QString());
    } else {
        setResult(NormalIcon, tr("The file system has no errors."));
    }
}

void RepairFileSystemWidget::clearList()
{
    m_devicePaths.clear();
    delete m_gridLayout;
    discardChildWidgets(m_listWidget);
    m_gridLayout = new QGridLayout(m_listWidget);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    m_gridLayout->setVerticalSpacing(20);
    m_gridLayout->setHorizontalSpacing(10);
    m_listWidget->setFixedHeight(0);
}

void RepairFileSystemWidget::addRow(const PartitionCheckItem& item)
{
    const int n = rowCount() + 1;
    auto* partition = new PartitionItem(m_listWidget);
    auto* rowLayout = new QHBoxLayout(partition);
    rowLayout->setContentsMargins(10, 9, 5, 9);
    rowLayout->setSpacing(0);
    auto* diskIcon = new QLabel(partition);
    diskIcon->setFixedSize(DiskIconSize, DiskIconSize);
    diskIcon->setAlignment(Qt::AlignCenter);
    diskIcon->setPixmap(iconPixmap(":/drive-harddisk-32px.svg", DiskIconSize));
    rowLayout->addWidget(diskIcon);
    rowLayout->addSpacing(4);
    auto* pathLabel = new QLabel(item.devicePath, partition);
    pathLabel->setFixedWidth(220);
    rowLayout->addWidget(pathLabel);
    // A long mount point is shortened in the middle instead of pushing the status out; the tip tells it whole.
    auto* mountLabel = new QLabel(partition);
    mountLabel->setText(mountLabel->fontMetrics().elidedText(item.mountPoint, Qt::ElideMiddle, MountPointWidth));
    mountLabel->setToolTip(item.mountPoint);
    rowLayout->addWidget(mountLabel);
    rowLayout->addStretch();
    auto* status = new QLabel(partition);
    status->setObjectName(StatusLabelPrefix + QString::number(n));
    status->setFixedSize(StatusSize, StatusSize);
    status->setAlignment(Qt::AlignCenter);
    status->setPixmap(iconPixmap(item.status == ErrorStatus ? ExceptionIcon : NormalIcon, StatusIconSize));
    rowLayout->addWidget(status);
    m_gridLayout->addWidget(partition, n, 0);
    m_devicePaths.insert(n, item.devicePath);

    auto* frame = new QFrame(m_listWidget);
    frame->setObjectName(ButtonFramePrefix + QString::number(n));
    frame->setFixedSize(ButtonFrameSize);
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    m_gridLayout->addWidget(frame, n, 1);
    if (item.status == ErrorStatus) {
        addRepairButton(n);
    } else {
        auto* normal = new TIconButton(frame);
        normal->setObjectName(NormalButtonPrefix + QString::number(n));
        normal->setFlat(true);
        normal->setEnabled(false);
        frameLayout->addWidget(normal);
        frameLayout->addStretch();
    }
    m_listWidget->setFixedHeight(RowHeight * n);
    m_gridLayout->setRowStretch(n, 1);
}

void RepairFileSystemWidget::addRepairButton(int n)
{
    QFrame* frame = buttonFrame(n);
    if (frame == nullptr) {
        return;
    }
    auto* button = new TIconButton(frame);
    button->setObjectName(RepairButtonPrefix + QString::number(n));
    button->setIcon(QIcon(FixNormalIcon));
    button->setIconSize(QSize(16, 16));
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAttribute(Qt::WA_Hover);
    button->installEventFilter(this);
    connect(button, &TIconButton::clicked, this, &RepairFileSystemWidget::repairBtnClicked);
    auto* frameLayout = qobject_cast<QHBoxLayout*>(frame->layout());
    frameLayout->addWidget(button);
    frameLayout->addStretch();
}

void RepairFileSystemWidget::showRowRepairing(int n)
{
    QFrame* frame = buttonFrame(n);
    QLabel* status = statusLabel(n);
    if (frame == nullptr || status == nullptr) {
        return;
    }
    clearLayout(frame->layout());
    auto* label = new QLabel(tr("Repairing..."), frame);
    QFont font = label->font();
    font.setPixelSize(10);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    frame->layout()->addWidget(label);

    status->clear();
    auto* spinner = new TSpinner(status);
    spinner->setFixedSize(SpinnerSize, SpinnerSize);
    spinner->move((StatusSize - SpinnerSize) / 2, (StatusSize - SpinnerSize) / 2);
    spinner->show();
    spinner->start();
}

void RepairFileSystemWidget::setStatusIcon(int n, const QString& path)
{
    QLabel* status = statusLabel(n);
    if (status == nullptr) {
        return;
    }
    discardChildWidgets(status);
    status->setPixmap(iconPixmap(path, StatusIconSize));
}

void RepairFileSystemWidget::setResult(const QString& iconPath, const QString& text)
{
    if (iconPath.isEmpty()) {
        m_resultIcon->clear();
    } else {
        m_resultIcon->setPixmap(iconPixmap(iconPath, ResultIconSize));
    }
    m_resultText->setText(text);
}

QFrame* RepairFileSystemWidget::buttonFrame(int n) const
{
    return m_listWidget->findChild<QFrame*>(ButtonFramePrefix + QString::number(n));
}

QLabel* RepairFileSystemWidget::statusLabel(int n) const
{
    return m_listWidget->findChild<QLabel*>(StatusLabelPrefix + QString::number(n));
}

void RepairFileSystemWidget::onBackWardClick()
{
    emit backwardBtnClicked();
}

void RepairFileSystemWidget::repairBtnClicked()
{
    if (m_repairing || sender() == nullptr) {
        return;
    }
    const QString name = sender()->objectName();
    bool ok = false;
    const int n = name.mid(RepairButtonPrefix.size()).toInt(&ok);
    const QString devicePath = m_devicePaths.value(n);
    if (!name.startsWith(RepairButtonPrefix) || !ok || devicePath.isEmpty()) {
        return;
    }
    if (!confirmRepair(devicePath)) {
        return;
    }
    // The question waits in its own event loop; the list may have been reloaded meanwhile.
    if (m_repairing || m_devicePaths.value(n) != devicePath) {
        return;
    }
    m_backwardBtn->setEnabled(false);
    m_repairing = true;
    m_repairingRow = n;
    setResult(QString(), QString());
    emit enableReturnBtn(false);
    emit enableCloseBtn(false);
    showRowRepairing(n);
    emit repairFileSystemClicked(devicePath);
}

bool RepairFileSystemWidget::confirmRepair(const QString& devicePath)
{
    TDialog dialog(this);
    dialog.setMessage(
        tr("Are you sure you want to repair the file system of %1? It may lead to data loss.").arg(devicePath));
    dialog.setIcon(":/warning.svg");
    dialog.addButton(tr("Cancel"));
    const int repair = dialog.addButton(tr("Repair now"), true, TDialog::ButtonWarning);
    dialog.moveToCenter();
    return dialog.exec() == repair;
}

void RepairFileSystemWidget::fixSuccess()
{
    qInfo().noquote() << "fixSuccess！";
    if (!m_repairing) {
        return;
    }
    m_backwardBtn->setEnabled(true);
    if (QFrame* frame = buttonFrame(m_repairingRow)) {
        clearLayout(frame->layout());
    }
    setStatusIcon(m_repairingRow, NormalIcon);
    setResult(NormalIcon, tr("Repair completed. Reboot to enter the system."));
    endRepair();
}

void RepairFileSystemWidget::fixFailed(const QString& error)
{
    qInfo().noquote() << "fixFailed: " + error;
    if (!m_repairing) {
        return;
    }
    m_backwardBtn->setEnabled(true);
    if (QFrame* frame = buttonFrame(m_repairingRow)) {
        clearLayout(frame->layout());
        addRepairButton(m_repairingRow);
    }
    setStatusIcon(m_repairingRow, ExceptionIcon);
    setResult(ExceptionIcon, tr("Repair failed, please try another repair method."));
    endRepair();
}

void RepairFileSystemWidget::endRepair()
{
    m_repairing = false;
    m_repairingRow = -1;
    emit enableReturnBtn(true);
    emit enableCloseBtn(true);
}

bool RepairFileSystemWidget::eventFilter(QObject* watched, QEvent* event)
{
    // Only the repair buttons are watched.
    if (auto* button = qobject_cast<TIconButton*>(watched)) {
        switch (event->type()) {
        case QEvent::HoverEnter:
            button->setIcon(QIcon(FixHoverIcon));
            break;
        case QEvent::MouseButtonPress:
            button->setIcon(QIcon(FixPressIcon));
            break;
        case QEvent::HoverLeave:
        case QEvent::MouseButtonRelease:
            button->setIcon(QIcon(FixNormalIcon));
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
