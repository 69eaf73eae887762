#include "tasks/RestoreDisks.h"

#include "BlockDisks.h"
#include "core/ToolPath.h"
#include "core/ToolTimeout.h"
#include "core/command.h"
#include "tasks/Task.h"
#include "tasks/WholeDisk.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"

#include <QDBusObjectPath>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>

#include <algorithm>

namespace RestoreDisks {

const char* const TooSmall = "too small";
const char* const HoldsBackup = "holds the backup";
const char* const HasMountedPartition = "has a mounted partition";

} // namespace RestoreDisks

namespace {

const char* const DriveInterface = "org.freedesktop.UDisks2.Drive";
const QString BlockPrefix = "/org/freedesktop/UDisks2/block_devices/";
// Past the last partition a GPT keeps its backup (33 sectors of 512 bytes, 5 of 4096): a MiB leaves room for either.
const qint64 GptBackupRoom = 1 << 20;

QVariant property(const QString& path, const char* interface, const QString& name)
{
    QVariant value;
    UDisks2::readProperty(path, interface, name, value);
    return value;
}

QString blockObjectOf(const QString& device)
{
    return BlockPrefix + QFileInfo(device).fileName();
}

QString blkidValue(const QString& device, const QString& tag)
{
    QString out;
    SpawnCmd("sudo", {"blkid", "-p", "-o", "value", "-s", tag, "--", device}, out);
    return out.trimmed();
}

// The value of key in marlin-clone's "key=value" information lines.
QString infoValue(const QString& info, const QString& key)
{
    for (const QString& line : info.split('\n')) {
        if (line.startsWith(key + "=")) {
            return line.mid(key.size() + 1).trimmed();
        }
    }
    return QString();
}

// Each mounted source as "major:minor" and as its device path, from this process's view.
QStringList mountedSources()
{
    QFile file("/proc/self/mountinfo");
    QStringList sources;
    if (!file.open(QIODevice::ReadOnly)) {
        return sources;
    }
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(' ');
        const int dash = fields.indexOf("-");
        if (fields.size() > 2 && dash > 0 && dash + 2 < fields.size()) {
            sources << fields.at(2) << fields.at(dash + 2);
        }
    }
    return sources;
}

QJsonArray partitionsOf(const QString& disk, const QStringList& mounted)
{
    QJsonArray partitions;
    for (const QString& partition : WholeDisk::partitionsOf(disk)) {
        const QString object = blockObjectOf(partition);
        std::unique_ptr<UDisks2BlockDevice> block = UDisks2Manager::createBlockDevice(object);
        const bool isMounted = mounted.contains(partition) ||
                               mounted.contains(BlockDisks::readSysfs(BlockDisks::sysfsDirOf(partition) + "/dev")) ||
                               (block && !block->mountPoints().isEmpty());
        partitions.append(QJsonObject{{"device", partition},
                                      {"label", property(object, UDisks2::BlockInterface, "IdLabel").toString()},
                                      {"fsType", property(object, UDisks2::BlockInterface, "IdType").toString()},
                                      {"size", property(object, UDisks2::BlockInterface, "Size").toLongLong()},
                                      {"mounted", isMounted}});
    }
    return partitions;
}

// Number, first sector and sector count of the partition that ends last, from the table on the disk.
bool lastPartition(const QString& disk, int& number, qint64& start, qint64& sectors)
{
    QString out;
    QString err;
    if (!SpawnCmd("sudo", {"partx", "--show", "--noheadings", "--output", "NR,START,SECTORS", "--", disk}, out, err)) {
        qCritical().noquote() << "partx cannot read the table of " + disk + ": " + err;
        return false;
    }
    number = 0;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() == 3 && fields.at(1).toLongLong() + fields.at(2).toLongLong() > start + sectors) {
            number = fields.at(0).toInt();
            start = fields.at(1).toLongLong();
            sectors = fields.at(2).toLongLong();
        }
    }
    return number > 0;
}

bool run(const QStringList& args)
{
    QString out;
    QString err;
    const bool ok = SpawnCmd("sudo", args, out, err);
    qInfo().noquote() << args.join(' ') + (ok ? ": done" : ": failed, " + out + err);
    return ok;
}

