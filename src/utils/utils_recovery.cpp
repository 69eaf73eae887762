// Finding the recovery partition when the installed root cannot tell, and the record a restore leaves there while
// it writes: a broken root is the normal case here, so nothing below depends on it.

#include "utils.h"

#include "BlockDisks.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QStringList LiveMediumMountPoints{"/run/live/medium", "/lib/live/mount/medium"};
const QString SystemInfoFile = "/backup/system.info";
// The record and its temporary copy, with room to spare.
const qint64 RestoreMarkRoom = 64 * 1024;

QString devicePathOf(const UDisks2BlockDevice& device)
{
    return QString::fromUtf8(device.device()).remove(QChar(0));
}

// A partition (never a whole disk) of disk, or of any disk when disk is empty.
bool isPartitionOf(const UDisks2BlockDevice& device, const QString& disk)
{
    const QString diskOfDevice = BlockDisks::diskOf(devicePathOf(device));
    return !diskOfDevice.isEmpty() && (disk.isEmpty() || BlockDisks::isOnDisk(devicePathOf(device), disk));
}

QString mountPointOf(const UDisks2BlockDevice& device)
{
    const QByteArrayList points = device.mountPoints();
    return points.isEmpty() ? QString() : QString::fromUtf8(points.constFirst());
}

// The start of a file on a partition. A partition nobody had mounted is mounted read-only for the look and
// unmounted again; one that was mounted stays as it is.
bool readOnPartition(UDisks2BlockDevice& device, const QString& relative, QByteArray& content)
{
    bool wasMounted = false;
    const QString mountPoint = Utils::mountReadOnly(device, wasMounted);
    if (mountPoint.isEmpty()) {
        return false;
    }
    QFile file(mountPoint + relative);
    const bool read = file.open(QIODevice::ReadOnly);
    if (read) {
        content = file.read(4096);
        file.close();
    }
    if (!wasMounted) {
        device.unmount({});
    }
    return read;
}

// The partition of disk (of any disk when empty) whose initial backup was made of the root with this UUID.
QString recoveryNamingRoot(const QString& rootUUID, const QString& disk)
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (!device || device->idUUID().isEmpty() || device->idUUID() == rootUUID || !isPartitionOf(*device, disk)) {
            continue;
        }
        QByteArray content;
        if (readOnPartition(*device, SystemInfoFile, content) && QString::fromUtf8(content).simplified() == rootUUID) {
            qInfo().noquote() << "recovery partition found by its backup record: " + device->idUUID();
            return device->idUUID();
        }
    }
    return QString();
}

// The partition the live system was booted from.
QString liveMediumUUID()
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (!device || device->idUUID().isEmpty()) {
            continue;
        }
        for (const QByteArray& point : device->mountPoints()) {
            if (LiveMediumMountPoints.contains(QString::fromUtf8(point))) {
                qInfo().noquote() << "recovery partition taken from the live medium: " + device->idUUID();
                return device->idUUID();
            }
        }
    }
    return QString();
}

