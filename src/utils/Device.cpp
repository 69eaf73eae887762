#include "Device.h"

#include "core/command.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

namespace {

const QString LsblkColumns =
    "NAME,KNAME,LABEL,UUID,TYPE,FSTYPE,SIZE,FSUSED,FSAVAIL,LOG-SEC,PHY-SEC,MOUNTPOINT,MODEL,RO,"
    "HOTPLUG,MAJ:MIN,PARTLABEL,PARTUUID,PKNAME,PATH,VENDOR,SERIAL,REV,ROTA";

const QRegularExpression& lsblkLine()
{
    static const QRegularExpression pattern(
        "NAME=\"(.*)\" KNAME=\"(.*)\" LABEL=\"(.*)\" UUID=\"(.*)\" TYPE=\"(.*)\" FSTYPE=\"(.*)\" SIZE=\"(.*)\" "
        "FSUSED=\"(.*)\" FSAVAIL=\"(.*)\" LOG-SEC=\"(.*)\" PHY-SEC=\"(.*)\" MOUNTPOINT=\"(.*)\" MODEL=\"(.*)\" "
        "RO=\"([0-9]+)\" HOTPLUG=\"([0-9]+)\" MAJ[_:]MIN=\"([0-9:]+)\" PARTLABEL=\"(.*)\" PARTUUID=\"(.*)\" "
        "PKNAME=\"(.*)\" PATH=\"(.*)\" VENDOR=\"(.*)\" SERIAL=\"(.*)\" REV=\"(.*)\" ROTA=\"(.*)\"");
    return pattern;
}

QString normalisedFsType(const QString& text)
{
    const QString fsType = text.trimmed().toLower();
    if (fsType == "crypto_luks") {
        return "luks";
    }
    if (fsType == "lvm2_member") {
        return "lvm2";
    }
    return fsType;
}

// Converts only a non-empty text; an empty column keeps the field's initial value.
void setUnsigned(quint64& field, const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty()) {
        field = trimmed.toULongLong();
    }
}

int numberOr(const QString& text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

void fillMajorMinor(DeviceInfo& info)
{
    const int colon = info.majMin.indexOf(':');
    info.major = numberOr(info.majMin.left(colon), -1);
    info.minor = numberOr(info.majMin.mid(colon + 1), -1);
}

void fillDiskPaths(DeviceInfo& info)
{
    info.deviceFile = QString("/dev/%1").arg(info.kname);
    if (!info.uuid.isEmpty()) {
        info.byUuidPath = QString("/dev/disk/by-uuid/%1").arg(info.uuid);
    }
    if (!info.label.isEmpty()) {
        info.byLabelPath = QString("/dev/disk/by-label/%1").arg(info.label);
    }
    if (!info.partUuid.isEmpty()) {
        info.byPartUuidPath = QString("/dev/disk/by-partuuid/%1").arg(info.partUuid);
    }
    if (!info.partLabel.isEmpty()) {
        info.byPartLabelPath = QString("/dev/disk/by-partlabel/%1").arg(info.partLabel);
    }
}

DeviceInfoPtr recordFrom(const QRegularExpressionMatch& match)
{
    DeviceInfoPtr info(new DeviceInfo);
    const auto text = [&match](int index) { return match.captured(index).trimmed(); };
    info->name = text(1);
    info->kname = text(2);
    info->label = text(3);
    info->uuid = text(4);
    info->type = text(5);
    info->fsType = normalisedFsType(match.captured(6));
    info->size = text(7).toLongLong();
    setUnsigned(info->fsUsed, match.captured(8));
    setUnsigned(info->fsAvail, match.captured(9));
    setUnsigned(info->logicalSectorSize, match.captured(10));
    setUnsigned(info->physicalSectorSize, match.captured(11));
    info->mountPoint = text(12);
    info->model = text(13);
    info->readOnly = text(14) == "1";
    info->hotplug = text(15) == "1";
    info->majMin = text(16);
    fillMajorMinor(*info);
    info->partLabel = match.captured(17);
    info->partUuid = text(18);
    info->pkname = text(19);
    info->path = text(20);
    info->vendor = text(21);
    info->serial = text(22);
    info->revision = text(23);
    info->rotational = numberOr(match.captured(24), -1);
    fillDiskPaths(*info);
    return info;
}

void setMapperNames(const QList<DeviceInfoPtr>& devices)
{
    const QFileInfoList entries = QDir("/dev/mapper/").entryInfoList();
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == "control" || !entry.isSymLink()) {
            continue;
        }
        const QString target = entry.symLinkTarget();
        for (const DeviceInfoPtr& device : devices) {
            if (device->deviceFile == target) {
                device->mapperName = entry.fileName();
                device->mapperPath = entry.absoluteFilePath();
            }
        }
    }
}

