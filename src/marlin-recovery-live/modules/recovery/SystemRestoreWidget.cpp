#include "SystemRestoreWidget.h"

#include "widgets/LiveWidgets.h"

#include "widgets/RestorePage.h"
#include "widgets/TreeViewModel.h"
#include <utils.h>

#include <tessel/widgets/TFrame.h>
#include <tessel/widgets/TIconButton.h>

#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStandardItem>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {

const QString EncryptedMapper = "luks_crypt0";

QString boolText(bool value)
{
    return value ? "true" : "false";
}

// A restore point's own size on disk; nothing for a row without one.
QString sizeText(const QJsonValue& bytes)
{
    return bytes.toDouble() > 0 ? QLocale().formattedDataSize(qint64(bytes.toDouble()), 1) : QString();
}

QList<QStandardItem*> tableRow(const QString& path, const QString& time, const QString& size, const QString& uuid)
{
    return {new QStandardItem(path), new QStandardItem(size), new QStandardItem(time), new QStandardItem(uuid)};
}

} // namespace

RestoreBaseInfo RestoreBaseInfo::fromJson(const QString& json)
{
    const QJsonObject obj = QJsonDocument::fromJson(json.toUtf8()).object();
    RestoreBaseInfo info;
    info.recoveryUUID = obj.value("recoveryUUID").toString();
    info.osType = obj.value("osType").toString();
    info.backupInfo = obj.value("backupInfo").toString();
    info.recoveryInfo = obj.value("recoveryInfo").toString();
    info.osVersion = obj.value("osVersion").toInt(-1);
    info.isExitsInitBackup = obj.value("isExitsInitBackup").toBool(false);
    info.isDeviceOS = obj.value("isDeviceOS").toBool(false);
    info.isLvm = obj.value("isLvm").toBool(false);
    info.isEncrypted = obj.value("isEncrypted").toBool(false);
    info.isFileManagerEncrypted = obj.value("isFileManagerEncrypted").toBool(false);
    return info;
}

SystemRestoreWidget::SystemRestoreWidget(QWidget* parent)
    : QWidget(parent), m_backwardButton(LiveWidgets::newBackwardButton()), m_frame(new TFrame)
{
    connect(m_backwardButton, &TIconButton::clicked, this, &SystemRestoreWidget::cancel);

    auto* frameLayout = new QVBoxLayout;
    frameLayout->setContentsMargins(100, 0, 100, 4);
    m_frame->setLayout(frameLayout);
    m_frame->setContentsMargins(0, 0, 0, 0);
    createRestorePage();
    m_hasEncryptedMapper = findEncryptedMapper("/dev/mapper");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_backwardButton, 0, Qt::AlignLeft);
    layout->addWidget(m_frame);
}

void SystemRestoreWidget::createRestorePage()
{
    delete m_restorePage;
    m_restorePage = new RestorePage;
    m_restorePage->setLiveMode();
    m_frame->layout()->addWidget(m_restorePage);
    connect(m_restorePage, &RestorePage::requestSystemRestore, this, &SystemRestoreWidget::onSystemRestore);
    connect(m_restorePage, &RestorePage::requestManualRestore, this, &SystemRestoreWidget::onCustomRestore);
    connect(m_restorePage, &RestorePage::requestRestoreOntoChosenDisk, this,
            &SystemRestoreWidget::chosenDiskRestoreClicked);
    connect(m_restorePage, &RestorePage::requestManualRestoreNew, this, &SystemRestoreWidget::onManualRestore);
    connect(m_restorePage, &RestorePage::requestTreeViewListItem, this,
            &SystemRestoreWidget::onProcessTreeViewListItem);
    connect(m_restorePage, &RestorePage::requestBrowse, this, &SystemRestoreWidget::browseClicked);
}

bool SystemRestoreWidget::findEncryptedMapper(const QString& directory)
{
    const QDir mapper(directory);
    return mapper.exists() &&
           mapper.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).contains(EncryptedMapper);
}

void SystemRestoreWidget::setMapperDirectory(const QString& directory)
{
    m_hasEncryptedMapper = findEncryptedMapper(directory);
}

void SystemRestoreWidget::loadRestorePageInfo(const QString& json)
{
    // Every load starts from the full page: an earlier load may have reduced it or left an error on it.
    if (m_shown) {
        createRestorePage();
    }
    m_info = RestoreBaseInfo::fromJson(json);
    if (isShowingOptions()) {
        m_shown = true;
        initUI(m_info);
        return;
    }
    emit recoveryTriggered(m_info.recoveryInfo);
}

void SystemRestoreWidget::initUI(const RestoreBaseInfo& info)
{
    m_restorePage->onSystemRestoreItemVisibelChanged(info.isExitsInitBackup);
    qDebug().noquote() << "is device os:" << boolText(info.isDeviceOS);
    if (!info.isDeviceOS && !m_hasEncryptedMapper && !info.isLvm && !info.isEncrypted && !info.isFileManagerEncrypted) {
        return;
    }
    m_restorePage->setFactoryResetOnly();
    m_restorePage->onSystemRestoreItemVisibelChanged(info.isExitsInitBackup);
    if (info.isExitsInitBackup && info.isFileManagerEncrypted) {
        m_restorePage->onManualRestoreErrorChanged(Utils::EncryptedPartition);
    }
}

void SystemRestoreWidget::onSystemRestore(bool formatData)
{
    qInfo().noquote() << "SystemRestoreWidget::onSystemRestore, formatData: " + boolText(formatData);
    emit systemRestoreClicked(formatData);
}

void SystemRestoreWidget::onCustomRestore(QString directory)
{
    qInfo().noquote() << "SystemRestoreWidget::onCustomRestore, directory: " + directory;
    emit customRestoreClicked(directory);
}

void SystemRestoreWidget::onManualRestore(QString directory, QString backupUUID)
{
    qInfo().noquote() << "SystemRestoreWidget::onManualRestore, directory: " + directory +
                             ", backupUUID = " + backupUUID;
    emit manualRestoreClicked(directory, backupUUID);
}

void SystemRestoreWidget::onProcessTreeViewListItem(TreeViewModel* model)
{
    model->clear();
    const QJsonArray backups =
        QJsonDocument::fromJson(m_info.backupInfo.toUtf8()).object().value("BackupFileInfoList").toArray();
    for (const QJsonValue& value : backups) {
        const QJsonObject backup = value.toObject();
        model->appendRow(tableRow(backup.value("backupPath").toString(), backup.value("backupTime").toString(),
                                  sizeText(backup.value("backupSize")), backup.value("backupUUID").toString()));
    }
    if (backups.isEmpty()) {
        model->appendRow(tableRow(QString(), QString(), QString(), QString()));
        model->appendRow(tableRow(QString(), QString(), QString(), QString()));
    }
    emit model->itemsIsReady();
}
