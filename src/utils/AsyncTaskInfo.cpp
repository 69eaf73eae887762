// The two information jobs of the worker: the partition check list and the restore page information.

#include "AsyncTask.h"
#include "InstalledSystem.h"
#include "MountPath.h"

#include "Device.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QSettings>

namespace {

// The installed system's UUIDs, read once per process from the first fstab that could be read.
QStringList systemUUIDs(const FSTabInfoList& fstab)
{
    static QMutex mutex;
    static QStringList uuids;
    static bool known = false;
    QMutexLocker locker(&mutex);
    if (!known && !fstab.isEmpty()) {
        uuids = FSTab::getUUIDList(fstab);
        known = true;
    }
    return uuids;
}

// Whole loop devices are the live system's own images; a partition table on a loop disk holds real partitions.
bool isLoopDevice(const QString& devicePath)
{
    static const QRegularExpression wholeLoop("^/dev/loop\\d+$");
    return wholeLoop.match(devicePath).hasMatch();
}

bool isSkippedType(const QString& type)
{
    return type.contains("crypto_LUKS", Qt::CaseInsensitive) || type.contains("LVM2_member", Qt::CaseInsensitive);
}

QJsonObject toJson(const PartitionCheckItem& item)
{
    return QJsonObject{{"devicePath", item.devicePath}, {"label", item.label},   {"uuid", item.uuid},
                       {"mountPoint", item.mountPoint}, {"fsType", item.fsType}, {"status", item.status},
                       {"deviceType", item.deviceType}};
}

QJsonObject toJson(const BackupFileInfo& info)
{
    return QJsonObject{{"backupUUID", info.backupUUID},
                       {"backupPath", info.backupPath},
                       {"backupTime", info.backupTime},
                       {"createTime", info.createTime},
                       {"backupSize", double(info.backupSize)}};
}

QString fstabPathBelow(const QString& rootPath)
{
    return rootPath.endsWith('/') ? rootPath + "etc/fstab" : rootPath + "/etc/fstab";
}

} // namespace

QString AsyncTask::checkListJson(const QList<PartitionCheckItem>& items)
{
    QJsonArray array;
    for (const PartitionCheckItem& item : items) {
        array.append(toJson(item));
    }
    return Utils::jsonToString(QJsonObject{{"PartitionCheckItemList", array}});
}

void AsyncTask::partitionCheckList()
{
    if (m_liveType == -1) {
        m_liveType = Utils::getLiveType("/etc/fstab");
    }
    QList<BlkIdInfo> blkIdInfos;
    QList<PartitionCheckItem> items;
    QString err;
    if (Utils::getBlkIdInfoList(blkIdInfos, err)) {
        GetPartitionCheckItemList(items, m_liveType, blkIdInfos);
    }
    Q_EMIT getPartitionCheckItemFinish(checkListJson(items));
}

bool AsyncTask::GetPartitionCheckItemList(QList<PartitionCheckItem>& items, int liveType,
                                          const QList<BlkIdInfo>& blkIdInfos)
{
    QList<PartitionCheckItem> withoutFileSystem;
    QString recoveryDisk;
    QString seenSuffix;
    for (const BlkIdInfo& info : blkIdInfos) {
        if (isLoopDevice(info.devicePath) || isSkippedType(info.type)) {
            continue;
        }
        if (!info.uuid.isEmpty()) {
            if (info.type == "vfat" && info.partLabel == "recovery") {
                recoveryDisk = info.devicePath.left(8);
                continue;
            }
            PartitionCheckItem item;
            item.devicePath = info.devicePath;
            item.label = info.label;
            item.uuid = info.uuid;
            item.fsType = info.type;
            if (Utils::checkPartitionErrorByFsck(info.devicePath)) {
                item.status = -1;
                qWarning().noquote() << "partition error, devicePath: " + info.devicePath + ", uuid: " + info.uuid;
            }
            items.append(item);
            continue;
        }
        if (!info.partUuid.isEmpty()) {
            if (info.devicePath.left(8) == recoveryDisk) {
                continue;
            }
            const int dash = info.partUuid.indexOf('-');
            const QString suffix = dash < 0 ? QString() : info.partUuid.mid(dash + 1);
            if (!seenSuffix.isEmpty() && suffix == seenSuffix) {
                continue;
            }
            if (seenSuffix.isEmpty()) {
                seenSuffix = suffix;
            }
        }
        if (!info.ptUuid.isEmpty() && !info.ptType.isEmpty()) {
            continue;
        }
        PartitionCheckItem item;
        item.devicePath = info.devicePath;
        item.status = -1;
        withoutFileSystem.append(item);
    }
    if (liveType != 2 && liveType != 3) {
        addFstabInformation(items);
    }
    items.append(withoutFileSystem);
    return true;
}

