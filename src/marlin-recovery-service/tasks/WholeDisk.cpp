#include "tasks/WholeDisk.h"

#include "BlockDisks.h"

#include "core/command.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "utils.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QThread>

#include <algorithm>

namespace {

using BlockDisks::partitionNumber;
using BlockDisks::readSysfs;
using BlockDisks::sysfsDirOf;

QString blkidValue(const QString& device, const QString& tag)
{
    QString out;
    SpawnCmd("sudo", {"blkid", "-p", "-o", "value", "-s", tag, "--", device}, out);
    return out.trimmed();
}

// Partition number -> "start size" in 512-byte units, as the table on the disk has them (partx reads it itself).
bool tablePartitions(const QString& disk, QMap<int, QString>& parts)
{
    QString out;
    QString err;
    if (!SpawnCmd("sudo", {"partx", "--show", "--noheadings", "--output", "NR,START,SECTORS", "--", disk}, out, err)) {
        qCritical().noquote() << "partx cannot read the table of " + disk + ": " + err;
        return false;
    }
    // partx counts the table's sectors, the kernel 512-byte units.
    const qint64 factor = BlockDisks::logicalSectorSize(disk) / 512;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() != 3) {
            return false;
        }
        parts.insert(fields.at(0).toInt(),
                     QString("%1 %2").arg(fields.at(1).toLongLong() * factor).arg(fields.at(2).toLongLong() * factor));
    }
    return true;
}

// Waits (20 s at most) until udisksd knows every one of the file systems.
bool waitForUuids(const QStringList& uuids)
{
    const QDeadlineTimer deadline(20000);
    for (const QString& uuid : uuids) {
        while (!UDisks2Manager::blockDeviceByUUID(uuid)) {
            if (deadline.hasExpired()) {
                qCritical().noquote() << "udisksd does not know the restored file system " + uuid;
                return false;
            }
            QThread::msleep(100);
        }
    }
    return true;
}

} // namespace

namespace WholeDisk {

bool isWholeDisk(const QString& path)
{
    const QString dir = sysfsDirOf(path);
    return Utils::isBlockDevice(path) && QFileInfo::exists(dir) && !QFileInfo::exists(dir + "/partition");
}

QString diskOf(const QString& partition)
{
    return BlockDisks::diskOf(partition);
}

QStringList partitionsOf(const QString& disk)
{
    const QString dir = sysfsDirOf(disk);
    const QString name = dir.section('/', -1);
    QStringList children = QDir(dir).entryList({name + "*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const QString& child) { return partitionNumber(dir + "/" + child) <= 0; }),
                   children.end());
    std::sort(children.begin(), children.end(), [&](const QString& a, const QString& b) {
        return partitionNumber(dir + "/" + a) < partitionNumber(dir + "/" + b);
    });
    QStringList devices;
    for (const QString& child : children) {
        devices.append("/dev/" + child);
    }
    return devices;
}

bool refreshPartitions(const QString& disk)
{
    const QStringList before = partitionsOf(disk);
    for (const QString& partition : before) {
        SpawnCmd("sudo", {"blockdev", "--flushbufs", partition});
    }
    SpawnCmd("sudo", {"blockdev", "--flushbufs", disk});
    QString out;
    QString err;
    const bool updated = SpawnCmd("sudo", {"partx", "-u", "--", disk}, out, err);
    // A disk whose partitions all went (a kernel without a parser re-read it) has nothing to update: they are added.
    if (partitionsOf(disk).isEmpty() && !SpawnCmd("sudo", {"partx", "-a", "--", disk}, out, err)) {
        qCritical().noquote() << "partx could not take the partitions of " + disk + ": " + err;
        return false;
    }
    if (!updated) {
        qWarning().noquote() << "partx -u " + disk + ": " + err;
    }
    SpawnCmd("sudo", {"udevadm", "settle", "--timeout=30"});
    qInfo().noquote() << "partitions of " + disk + " before: " + before.join(' ') +
                             ", now: " + partitionsOf(disk).join(' ');
    return true;
}

bool waitForFileSystems(const QString& disk)
{
    QStringList uuids;
    for (const QString& partition : partitionsOf(disk)) {
        const QString uuid = blkidValue(partition, "UUID");
        if (!uuid.isEmpty()) {
            uuids.append(uuid);
        }
    }
    return waitForUuids(uuids);
}

bool rereadFileSystem(const QString& partition)
{
    // Not every close after a write reaches udev.
    SpawnCmd("sudo", {"udevadm", "trigger", "--action=change", "--settle", "--", partition});
    const QString uuid = blkidValue(partition, "UUID");
    return uuid.isEmpty() || waitForUuids({uuid});
}

QStringList readOnlyCheck(const QString& type)
{
    if (type == "ext2" || type == "ext3" || type == "ext4") {
        return {"e2fsck", "-n", "-f"};
    }
    if (type == "xfs") {
        return {"xfs_repair", "-n"};
    }
    if (type == "btrfs") {
        return {"btrfs", "check", "--readonly"};
    }
    if (type == "vfat") {
        return {"fsck.vfat", "-n"};
    }
    return {};
}

bool partitionsMatchTable(const QString& disk)
{
    QMap<int, QString> table;
    if (!tablePartitions(disk, table)) {
        return false;
    }
    QMap<int, QString> kernel;
    for (const QString& partition : partitionsOf(disk)) {
        const QString dir = sysfsDirOf(partition);
        kernel.insert(partitionNumber(dir), readSysfs(dir + "/start") + " " + readSysfs(dir + "/size"));
    }
    if (kernel != table) {
        qCritical().noquote() << "the kernel's partitions of " + disk + " are not those of its table";
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            qCritical().noquote()
                << QString("table %1: %2, kernel: %3").arg(it.key()).arg(it.value(), kernel.value(it.key()));
        }
        return false;
    }
    return true;
}

bool verifyFileSystems(const QString& disk, QStringList& failed)
{
    failed.clear();
    for (const QString& partition : partitionsOf(disk)) {
        const QString type = blkidValue(partition, "TYPE");
        QStringList check = readOnlyCheck(type);
        if (check.isEmpty()) {
            // Swap, or nothing at all, holds nothing to lose; a file system that cannot be checked is no success.
            const bool fileSystem = blkidValue(partition, "USAGE") == "filesystem";
            qInfo().noquote() << "no read-only check for " + partition + " (" + type + ")";
            if (fileSystem) {
                qCritical().noquote() << "a file system without a read-only check: " + partition + " (" + type + ")";
                failed.append(partition);
            }
            continue;
        }
        QString out;
        QString err;
        const bool clean = SpawnCmd("sudo", check << partition, out, err);
        qInfo().noquote() << "checked " + partition + " (" + type + "): " + (clean ? "clean" : "damaged");
        if (!clean) {
            qCritical().noquote() << out + err;
            failed.append(partition);
        }
    }
    return failed.isEmpty();
}

} // namespace WholeDisk
