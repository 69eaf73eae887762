#include "CopyDestinations.h"

#include "Device.h"
#include "InstalledSystem.h"
#include "tasks/BrowseMounts.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace {

const QStringList LiveMediumMountPoints{"/run/live/medium", "/lib/live/mount/medium"};

qint64 freeBytes(const QString& mountPoint)
{
    struct statvfs fs
    {
    };
    if (::statvfs(QFile::encodeName(mountPoint).constData(), &fs) != 0) {
        return -1;
    }
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

qint64 freeBytesUnmounted(const CopyDestination& destination)
{
    const QString options = BrowseMounts::readOnlyOptions(destination.fsType);
    const QString dir = BrowseMounts::newMountPoint("look");
    qint64 free = -1;
    if (!options.isEmpty() && !dir.isEmpty() &&
        BrowseMounts::mountDevice(destination.devicePath, destination.fsType, options, dir)) {
        free = freeBytes(dir);
    }
    BrowseMounts::unmountAndRemove(dir);
    return free;
}

QString driveOf(const QList<DeviceInfoPtr>& devices, const DeviceInfo& partition)
{
    for (const DeviceInfoPtr& device : devices) {
        if (device->kname == partition.pkname) {
            return device->model.trimmed().isEmpty() ? device->path : device->model.trimmed();
        }
    }
    return QString();
}

bool isExcluded(const QString& device, const QStringList& excluded)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return std::any_of(excluded.cbegin(), excluded.cend(),
                       [&canonical](const QString& each) { return QFileInfo(each).canonicalFilePath() == canonical; });
}

// Where it can be written already; false when it is mounted read-only somewhere (or is the live medium) and so
// cannot be mounted writable beside that.
bool writableMount(const QString& device, QString& mountPoint)
{
    const QList<MountEntry> mounts = BrowseMounts::mountsOf(device);
    for (const MountEntry& mount : mounts) {
        if (LiveMediumMountPoints.contains(mount.mountPoint)) {
            return false;
        }
        if (!mount.readOnly && mountPoint.isEmpty()) {
            mountPoint = mount.mountPoint;
        }
    }
    return mounts.isEmpty() || !mountPoint.isEmpty();
}

} // namespace

QJsonObject CopyDestination::toJson() const
{
    return QJsonObject{{"uuid", uuid},         {"devicePath", devicePath}, {"label", label}, {"fsType", fsType},
                       {"size", double(size)}, {"free", double(free)},     {"drive", drive}};
}

namespace CopyDestinations {

QString recoveryUUIDOf(const QString& rootUUID)
{
    InstalledSystem system;
    system.identify(rootUUID);
    const BlockEntry root = system.deviceOf(rootUUID, true);
    const QList<MountEntry> mounts = root.device.isEmpty() ? QList<MountEntry>() : BrowseMounts::mountsOf(root.device);
    if (!mounts.isEmpty()) {
        return InstalledSystem::recoveryUUIDOf(mounts.constFirst().mountPoint, rootUUID);
    }
    const QString dir = root.device.isEmpty() ? QString() : BrowseMounts::newMountPoint("root");
    const bool mounted = !dir.isEmpty() && BrowseMounts::mountDevice(root.device, root.type,
                                                                     BrowseMounts::readOnlyOptions(root.type), dir);
    const QString uuid = InstalledSystem::recoveryUUIDOf(mounted ? dir : QString(), rootUUID);
    BrowseMounts::unmountAndRemove(dir);
    return uuid;
}

QList<CopyDestination> list(const QStringList& excludedDevices, const QString& rootUUID, bool withFree)
{
    const QString recoveryUUID = recoveryUUIDOf(rootUUID);
    const QList<DeviceInfoPtr> devices = Device::getDeviceInfoList();
    QList<CopyDestination> destinations;
    for (const DeviceInfoPtr& device : devices) {
        const auto sameUUID = [&device](const DeviceInfoPtr& other) { return other->uuid == device->uuid; };
        if ((device->type != "part" && device->type != "lvm" && device->type != "crypt") || device->uuid.isEmpty() ||
            !BrowseMounts::isWritableType(device->fsType) || device->readOnly || device->uuid == recoveryUUID ||
            std::count_if(devices.cbegin(), devices.cend(), sameUUID) != 1 ||
            isExcluded(device->path, excludedDevices)) {
            continue;
        }
        CopyDestination destination;
        if (!writableMount(device->path, destination.mountPoint)) {
            continue;
        }
        destination.uuid = device->uuid;
        destination.devicePath = device->path;
        destination.label = device->label;
        destination.fsType = device->fsType;
        destination.size = device->size;
        destination.drive = driveOf(devices, *device);
        if (withFree) {
            destination.free =
                destination.mountPoint.isEmpty() ? freeBytesUnmounted(destination) : freeBytes(destination.mountPoint);
        }
        destinations.append(destination);
    }
    return destinations;
}

} // namespace CopyDestinations
