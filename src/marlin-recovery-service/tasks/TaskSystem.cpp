// The installed system as a task sees it: its partitions by UUID, their drives, mounting, and the edition fix-up.

#include "tasks/Task.h"

#include "BlockDisks.h"
#include "MountPath.h"

#include "core/command.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "udisks2/UDisks2Partition.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

namespace {

QString rootUUIDFromCommandLine()
{
    QFile file("/proc/cmdline");
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return QString();
    }
    const QStringList words = QString::fromUtf8(file.readAll()).split(' ');
    for (const QString& word : words) {
        if (!word.startsWith("root=")) {
            continue;
        }
        QString uuid;
        if (word.contains("UUID=")) {
            uuid = word.split('=').constLast().simplified();
        } else {
            uuid = Utils::uuidOfDeviceLink(word.mid(5).simplified(), QString());
        }
        qDebug() << "Root UUID:" << uuid;
        return uuid;
    }
    return QString();
}

QString readSimplified(const QString& path, bool& found)
{
    QFile file(path);
    found = file.exists() && file.open(QIODevice::ReadOnly | QIODevice::Text);
    return found ? QString::fromUtf8(file.readAll()).simplified() : QString();
}

QString devicePathOf(const UDisks2BlockDevice& device)
{
    return QString::fromUtf8(device.device()).remove(QChar(0));
}

// The drive name of a partition and the device path of its disk; both empty for anything but a partition.
QPair<QString, QString> driveAndDiskOf(const QString& path)
{
    std::unique_ptr<UDisks2Partition> partition = UDisks2Manager::createPartition(path);
    std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
    if (!partition || !device) {
        return {};
    }
    std::unique_ptr<UDisks2BlockDevice> disk = UDisks2Manager::createBlockDevice(partition->table());
    if (!disk) {
        return {};
    }
    return {device->driveName(), devicePathOf(*disk)};
}

std::unique_ptr<UDisks2BlockDevice> blockDeviceOf(const BlockEntry& entry)
{
    return entry.object.isEmpty() ? nullptr : UDisks2Manager::createBlockDevice(entry.object);
}

} // namespace

QString Task::osVersionFile(const QString& mountPoint) const
{
    // A link inside the installed system points inside it, not into the live system.
    return MountPath::resolveInRoot(mountPoint, "/etc/os-version");
}

void Task::getSystemUUID()
{
    m_rootUUID = rootUUIDFromCommandLine();
    m_isUEFI = QFileInfo::exists("/sys/firmware/efi");
    m_system.identify(m_rootUUID);
    QString rootPath;
    bool rootWasMounted = false;
    const BlockEntry root = m_system.deviceOf(m_rootUUID, true);
    if (!root.object.isEmpty()) {
        rootWasMounted = isMountedUUID(m_rootUUID);
        // Only looked at: its journal is not replayed before anybody chose to write it.
        rootPath = mountEntry(root, Utils::readOnlyMountOptions(root.type));
    }
    if (rootPath.isEmpty()) {
        // A broken root is why people come here: what a restore needs is found without it.
        qWarning().noquote() << "the installed root does not mount, uuid: " + m_rootUUID;
    } else {
        readRootFacts(rootPath);
    }
    m_recoveryUUID = Utils::findRecoveryUUID(rootPath, m_rootUUID, m_system.disk());
    qDebug() << "recovery UUID:" << m_recoveryUUID;
    if (!rootPath.isEmpty() && !rootWasMounted) {
        umountDeviceFromUUID(m_rootUUID);
    }
    if (!m_recoveryUUID.isEmpty()) {
        readRecoveryRecords();
    }
    if (m_dataUUID.isEmpty()) {
        m_dataUUID = dataUUIDFromFstab();
    }
    if (m_dataUUID.isEmpty()) {
        m_dataUUID = m_rootUUID;
    }
}

// Without the recovery partition's record of it, the data partition is the one the installed system mounts on
// /data: never nothing, or keeping personal files would write the data image over the homes.
QString Task::dataUUIDFromFstab() const
{
    for (const FSTabInfoPtr& info : m_fstabList) {
        if (!info->isComment && !info->isEmpty && info->mountPoint == "/data" && info->device.startsWith("UUID=")) {
            qInfo().noquote() << "data UUID taken from the installed fstab: " + info->device.mid(5);
            return info->device.mid(5);
        }
    }
    return QString();
}

