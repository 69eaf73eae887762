#include "BlockDisks.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace BlockDisks {

QString sysfsDirOf(const QString& device)
{
    return "/sys/class/block/" + QFileInfo(device).canonicalFilePath().section('/', -1);
}

QString readSysfs(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

int logicalSectorSize(const QString& disk)
{
    return std::max(512, readSysfs(sysfsDirOf(disk) + "/queue/logical_block_size").toInt());
}

int partitionNumber(const QString& sysfsDir)
{
    return readSysfs(sysfsDir + "/partition").toInt();
}

QString diskOf(const QString& partition)
{
    const QString dir = sysfsDirOf(partition);
    if (partition.isEmpty() || partitionNumber(dir) <= 0) {
        return QString();
    }
    return "/dev/" + QFileInfo(QFileInfo(dir).canonicalFilePath()).path().section('/', -1);
}

bool isOnDisk(const QString& device, const QString& disk)
{
    if (device.isEmpty() || disk.isEmpty()) {
        return false;
    }
    const QString canonicalDisk = QFileInfo(disk).canonicalFilePath();
    return QFileInfo(device).canonicalFilePath() == canonicalDisk || diskOf(device) == canonicalDisk;
}

QList<BlockEntry> list()
{
    QList<BlockEntry> entries;
    for (const QString& path : UDisks2Manager::blockDevices()) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (!device) {
            continue;
        }
        entries.append(
            {path, QString::fromUtf8(device->device()).remove(QChar(0)), device->idUUID(), device->idType()});
    }
    return entries;
}

QList<BlockEntry> withUUID(const QList<BlockEntry>& entries, const QString& uuid)
{
    QList<BlockEntry> found;
    if (uuid.isEmpty()) {
        return found;
    }
    for (const BlockEntry& entry : entries) {
        if (entry.uuid == uuid) {
            found.append(entry);
        }
    }
    return found;
}

QStringList devicesOf(const QList<BlockEntry>& entries)
{
    QStringList devices;
    for (const BlockEntry& entry : entries) {
        devices.append(entry.device);
    }
    return devices;
}

} // namespace BlockDisks
