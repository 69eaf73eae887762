#pragma once

// Which disk the installed system lives on, decided once per task before anything is written: the disk of the
// partition the kernel command line names as root; when none or several disks carry that UUID (a byte copy of the
// root on a USB disk, the root's start zeroed), the one of them that also holds the recovery partition the roots
// name. Every look-up by UUID that leads to a write goes through it, so that a copy on another disk is never
// taken for the system's own partition.

#include "BlockDisks.h"

#include <QString>

class InstalledSystem
{
public:
    // Decides the disk for the root with this UUID. When two disks cannot be told apart the disk stays unknown and
    // ambiguity() names their devices.
    void identify(const QString& rootUUID);
    QString disk() const { return m_disk; }
    // The devices that could not be told apart (the system's disk, or a UUID carried twice on it); empty when none.
    QString ambiguity() const { return m_ambiguity; }

    // The device carrying this UUID: the one on the system's disk when any there carries it; otherwise none when
    // systemOnly, else the only device of the machine that carries it. Several candidates give none (and are
    // recorded in ambiguity()).
    BlockEntry deviceOf(const QString& uuid, bool systemOnly) const;
    // The partition of the system's disk whose file system with this UUID lost its start.
    QString damagedDeviceOf(const QString& uuid) const;
    // Whether a device path is the system's disk or one of its partitions.
    bool holds(const QString& device) const;

    // The recovery partition of the root with this UUID, searched on the system's disk alone (the live medium
    // stays the last resort): what the window and the restore page need without a task.
    static QString recoveryUUIDOf(const QString& rootMountPoint, const QString& rootUUID);

private:
    QString diskOfRoot(const QString& rootUUID, const QList<BlockEntry>& entries);
    QString recordAmbiguity(const QString& what, const QStringList& devices) const;

    QString m_disk;
    mutable QString m_ambiguity;
};