void Task::readRootFacts(const QString& rootPath)
{
    const QString fstabPath = rootPath.endsWith('/') ? rootPath + "etc/fstab" : rootPath + "/etc/fstab";
    m_fstabList = FSTab::getFSTabFromFile(fstabPath);
    m_fstabUUIDs = FSTab::getUUIDList(m_fstabList);
    const QString recoveryConf = QString("%1/etc/marlin/system-recovery.conf").arg(rootPath);
    if (!QFile::exists(recoveryConf)) {
        qDebug().noquote() << "recoveryPath not exist!, recoveryPath: " + recoveryConf;
    }
    m_uuidMap.clear();
    for (const FSTabInfoPtr& info : m_fstabList) {
        if (!info->isComment && !info->isEmpty && !info->device.isEmpty() && info->type != "none") {
            m_uuidMap.insert(info->device.mid(5), *info);
        }
    }
    const QSettings desktop(QString("%1/usr/lib/marlin/desktop-version").arg(rootPath), QSettings::IniFormat);
    m_desktopType = desktop.value("Release/Type", "Professional").toString();
    m_curVerSysType = QSettings(osVersionFile(rootPath), QSettings::IniFormat).value("Version/EditionName").toString();
    qInfo().noquote().nospace() << "efiPath = /sys/firmware/efi, m_isUEFI = " << (m_isUEFI ? "true" : "false")
                                << ", curVerSysType: " << m_curVerSysType;
    Utils::getSystemLocale(rootPath, m_systemLocale);
    m_rootFactsRead = true;
}

void Task::refreshRootFacts()
{
    if (m_rootFactsRead || m_rootUUID.isEmpty()) {
        return;
    }
    const bool wasMounted = isMountedUUID(m_rootUUID);
    const QString rootPath = mountDeviceFromUUID(m_rootUUID);
    if (rootPath.isEmpty()) {
        qWarning().noquote() << "the restored root does not mount either, uuid: " + m_rootUUID;
        return;
    }
    qInfo().noquote() << "reading the installed system's facts from the restored root";
    readRootFacts(rootPath);
    if (!wasMounted) {
        umountDeviceFromUUID(m_rootUUID);
    }
}

void Task::readRecoveryRecords()
{
    // Someone may be reading a backup from it (a restore from the recovery partition): leave it as it was.
    const bool recoveryWasMounted = isMountedUUID(m_recoveryUUID);
    const QString recoveryPath = mountDeviceFromUUID(m_recoveryUUID);
    if (recoveryPath.isEmpty()) {
        qWarning().noquote() << "the recovery partition does not mount, uuid: " + m_recoveryUUID;
        return;
    }
    bool found = false;
    const QString dataUUID = readSimplified(QString("%1/backup/_mde_data.info").arg(recoveryPath), found);
    if (found && !dataUUID.isEmpty()) {
        m_dataUUID = dataUUID;
        qDebug() << "data UUID:" << m_dataUUID;
    }
    const QString originRootUUID = readSimplified(QString("%1/backup/system.info").arg(recoveryPath), found);
    if (found) {
        m_originRootUUID = originRootUUID;
        qDebug() << "origin root UUID:" << m_originRootUUID;
    }
    if (!recoveryWasMounted) {
        umountDeviceFromUUID(m_recoveryUUID);
    }
}

QString Task::mountDeviceFromUUID(const QString& uuid) const
{
    if (uuid.isEmpty()) {
        return QString();
    }
    QVariantMap options;
    const auto entry = m_uuidMap.constFind(uuid);
    if (m_readOnlyUUIDs.contains(uuid)) {
        options.insert("options", "ro");
    } else if (entry != m_uuidMap.constEnd() && entry->type == "btrfs" && entry->options.contains("compress=zstd")) {
        options.insert("options", "compress=zstd");
        qInfo().noquote() << "btrfs, mount uuid: " + uuid + ", with compress=zstd";
    }
    return mountEntry(deviceOfUUID(uuid), options);
}

QString Task::mountEntry(const BlockEntry& entry, const QVariantMap& options) const
{
    std::unique_ptr<UDisks2BlockDevice> device = blockDeviceOf(entry);
    if (!device) {
        return QString();
    }
    device->setWatchChanges(true);
    device->mount(options);
    const QByteArrayList points = device->mountPoints();
    return points.isEmpty() ? QString() : QString::fromUtf8(points.constFirst());
}

// The root, the data partition and the partitions the fstab names are taken on the system's disk alone; a UUID
// that only another disk carries is not theirs but a copy's.
BlockEntry Task::deviceOfUUID(const QString& uuid) const
{
    const bool systemOnly =
        uuid == m_rootUUID || uuid == m_dataUUID || uuid == m_originRootUUID || m_fstabUUIDs.contains(uuid);
    return m_system.deviceOf(uuid, systemOnly);
}

bool Task::refuseAmbiguousSystem()
{
    if (m_system.ambiguity().isEmpty()) {
        return false;
    }
    reportFailure(QCoreApplication::translate(
                      "Task", "The system's partitions are found on more than one device (%1). Remove the disks "
                              "that are not this computer's own and try again.")
                      .arg(m_system.ambiguity()));
    return true;
}

bool Task::isSystemPartition(const QString& uuid) const
{
    if (uuid.isEmpty()) {
        return false;
    }
    return uuid == m_rootUUID || uuid == m_dataUUID || uuid == m_recoveryUUID || m_fstabUUIDs.contains(uuid);
}

QString Task::mountReadOnlyFromUUID(const QString& uuid)
{
    if (uuid.isEmpty()) {
        return QString();
    }
    if (!isMountedUUID(uuid)) {
        m_readOnlyUUIDs.insert(uuid);
    }
    return mountDeviceFromUUID(uuid);
}