// dmsetup names each mapping's underlying device; apply it to the list being built, where lsblk may have left
// the parent out.
void setMapperParents(const QList<DeviceInfoPtr>& devices)
{
    QString output;
    if (!SpawnCmd("dmsetup", {"deps", "-o", "blkdevname"}, output)) {
        return;
    }
    static const QRegularExpression dependency("([^:]*)\\:.*\\((.*)\\)");
    const QStringList lines = output.split("\n");
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = dependency.match(line.trimmed());
        if (!match.hasMatch()) {
            continue;
        }
        const QString mapperName = match.captured(1);
        const QString dependencyName = match.captured(2).trimmed();
        const auto mapped = std::find_if(devices.begin(), devices.end(),
                                         [&](const DeviceInfoPtr& d) { return d->mapperName == mapperName; });
        const auto parent = std::find_if(devices.begin(), devices.end(),
                                         [&](const DeviceInfoPtr& d) { return d->kname == dependencyName; });
        if (mapped != devices.end() && parent != devices.end()) {
            (*mapped)->pkname = (*parent)->kname;
        }
    }
}

bool isEncryptedContainer(const DeviceInfo& d)
{
    return (d.type == "part" && d.fsType == "luks") || (d.type == "crypt" && d.fsType == "lvm2");
}

void adopt(const DeviceInfoPtr& parent, const DeviceInfoPtr& child)
{
    child->parentLink = parent;
    parent->children.append(child);
}

// Links every record of children whose parent kernel name is the parent's and that passes the filter.
template <typename Filter>
void adoptMatching(const DeviceInfoPtr& parent, const QString& parentName, const QList<DeviceInfoPtr>& children,
                   Filter filter)
{
    for (const DeviceInfoPtr& child : children) {
        if (child->pkname == parentName && filter(*child)) {
            adopt(parent, child);
        }
    }
}

bool minorFirst(const DeviceInfoPtr& a, const DeviceInfoPtr& b)
{
    return a->major == b->major && a->minor < b->minor;
}

void sortChildren(const DeviceInfoPtr& device)
{
    std::stable_sort(device->children.begin(), device->children.end(), minorFirst);
    for (const DeviceInfoPtr& child : device->children) {
        sortChildren(child);
    }
}

bool logParsedFailure(const char* function, const QStringList& args, const QString& output)
{
    qInfo().noquote().nospace() << function << ", spawnCmd failed, args = " << args.join(' ') << ", out = " << output;
    return false;
}

} // namespace

QString Device::getLsblkOutput()
{
    QString output;
    SpawnCmd("lsblk", {"--bytes", "--pairs", "--output", LsblkColumns}, output);
    return output;
}

QList<DeviceInfoPtr> Device::parseLsblkOutput(const QString& output)
{
    QList<DeviceInfoPtr> devices;
    const QStringList lines = output.split("\n", Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = lsblkLine().match(line);
        if (match.hasMatch()) {
            devices.append(recordFrom(match));
        }
    }
    return devices;
}

QList<DeviceInfoPtr> Device::getDeviceInfoList()
{
    const QList<DeviceInfoPtr> devices = parseLsblkOutput(getLsblkOutput());
    setMapperNames(devices);
    setMapperParents(devices);
    return devices;
}

void Device::sortByKind(const QList<DeviceInfoPtr>& devices, QList<DeviceInfoPtr>& disks,
                        QList<DeviceInfoPtr>& encryptedContainers, QList<DeviceInfoPtr>& lvmPvPartitions,
                        QList<DeviceInfoPtr>& partitions, QList<DeviceInfoPtr>& logicalVolumes,
                        QList<DeviceInfoPtr>& encryptedFileSystems)
{
    for (QList<DeviceInfoPtr>* list :
         {&disks, &encryptedContainers, &lvmPvPartitions, &partitions, &logicalVolumes, &encryptedFileSystems}) {
        list->clear();
    }
    for (const DeviceInfoPtr& device : devices) {
        if (device->type == "disk") {
            disks.append(device);
        } else if (isEncryptedContainer(*device)) {
            encryptedContainers.append(device);
        } else if (device->type == "part" && device->fsType == "lvm2") {
            lvmPvPartitions.append(device);
        } else if (device->type == "part") {
            partitions.append(device);
        } else if (device->type == "lvm") {
            logicalVolumes.append(device);
        } else if (device->type == "crypt") {
            encryptedFileSystems.append(device);
        }
    }
}

void Device::getDeviceListsByType(QList<DeviceInfoPtr>& disks, QList<DeviceInfoPtr>& encryptedContainers,
                                  QList<DeviceInfoPtr>& lvmPvPartitions, QList<DeviceInfoPtr>& partitions,
                                  QList<DeviceInfoPtr>& logicalVolumes, QList<DeviceInfoPtr>& encryptedFileSystems)
{
    sortByKind(getDeviceInfoList(), disks, encryptedContainers, lvmPvPartitions, partitions, logicalVolumes,
               encryptedFileSystems);
}