void AsyncTask::addFstabInformation(QList<PartitionCheckItem>& items)
{
    if (m_rootMountPoint.isEmpty()) {
        bool wasMounted = false;
        m_rootMountPoint = Utils::mountReadOnlyByUUID(m_rootUUID, wasMounted);
        m_rootMountedHere = !wasMounted;
        if (m_rootMountPoint.isEmpty()) {
            qDebug() << "GetPartitionCheckItemList rootMountPoint isEmpty";
            markSystemPartitionsWithoutRoot(items);
            return;
        }
    } else {
        m_rootMountedHere = false;
    }
    if (m_fstabInfos.isEmpty()) {
        m_fstabInfos = FSTab::getFSTabFromFile(fstabPathBelow(m_rootMountPoint));
    }
    if (m_rootMountedHere) {
        Utils::umountDeviceByUUID(m_rootUUID);
    }
    const QStringList uuids = systemUUIDs(m_fstabInfos);
    for (PartitionCheckItem& item : items) {
        if (!uuids.contains(item.uuid)) {
            item.deviceType = 0;
            continue;
        }
        item.deviceType = 1;
        const FSTabInfoPtr entry = FSTab::findByUUID(m_fstabInfos, item.uuid);
        item.mountPoint = entry ? entry->mountPoint : QString();
        if (entry && entry->mountPoint == "none" && entry->type == "swap") {
            item.mountPoint = "SWAP";
        }
    }
}

// A root that does not mount is the partition most in need of a check: it and the partitions the recovery
// partition's backup records name are the installed system's.
void AsyncTask::markSystemPartitionsWithoutRoot(QList<PartitionCheckItem>& items)
{
    QMap<QString, QString> known{{m_rootUUID, "/"}};
    const QString recoveryUUID = InstalledSystem::recoveryUUIDOf(QString(), m_rootUUID);
    known.insert(recoveryUUID, QString());
    const bool wasMounted = !Utils::mountPointOfUUID(recoveryUUID).isEmpty();
    const QString recoveryPath = Utils::mountDeviceByUUID(recoveryUUID);
    if (!recoveryPath.isEmpty()) {
        const QDir backup(recoveryPath + "/backup", "*.info");
        for (const QString& name : backup.entryList(QDir::Files)) {
            QFile file(backup.filePath(name));
            if (file.open(QIODevice::ReadOnly)) {
                known.insert(QString::fromUtf8(file.read(256)).simplified(), QString());
            }
        }
        if (!wasMounted) {
            Utils::umountDeviceByUUID(recoveryUUID);
        }
    }
    known.remove(QString());
    // The others stay undetermined (shown): without the fstab nothing says they are not the system's.
    for (PartitionCheckItem& item : items) {
        const auto found = known.constFind(item.uuid);
        if (found != known.constEnd()) {
            item.deviceType = 1;
            item.mountPoint = found.value();
        }
    }
}

QString AsyncTask::rootFile(const QString& relative) const
{
    return m_rootMountPoint + relative;
}

