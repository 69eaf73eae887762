#pragma once

// The machine's block devices as the kernel and udisksd see them, and which disk each partition belongs to. A UUID
// names a file system, not a place: a byte copy of a partition on another disk carries the same one, so every
// look-up that leads to a write goes through the disk as well.

#include <QList>
#include <QString>
#include <QStringList>

struct BlockEntry
{
    QString object; // the udisksd object path
    QString device; // "/dev/sda3"
    QString uuid;
    QString type;
};

namespace BlockDisks {

// The device's directory in sysfs ("/sys/class/block/sda3"), links resolved.
QString sysfsDirOf(const QString& device);
// A sysfs file's contents, trimmed; empty when it cannot be read.
QString readSysfs(const QString& path);
// The disk's logical sector size in bytes, from sysfs; 512 when it cannot be read.
int logicalSectorSize(const QString& disk);
// The partition number sysfs gives a device's directory; 0 for a whole disk or an unknown device.
int partitionNumber(const QString& sysfsDir);
// The whole disk a partition's device belongs to ("/dev/sda" for "/dev/sda3"), from sysfs; empty for a whole disk
// or an unknown device.
QString diskOf(const QString& partition);
// Whether device is the disk itself or one of its partitions; false for an empty disk. Devices are compared by
// their disk, never by their names' beginnings ("/dev/sda" is no prefix of "/dev/sdaa1" here).
bool isOnDisk(const QString& device, const QString& disk);
// Every block device udisksd knows, in its order; devices it cannot describe are left out.
QList<BlockEntry> list();
// The entries whose file system carries uuid; none for an empty uuid.
QList<BlockEntry> withUUID(const QList<BlockEntry>& entries, const QString& uuid);
// The device paths of entries, for messages and logs.
QStringList devicesOf(const QList<BlockEntry>& entries);

} // namespace BlockDisks