QList<DeviceInfoPtr>
Device::getDiskTree(const QList<DeviceInfoPtr>& disks, const QList<DeviceInfoPtr>& encryptedContainers,
                    const QList<DeviceInfoPtr>& lvmPvPartitions, const QList<DeviceInfoPtr>& partitions,
                    const QList<DeviceInfoPtr>& logicalVolumes, const QList<DeviceInfoPtr>& encryptedFileSystems)
{
    const auto any = [](const DeviceInfo&) { return true; };
    const auto isLuksPartition = [](const DeviceInfo& d) { return d.type == "part" && d.fsType == "luks"; };
    const auto isLvmMapping = [](const DeviceInfo& d) { return d.type == "crypt" && d.fsType == "lvm2"; };
    for (const DeviceInfoPtr& disk : disks) {
        adoptMatching(disk, disk->name, encryptedContainers, isLuksPartition);
        adoptMatching(disk, disk->kname, partitions, any);
        adoptMatching(disk, disk->kname, lvmPvPartitions, any);
    }
    for (const DeviceInfoPtr& container : encryptedContainers) {
        if (isLuksPartition(*container)) {
            adoptMatching(container, container->kname, encryptedFileSystems, any);
            adoptMatching(container, container->kname, encryptedContainers, isLvmMapping);
        }
    }
    for (const DeviceInfoPtr& carrier : encryptedContainers + lvmPvPartitions) {
        if (isLvmMapping(*carrier) || carrier->type == "part") {
            adoptMatching(carrier, carrier->kname, logicalVolumes, any);
        }
    }
    for (const DeviceInfoPtr& disk : disks) {
        sortChildren(disk);
    }
    return disks;
}

bool Device::getEncryptionInfoByUUIDs(const QStringList& uuids, bool& isEncrypted, bool& isFileManagerEncrypted)
{
    return encryptionInfoOf(getDeviceInfoList(), uuids, isEncrypted, isFileManagerEncrypted);
}

bool Device::encryptionInfoOf(const QList<DeviceInfoPtr>& devices, const QStringList& uuids, bool& isEncrypted,
                              bool& isFileManagerEncrypted)
{
    isEncrypted = false;
    isFileManagerEncrypted = false;
    QList<DeviceInfoPtr> disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems;
    sortByKind(devices, disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems);
    getDiskTree(disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems);

    bool onLogicalVolume = false;
    QSet<QString> matched;
    for (const DeviceInfoPtr& volume : volumes) {
        if (!uuids.contains(volume->uuid)) {
            continue;
        }
        matched.insert(volume->uuid);
        onLogicalVolume = true;
        const DeviceInfoPtr parent = volume->parent();
        if (!isEncrypted && parent && parent->type == "crypt" && parent->fsType == "lvm2") {
            isEncrypted = true;
        }
    }
    for (const DeviceInfoPtr& fileSystem : encryptedFileSystems) {
        if (uuids.contains(fileSystem->uuid)) {
            isFileManagerEncrypted = true;
            isEncrypted = true;
            return onLogicalVolume;
        }
    }
    if (!containers.isEmpty()) {
        for (const DeviceInfoPtr& partition : partitions) {
            if (partition->type == "part" && uuids.contains(partition->uuid)) {
                matched.insert(partition->uuid);
            }
        }
        // Some of the system's file systems on plain storage and others not found there: partly encrypted.
        if (!matched.isEmpty() && matched.size() < QSet<QString>(uuids.begin(), uuids.end()).size()) {
            isFileManagerEncrypted = true;
        }
    }
    if (isFileManagerEncrypted) {
        isEncrypted = true;
    }
    return onLogicalVolume;
}

bool Device::getAllMediaMountPoint(QList<QString>& mountPoints)
{
    mountPoints.clear();
    QString output;
    const QStringList args{"-c", "lsblk --output MOUNTPOINT | grep /media/"};
    if (!SpawnCmd("/bin/bash", args, output)) {
        return logParsedFailure("static bool Device::getAllMediaMountPoint(QList<QString>&)", args, output);
    }
    const QStringList lines = output.split("\n");
    for (const QString& line : lines) {
        if (!line.trimmed().isEmpty()) {
            mountPoints.append(line.trimmed());
        }
    }
    return true;
}

bool Device::getMountPointByUUID(const QString& uuid, QString& mountPoint)
{
    // The UUID comes from outside: filter lsblk's lines here instead of pasting it into a shell line.
    QString output;
    const QStringList args{"--output", "UUID,PATH"};
    if (uuid.isEmpty() || !SpawnCmd("lsblk", args, output)) {
        return logParsedFailure("static bool Device::getMountPointByUUID(const QString&, QString&)", args, output);
    }
    const QStringList lines = output.split("\n", Qt::SkipEmptyParts).filter(uuid);
    if (lines.isEmpty()) {
        return false;
    }
    const QString line = lines.constFirst().trimmed();
    const QString devicePath = line.mid(line.indexOf('/'));
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& volume : volumes) {
        if (QString::fromUtf8(volume.device()) == devicePath) {
            mountPoint = volume.rootPath();
            return true;
        }
    }
    return false;
}