bool syncDirectoryOf(const QString& path)
{
    const int fd =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool writeAll(int fd, const QByteArray& content)
{
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (written < 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// A copy of a superblock found away from the start of a device: where it lies, how to tell it, where its UUID is.
struct SuperblockCopy
{
    qint64 offset;
    qint64 magicAt;
    QByteArray magic;
    qint64 uuidAt;
};

// ext2/3/4 keep a copy in block group 1 (its place depends on the block size); btrfs a mirror at 64 MiB.
const SuperblockCopy SuperblockCopies[] = {
    {8193LL * 1024, 0x38, QByteArray("\x53\xef", 2), 0x68},
    {16384LL * 2048, 0x38, QByteArray("\x53\xef", 2), 0x68},
    {32768LL * 4096, 0x38, QByteArray("\x53\xef", 2), 0x68},
    {64LL * 1024 * 1024, 0x40, QByteArray("_BHRfS_M"), 0x20},
};

bool readAt(int fd, qint64 offset, QByteArray& buffer)
{
    const ssize_t got = ::pread(fd, buffer.data(), size_t(buffer.size()), off_t(offset));
    return got == buffer.size();
}

bool hasSuperblockCopyOf(const QString& devicePath, const QByteArray& uuid)
{
    const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool found = false;
    QByteArray block(1024, '\0');
    for (const SuperblockCopy& copy : SuperblockCopies) {
        if (readAt(fd, copy.offset, block) && block.mid(int(copy.magicAt), copy.magic.size()) == copy.magic &&
            block.mid(int(copy.uuidAt), 16) == uuid) {
            found = true;
            break;
        }
    }
    ::close(fd);
    return found;
}

} // namespace

namespace Utils {

// Options under which looking at a file system writes nothing to it: no journal or log is replayed. A file system
// whose type has no such options is not looked at.
QVariantMap readOnlyMountOptions(const QString& type)
{
    if (type == "ext3" || type == "ext4") {
        return {{"options", "ro,noload"}};
    }
    if (type == "xfs") {
        return {{"options", "ro,norecovery"}};
    }
    if (type == "btrfs") {
        return {{"options", "ro,nologreplay"}};
    }
    if (type == "ext2" || type == "vfat" || type == "exfat") {
        return {{"options", "ro"}};
    }
    return {};
}

QString devicePathOfDamagedFileSystem(const QString& uuid, const QString& disk)
{
    const QByteArray wanted = QUuid::fromString(uuid).toRfc4122();
    if (QUuid::fromString(uuid).isNull()) {
        return QString();
    }
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        // Only a device without any file system now: one that has a file system is not the lost one.
        if (!device || !device->idUUID().isEmpty() || !device->idType().isEmpty() || !isPartitionOf(*device, disk)) {
            continue;
        }
        const QString devicePath = devicePathOf(*device);
        if (hasSuperblockCopyOf(devicePath, wanted)) {
            qInfo().noquote() << "file system " + uuid + " lost its start; its copy is on " + devicePath;
            return devicePath;
        }
    }
    return QString();
}

QString mountReadOnly(UDisks2BlockDevice& device, bool& wasMounted)
{
    wasMounted = !mountPointOf(device).isEmpty();
    const QVariantMap options = readOnlyMountOptions(device.idType());
    if (!wasMounted && !options.isEmpty()) {
        device.mount(options);
    }
    return mountPointOf(device);
}

QString findRecoveryUUID(const QString& rootMountPoint, const QString& rootUUID, const QString& disk)
{
    if (!rootMountPoint.isEmpty()) {
        const QString configured = getRecoveryConfUUID(rootMountPoint).simplified();
        if (!configured.isEmpty()) {
            return configured;
        }
    }
    qInfo().noquote() << "the installed root names no recovery partition, looking for it, root UUID: " + rootUUID;
    const QString named = rootUUID.isEmpty() ? QString() : recoveryNamingRoot(rootUUID, disk);
    return named.isEmpty() ? liveMediumUUID() : named;
}

QString restoreMarkPath(const QString& recoveryMountPoint)
{
    return recoveryMountPoint + "/backup/restore-in-progress.json";
}

QJsonObject readRestoreMark(const QString& recoveryMountPoint)
{
    if (recoveryMountPoint.isEmpty()) {
        return QJsonObject();
    }
    QFile file(restoreMarkPath(recoveryMountPoint));
    if (!file.open(QIODevice::ReadOnly)) {
        return QJsonObject();
    }
    return QJsonDocument::fromJson(file.read(1 << 20)).object();
}

bool canTakeRestoreMark(const QString& recoveryMountPoint)
{
    struct statvfs fs = {};
    if (recoveryMountPoint.isEmpty() || ::statvfs(QFile::encodeName(recoveryMountPoint).constData(), &fs) != 0) {
        return false;
    }
    // The service writes as root: the blocks reserved for root count. A file system without inode counts (FAT)
    // reports none at all.
    const bool room =
        qint64(fs.f_bfree) * qint64(fs.f_frsize) >= RestoreMarkRoom && (fs.f_files == 0 || fs.f_ffree > 1);
    const QFileInfo backup(recoveryMountPoint + "/backup");
    return (fs.f_flag & ST_RDONLY) == 0 && room && (!backup.exists() || backup.isDir());
}

bool recoveryCanTakeRestoreMark(const QString& recoveryUUID)
{
    if (recoveryUUID.isEmpty()) {
        return false;
    }
    QString mountPoint = mountPointOfUUID(recoveryUUID);
    const bool wasMounted = !mountPoint.isEmpty();
    if (!wasMounted) {
        mountPoint = mountDeviceByUUID(recoveryUUID);
    }
    const bool fits = canTakeRestoreMark(mountPoint);
    if (!wasMounted && !mountPoint.isEmpty()) {
        umountDeviceByUUID(recoveryUUID);
    }
    return fits;
}

bool writeFileSynced(const QString& path, const QByteArray& content)
{
    const QString temporary = path + ".new";
    const int fd =
        ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = writeAll(fd, content) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(QFile::encodeName(temporary).constData());
        return false;
    }
    return syncDirectoryOf(path);
}

bool removeFileSynced(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        return false;
    }
    return syncDirectoryOf(path);
}

} // namespace Utils
