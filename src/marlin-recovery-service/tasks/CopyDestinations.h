#pragma once

// The partitions that can take files brought back from a backup or the installed system: writable file systems,
// neither what is being browsed, nor the live medium, nor the recovery partition, and named by a UUID that no
// other device carries (a byte copy could not be told from its original).

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

struct CopyDestination
{
    QString uuid;
    QString devicePath;
    QString label;
    QString fsType;
    QString drive;
    qint64 size = 0;
    qint64 free = -1;
    // Where it is mounted writable already; empty when it is not.
    QString mountPoint;

    QJsonObject toJson() const;
};

namespace CopyDestinations {

// The destinations, leaving out the excluded devices and the recovery partition of the root with this UUID; with
// their free space when withFree (a partition nobody mounted is mounted read-only for the look).
QList<CopyDestination> list(const QStringList& excludedDevices, const QString& rootUUID, bool withFree);
// The recovery partition's UUID of the installed root with this UUID; empty when none is found.
QString recoveryUUIDOf(const QString& rootUUID);

} // namespace CopyDestinations
