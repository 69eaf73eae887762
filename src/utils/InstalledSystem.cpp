#include "InstalledSystem.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "utils.h"

#include <QDebug>
#include <QSet>

namespace {

QStringList disksOf(const QStringList& devices)
{
    QStringList disks;
    for (const QString& device : devices) {
        const QString disk = BlockDisks::diskOf(device);
        if (!disk.isEmpty() && !disks.contains(disk)) {
            disks.append(disk);
        }
    }
    return disks;
}

QStringList partitionDevicesOf(const QList<BlockEntry>& entries)
{
    QStringList devices;
    for (const BlockEntry& entry : entries) {
        if (!BlockDisks::diskOf(entry.device).isEmpty()) {
            devices.append(entry.device);
        }
    }
    return devices;
}

// The recovery partition an intact root's configuration names, looked at read-only without replaying its journal;
// a root somebody had mounted is read where it is and left so.
QString recoveryNamedBy(const BlockEntry& root)
{
    std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(root.object);
    if (!device) {
        return QString();
    }
    bool wasMounted = false;
    const QString mountPoint = Utils::mountReadOnly(*device, wasMounted);
    if (mountPoint.isEmpty()) {
        return QString();
    }
    const QString named = Utils::getRecoveryConfUUID(mountPoint);
    if (!wasMounted) {
        device->unmount({});
    }
    return named.simplified();
}

} // namespace

void InstalledSystem::identify(const QString& rootUUID)
{
    m_disk.clear();
    m_ambiguity.clear();
    m_disk = diskOfRoot(rootUUID, BlockDisks::list());
    qInfo().noquote() << "the installed system's disk: " + (m_disk.isEmpty() ? QString("unknown") : m_disk);
}

QString InstalledSystem::diskOfRoot(const QString& rootUUID, const QList<BlockEntry>& entries)
{
    const QList<BlockEntry> intact = BlockDisks::withUUID(entries, rootUUID);
    QStringList candidates = partitionDevicesOf(intact);
    for (const QString& disk : disksOf(partitionDevicesOf(entries))) {
        const QString damaged = Utils::devicePathOfDamagedFileSystem(rootUUID, disk);
        if (!damaged.isEmpty()) {
            candidates.append(damaged);
        }
    }
    const QStringList rootDisks = disksOf(candidates);
    if (rootDisks.size() == 1) {
        return rootDisks.constFirst();
    }
    // Several disks carry the root (or none does): the one that also holds the recovery partition is the system's.
    QSet<QString> recoveryUUIDs;
    for (const BlockEntry& root : intact) {
        recoveryUUIDs.insert(recoveryNamedBy(root));
    }
    const QStringList searched = rootDisks.isEmpty() ? QStringList{QString()} : rootDisks;
    for (const QString& disk : searched) {
        recoveryUUIDs.insert(Utils::findRecoveryUUID(QString(), rootUUID, disk));
    }
    recoveryUUIDs.remove(QString());
    QStringList holders;
    for (const QString& uuid : std::as_const(recoveryUUIDs)) {
        for (const QString& disk : disksOf(BlockDisks::devicesOf(BlockDisks::withUUID(entries, uuid)))) {
            if ((rootDisks.isEmpty() || rootDisks.contains(disk)) && !holders.contains(disk)) {
                holders.append(disk);
            }
        }
    }
    if (holders.size() == 1) {
        return holders.constFirst();
    }
    if (!holders.isEmpty() || rootDisks.size() > 1) {
        recordAmbiguity("the installed root", candidates);
    }
    return QString();
}

BlockEntry InstalledSystem::deviceOf(const QString& uuid, bool systemOnly) const
{
    const QList<BlockEntry> carriers = BlockDisks::withUUID(BlockDisks::list(), uuid);
    QList<BlockEntry> onDisk;
    for (const BlockEntry& entry : carriers) {
        if (holds(entry.device)) {
            onDisk.append(entry);
        }
    }
    if (onDisk.size() == 1) {
        return onDisk.constFirst();
    }
    if (onDisk.size() > 1) {
        recordAmbiguity("the file system " + uuid, BlockDisks::devicesOf(onDisk));
        return BlockEntry();
    }
    if (systemOnly && !m_disk.isEmpty()) {
        return BlockEntry();
    }
    if (carriers.size() > 1) {
        recordAmbiguity("the file system " + uuid, BlockDisks::devicesOf(carriers));
        return BlockEntry();
    }
    return carriers.isEmpty() ? BlockEntry() : carriers.constFirst();
}

QString InstalledSystem::damagedDeviceOf(const QString& uuid) const
{
    return m_disk.isEmpty() ? QString() : Utils::devicePathOfDamagedFileSystem(uuid, m_disk);
}

bool InstalledSystem::holds(const QString& device) const
{
    return BlockDisks::isOnDisk(device, m_disk);
}

QString InstalledSystem::recoveryUUIDOf(const QString& rootMountPoint, const QString& rootUUID)
{
    InstalledSystem system;
    system.identify(rootUUID);
    return Utils::findRecoveryUUID(rootMountPoint, rootUUID, system.disk());
}

QString InstalledSystem::recordAmbiguity(const QString& what, const QStringList& devices) const
{
    if (m_ambiguity.isEmpty()) {
        m_ambiguity = devices.join(", ");
    }
    qCritical().noquote() << what + " is carried by several devices that cannot be told apart: " + devices.join(", ");
    return m_ambiguity;
}