// sfdisk takes a partition's new extent on its standard input alone; the tool is found as SpawnCmd finds it.
bool runWithInput(QStringList args, const QByteArray& input)
{
    QString program = "sudo";
    if (!ToolPath::resolveCommand(program, args)) {
        return false;
    }
    QProcess process;
    QProcessEnvironment environment;
    environment.insert("LC_ALL", "C");
    environment.insert("PATH", ToolPath::childPath());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    const bool done = process.waitForFinished(int(std::chrono::milliseconds(ToolTimeout::Quick).count()));
    const bool ok = done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!done) {
        process.kill();
        process.waitForFinished();
    }
    qInfo().noquote() << args.join(' ') + (ok ? ": done" : ": failed, " + QString::fromUtf8(process.readAll()));
    return ok;
}

// The kernel takes the changed table, and must then see exactly it.
bool retakeTable(const QString& disk)
{
    return WholeDisk::refreshPartitions(disk) && WholeDisk::partitionsMatchTable(disk);
}

// xfs and btrfs grow only mounted: on a private directory, read-write, for as long as it takes.
bool growMounted(const QString& partition, const QStringList& grow)
{
    const QString dir = privateTempPath("grow-" + QFileInfo(partition).fileName());
    if (!QDir().mkpath(dir) || !run({"mount", "-o", "rw", "--", partition, dir})) {
        return false;
    }
    const bool grown = run(grow + QStringList{dir});
    const bool unmounted = run({"umount", "--", dir});
    QDir().rmdir(dir);
    return grown && unmounted;
}

bool growFileSystem(const QString& partition, const QString& type)
{
    if (type == "ext2" || type == "ext3" || type == "ext4") {
        // resize2fs wants a file system checked since its last mount; it was found clean just before.
        return run({"e2fsck", "-f", "-p", partition}) && run({"resize2fs", partition});
    }
    if (type == "xfs") {
        return growMounted(partition, {"xfs_growfs"});
    }
    return growMounted(partition, {"btrfs", "filesystem", "resize", "max"});
}

bool growLastPartition(const QString& disk)
{
    int number = 0;
    qint64 start = 0;
    qint64 sectors = 0;
    if (!lastPartition(disk, number, start, sectors)) {
        return false;
    }
    const QString partition = WholeDisk::partitionsOf(disk).value(number - 1);
    const QString type = partition.isEmpty() ? QString() : blkidValue(partition, "TYPE");
    if (!QStringList{"ext2", "ext3", "ext4", "xfs", "btrfs"}.contains(type)) {
        qInfo().noquote() << "the last partition of " + disk + " (" + partition + ", " + type + ") keeps its size";
        return true;
    }
    // Only the size changes: the start, type, UUID and name stay as sfdisk found them.
    if (!runWithInput({"sfdisk", "--no-reread", "--no-tell-kernel", "-N", QString::number(number), "--", disk},
                      ", +\n")) {
        return false;
    }
    if (!retakeTable(disk) || !growFileSystem(partition, type)) {
        return false;
    }
    QStringList check = WholeDisk::readOnlyCheck(type);
    if (!run(check << partition)) {
        qCritical().noquote() << "the grown file system on " + partition + " is not sound";
        return false;
    }
    return WholeDisk::rereadFileSystem(partition);
}

} // namespace