void Task::releaseReadOnlyMounts()
{
    for (const QString& uuid : std::as_const(m_readOnlyUUIDs)) {
        umountDeviceFromUUID(uuid);
    }
    m_readOnlyUUIDs.clear();
}

QString Task::devicePathFromUUID(const QString& uuid)
{
    return deviceOfUUID(uuid).device;
}

QString Task::targetPathFromUUID(const QString& uuid)
{
    const QString path = devicePathFromUUID(uuid);
    return path.isEmpty() ? m_system.damagedDeviceOf(uuid) : path;
}

bool Task::isMountedUUID(const QString& uuid) const
{
    const BlockEntry entry = deviceOfUUID(uuid);
    std::unique_ptr<UDisks2BlockDevice> device = blockDeviceOf(entry);
    return device && !device->mountPoints().isEmpty();
}

void Task::umountDeviceFromUUID(const QString& uuid)
{
    const BlockEntry entry = deviceOfUUID(uuid);
    std::unique_ptr<UDisks2BlockDevice> device = blockDeviceOf(entry);
    if (device) {
        device->unmount({});
    }
}

void Task::umountDevicePath(const QString& devicePath)
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (!device) {
            continue;
        }
        if (BlockDisks::isOnDisk(devicePathOf(*device), devicePath)) {
            if (!device->mountPoints().isEmpty()) {
                qInfo().noquote() << "umount before writing an image: " + devicePathOf(*device);
                device->unmount({});
            }
        }
    }
}

QPair<QString, QString> Task::driveAndDiskFromUUID(const QString& uuid)
{
    const BlockEntry entry = deviceOfUUID(uuid);
    return entry.object.isEmpty() ? QPair<QString, QString>() : driveAndDiskOf(entry.object);
}

QString Task::diskPathFromDrive(const QString& drive)
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        const QPair<QString, QString> driveAndDisk = driveAndDiskOf(path);
        if (driveAndDisk.first == drive && !driveAndDisk.second.isEmpty()) {
            return driveAndDisk.second;
        }
    }
    return QString();
}

QStringList Task::getDevicePathsFromDrive(const QString& drive)
{
    QSet<QString> disks;
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        const QPair<QString, QString> driveAndDisk = driveAndDiskOf(path);
        if (driveAndDisk.first == drive && !driveAndDisk.second.isEmpty()) {
            disks.insert(driveAndDisk.second);
        }
    }
    return QStringList(disks.begin(), disks.end());
}

QMap<QString, QString> Task::getUUIDFromFstab()
{
    QMap<QString, QString> uuidMap;
    const QString path = mountDeviceFromUUID(m_rootUUID);
    qDebug().noquote() << "path: " + path + ", m_rootUUID: " + m_rootUUID;
    QFile fstab(path + "/etc/fstab");
    if (!fstab.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "open file fail!";
        return uuidMap;
    }
    while (!fstab.atEnd()) {
        const QString line = QString::fromUtf8(fstab.readLine()).simplified();
        const QStringList fields = line.split(' ');
        // A UUID line without a mount point names nothing.
        if (!line.startsWith("UUID") || fields.size() < 2) {
            continue;
        }
        uuidMap.insert(fields.at(1), QString(fields.at(0)).remove("UUID="));
    }
    fstab.close();
    const QString osVersion = osVersionFile(path);
    m_osMinorVersion = QSettings(osVersion, QSettings::IniFormat).value("Version/MinorVersion").toInt();
    qWarning().noquote().nospace() << "osVersionFilePath = " << osVersion << ", osVersion = " << m_osMinorVersion;
    umountDeviceFromUUID(m_rootUUID);
    qDebug() << "uuidMap:" << uuidMap;
    return uuidMap;
}

bool Task::convertVersion(const QString& rootUUID)
{
    qWarning().noquote() << "convert begin, rootUUID: " + rootUUID;
    if (rootUUID.isEmpty()) {
        qCritical() << "root UUID is empty!";
        return false;
    }
    const QString mountPoint = mountDeviceFromUUID(rootUUID);
    if (mountPoint.isEmpty()) {
        qCritical().noquote() << "pro edu mountDeviceFromUUID failed, rootUUID = " + rootUUID;
        return false;
    }
    m_restoreVerSysType =
        QSettings(osVersionFile(mountPoint), QSettings::IniFormat).value("Version/EditionName").toString();
    qWarning().noquote() << "m_curVerSysType: " + m_curVerSysType + ", m_restoreVerSysType: " + m_restoreVerSysType +
                                ", rootMountPoint: " + mountPoint;
    if (m_curVerSysType != "E" || m_restoreVerSysType != "Professional") {
        return true;
    }
    qWarning() << "Detect system version actived from Professional to education, need covert...";
    QString output;
    QString err;
    if (!SpawnCmd("sudo", {"/lib/marlin-recovery-gui/scripts/convert-version.sh", mountPoint}, output, err)) {
        qCritical().noquote() << "convert version failed, out: " + output + ", err: " + err;
        return false;
    }
    qWarning().noquote() << "convertVersion rootUUID: " + rootUUID + ", out: " + output + ", err: " + err;
    return true;
}
