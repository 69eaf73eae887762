#pragma once

// The mounts of browsing and copying: private mount points below /run that only root can reach, the mount table as
// this process sees it, and mounting by the tools every other part of the service runs.

#include <QList>
#include <QString>

struct MountEntry
{
    QString mountPoint;
    QString fsType;
    QString source;
    bool readOnly = true;
};

namespace BrowseMounts {

// A new empty directory below the service's private browse directory (made 0700 on first use); empty on failure.
QString newMountPoint(const QString& prefix);
// Mounts device (of type fsType) at dir with these options; false, and the reason logged, when it does not mount.
bool mountDevice(const QString& device, const QString& fsType, const QString& options, const QString& dir);
// Unmounts dir (lazily when it is busy) and removes the directory.
void unmountAndRemove(const QString& dir);
// Every mount of this process's mount table, in its order.
QList<MountEntry> table();
// The mounts of a device (compared after links are resolved).
QList<MountEntry> mountsOf(const QString& device);
// Options under which mounting a file system of this type to read writes nothing to it; empty for other types.
QString readOnlyOptions(const QString& fsType);
// Whether files can be copied onto a file system of this type.
bool isWritableType(const QString& fsType);

} // namespace BrowseMounts
