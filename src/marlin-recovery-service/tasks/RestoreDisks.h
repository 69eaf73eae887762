#pragma once

// The disks a whole-disk backup may be written onto when the drive it was made of is gone (a new disk fitted after
// the old one died), what keeps one from qualifying, and making a larger disk's extra room usable afterwards.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace RestoreDisks {

// Why a disk does not qualify, as the window and the log show it; empty when it does.
extern const char* const TooSmall;
extern const char* const HoldsBackup;
extern const char* const HasMountedPartition;

// What a whole-disk image says of the disk it was made of.
struct ImageDisk
{
    QString drive;
    // The bytes a target must have: the end of the last partition with room for a GPT's backup, or, for backups that
    // did not record it, the size of the disk they were made of.
    qint64 needBytes = 0;
    // The size of the disk the image was made of; a smaller target gets the image cut at its end.
    qint64 sourceBytes = 0;
};

// The first whole-disk image in dir; false when there is none or it cannot be read.
bool readImageDisk(const QString& dir, ImageDisk& disk);
// Where the disk's last partition ends, in bytes, from the table on it; 0 when it has none or it cannot be read.
qint64 partitionsEnd(const QString& disk);
// The disk's size as udisksd has it.
qint64 sizeOf(const QString& disk);
// After a whole-disk image was written onto a smaller disk: a GPT whose headers name sectors past the disk's end gets
// its backup moved to the real end (sgdisk -e), keeping every partition, UUID and name; an MBR needs nothing.
bool mendCutTable(const QString& disk);
// The whole disk udisksd has for the drive; empty unless there is exactly one.
QString diskOfDrive(const QString& drive);
// Each disk that has a drive, as {"drive", "devicePath", "model", "serial", "size", "partitions", "qualifies",
// "reason"}; backupDisk is the disk the backup is read from.
QJsonArray list(qint64 needBytes, const QString& backupDisk);
// The reason the disk cannot take the image; empty when it can.
QString refusal(const QString& disk, qint64 needBytes, const QString& backupDisk);
// Whether the device or, for a disk, one of its partitions is mounted in this process's view or udisksd's.
bool holdsMount(const QString& disk);

// After a whole-disk image was written onto a larger disk: a GPT's backup header goes to the disk's real end, and,
// unless keepSize, the last partition with its ext4, xfs or btrfs file system grows to fill the disk. Each step is
// checked; false when one fails.
bool useWholeDisk(const QString& disk, bool keepSize);

} // namespace RestoreDisks