void AsyncTask::initLiveRestorePageInfo()
{
    // Only looked at, before anybody chose to write it: no journal is replayed, and a mount of somebody else's stays.
    bool rootWasMounted = false;
    m_rootMountPoint = Utils::mountReadOnlyByUUID(m_rootUUID, rootWasMounted);
    // A root that does not mount tells nothing: its facts stay at their defaults (never the live system's own).
    const bool rootRead = !m_rootMountPoint.isEmpty();
    QString osType = "Professional";
    int osVersion = 0;
    if (rootRead) {
        const QSettings desktop(rootFile("/usr/lib/marlin/desktop-version"), QSettings::IniFormat);
        osType = desktop.value("Release/Type", "Professional").toString();
        // A link inside the installed system points inside it, not into the live system.
        const QString osVersionFile = MountPath::resolveInRoot(m_rootMountPoint, "/etc/os-version");
        osVersion = QSettings(osVersionFile, QSettings::IniFormat).value("Version/MinorVersion").toInt();
        m_fstabInfos = FSTab::getFSTabFromFile(fstabPathBelow(m_rootMountPoint));
    } else {
        qWarning().noquote() << "initLiveRestorePageInfo, the installed root does not mount, uuid: " + m_rootUUID;
        m_fstabInfos.clear();
    }
    m_fstabUUIDs = FSTab::getUUIDList(m_fstabInfos);
    bool isEncrypted = false;
    bool isFileManagerEncrypted = false;
    const bool isLvm = Device::getEncryptionInfoByUUIDs(m_fstabUUIDs, isEncrypted, isFileManagerEncrypted);
    m_recoveryUUID = InstalledSystem::recoveryUUIDOf(m_rootMountPoint, m_rootUUID);

    bool isExitsInitBackup = false;
    bool recoveryJsonRead = false;
    QJsonObject recoveryJson;
    QJsonObject restoreMark;
    QList<BackupFileInfo> history;
    if (!m_recoveryUUID.isEmpty()) {
        const QString recoveryPath = Utils::mountDeviceByUUID(m_recoveryUUID);
        if (!recoveryPath.isEmpty()) {
            isExitsInitBackup = !QDir(QString("%1/backup").arg(recoveryPath)).entryList({"*.rbk"}).isEmpty();
            recoveryJsonRead =
                Utils::getRecoveryJsonInfo(recoveryJson, QString("%1/backup/recovery.json").arg(recoveryPath));
            restoreMark = Utils::readRestoreMark(recoveryPath);
            Utils::getHistoryBackup(history, QString("%1/backup/savePath.json").arg(recoveryPath), true);
        }
        Utils::umountDeviceByUUID(m_recoveryUUID);
    }
    QJsonArray backups;
    for (const BackupFileInfo& info : history) {
        backups.append(toJson(info));
    }
    const QJsonObject page{
        {"recoveryUUID", m_recoveryUUID},
        {"osType", osType},
        {"backupInfo", Utils::jsonToString(QJsonObject{{"BackupFileInfoList", backups}})},
        {"recoveryInfo", recoveryJsonRead ? Utils::jsonToString(recoveryJson) : QString()},
        {"osVersion", osVersion},
        {"isExitsInitBackup", isExitsInitBackup},
        {"isDeviceOS", osType == "Device"},
        {"isLvm", isLvm},
        {"isEncrypted", isEncrypted},
        {"isFileManagerEncrypted", isFileManagerEncrypted},
        // A restore that was cut off after it began writing; empty when there is none.
        {"interruptedRestore", restoreMark.isEmpty() ? QString() : Utils::jsonToString(restoreMark)},
    };
    const QString data = Utils::jsonToString(page);
    qInfo().noquote() << "RestoreBaseInfo data: " + data;
    if (rootRead && !rootWasMounted) {
        Utils::umountDeviceByUUID(m_rootUUID);
    }
    Q_EMIT initLiveRestorePageFinish(data);
}