namespace RestoreDisks {

bool readImageDisk(const QString& dir, ImageDisk& disk)
{
    const QStringList images = QDir(dir).entryList({"*.rbk"}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    for (const QString& name : images) {
        const QString image = dir + "/" + name;
        QString info;
        if (!SpawnCmd("sudo", {"marlin-clone", "--rbk-info", image}, info) ||
            !infoValue(info, "custom-files").split(',').contains("DiskInfo")) {
            continue;
        }
        const QString infoFile = privateTempPath("restore-disks-DiskInfo");
        QFile::remove(infoFile);
        if (!SpawnCmd("sudo", {"marlin-clone", "--read-custom-file", "rbk://" + image + "/DiskInfo", infoFile})) {
            continue;
        }
        const QSettings recorded(infoFile, QSettings::IniFormat);
        disk.drive = recorded.value("DiskDrive").toString();
        disk.sourceBytes = infoValue(info, "source-size").toLongLong();
        const qint64 end = recorded.value("PartitionsEnd").toLongLong();
        disk.needBytes = end > 0 ? std::min(disk.sourceBytes, end + GptBackupRoom) : disk.sourceBytes;
        QFile::remove(infoFile);
        if (!disk.drive.isEmpty() && disk.needBytes > 0) {
            return true;
        }
    }
    return false;
}

QString diskOfDrive(const QString& drive)
{
    QStringList disks;
    if (drive.isEmpty()) {
        return QString();
    }
    for (const QString& path : UDisks2Manager::blockDevices()) {
        std::unique_ptr<UDisks2BlockDevice> block = UDisks2Manager::createBlockDevice(path);
        const QString device = block ? QString::fromUtf8(block->device()).remove(QChar(0)) : QString();
        if (block && block->driveName() == drive && WholeDisk::isWholeDisk(device) && !disks.contains(device)) {
            disks.append(device);
        }
    }
    return disks.size() == 1 ? disks.constFirst() : QString();
}

qint64 partitionsEnd(const QString& disk)
{
    int number = 0;
    qint64 start = 0;
    qint64 sectors = 0;
    if (!lastPartition(disk, number, start, sectors)) {
        return 0;
    }
    // partx counts the table's own sectors.
    return (start + sectors) * BlockDisks::logicalSectorSize(disk);
}

qint64 sizeOf(const QString& disk)
{
    return property(blockObjectOf(disk), UDisks2::BlockInterface, "Size").toLongLong();
}

bool mendCutTable(const QString& disk)
{
    // A GPT with sectors past the end is no GPT to blkid: it sees only the protective MBR.
    if (blkidValue(disk, "PTTYPE") != "PMBR") {
        return true;
    }
    if (!run({"sgdisk", "-e", "--", disk}) || blkidValue(disk, "PTTYPE") != "gpt") {
        qCritical().noquote() << "the partition table cut short on " + disk + " could not be mended";
        return false;
    }
    return true;
}

bool holdsMount(const QString& disk)
{
    const QJsonArray partitions = partitionsOf(disk, mountedSources());
    for (const QJsonValue& partition : partitions) {
        if (partition.toObject().value("mounted").toBool()) {
            return true;
        }
    }
    const QStringList mounted = mountedSources();
    return mounted.contains(disk) || mounted.contains(BlockDisks::readSysfs(BlockDisks::sysfsDirOf(disk) + "/dev"));
}

QString refusal(const QString& disk, qint64 needBytes, const QString& backupDisk)
{
    if (!backupDisk.isEmpty() && disk == backupDisk) {
        return HoldsBackup;
    }
    if (holdsMount(disk)) {
        return HasMountedPartition;
    }
    if (sizeOf(disk) < needBytes) {
        return TooSmall;
    }
    return QString();
}

QJsonArray list(qint64 needBytes, const QString& backupDisk)
{
    QJsonArray disks;
    const QStringList mounted = mountedSources();
    for (const QString& path : UDisks2Manager::blockDevices()) {
        std::unique_ptr<UDisks2BlockDevice> block = UDisks2Manager::createBlockDevice(path);
        const QString device = block ? QString::fromUtf8(block->device()).remove(QChar(0)) : QString();
        if (!block || block->driveName().isEmpty() || !WholeDisk::isWholeDisk(device)) {
            continue;
        }
        const QString drive = block->drive();
        const QString reason = refusal(device, needBytes, backupDisk);
        disks.append(QJsonObject{{"drive", block->driveName()},
                                 {"devicePath", device},
                                 {"model", property(drive, DriveInterface, "Model").toString()},
                                 {"serial", property(drive, DriveInterface, "Serial").toString()},
                                 {"size", sizeOf(device)},
                                 {"partitions", partitionsOf(device, mounted)},
                                 {"qualifies", reason.isEmpty()},
                                 {"reason", reason}});
    }
    return disks;
}

bool useWholeDisk(const QString& disk, bool keepSize)
{
    if (blkidValue(disk, "PTTYPE") == "gpt") {
        // A GPT whose backup header lies before the disk's end is damaged in every tool's eyes, and hides the rest.
        if (!run({"sfdisk", "--relocate", "gpt-bak-std", "--", disk}) || !retakeTable(disk) ||
            !run({"sfdisk", "--verify", "--", disk})) {
            return false;
        }
    }
    if (keepSize) {
        qInfo().noquote() << "the partitions of " + disk + " keep their sizes, as asked";
        return true;
    }
    return growLastPartition(disk);
}

} // namespace RestoreDisks
