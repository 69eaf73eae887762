#pragma once

// After an image is written over a whole disk the kernel still knows the partitions it had before, each with the
// buffers of its old contents: nothing may open one until those are dropped and the partitions are taken again from
// the table just written. Then every restored file system is checked, read-only, before the restore counts.

#include <QString>
#include <QStringList>

namespace WholeDisk {

// Whether path is a whole disk (a block device that is no partition).
bool isWholeDisk(const QString& path);
// The whole disk a partition's device belongs to ("/dev/sda" for "/dev/sda3"); empty for a whole disk or an unknown
// device.
QString diskOf(const QString& partition);
// The partition devices the kernel has for the disk, in partition order.
QStringList partitionsOf(const QString& disk);
// Drops every partition's buffers and has the kernel's partitions follow the disk's table, through partx, which reads
// the table itself (a kernel without a parser for it drops every partition when asked to re-read). False when the
// table cannot be read.
bool refreshPartitions(const QString& disk);
// Waits (20 s at most) until udisksd knows every file system on the disk by its UUID again.
bool waitForFileSystems(const QString& disk);
// After a partition was written: has udev read it again and waits (20 s at most) until udisksd knows its file system
// by its UUID, as whatever comes next looks it up by that UUID. False when it did not come.
bool rereadFileSystem(const QString& partition);
// Whether the kernel's partitions of the disk are those of the table on it (number, start and size of each).
bool partitionsMatchTable(const QString& disk);
// Checks each file system of the disk without changing it; false with the failing partitions in failed. A partition
// holding a file system that has no read-only check fails too: it cannot be told sound.
bool verifyFileSystems(const QString& disk, QStringList& failed);
// The read-only check of a file system of this type, without the device; empty for types that have none (swap).
QStringList readOnlyCheck(const QString& type);

} // namespace WholeDisk
