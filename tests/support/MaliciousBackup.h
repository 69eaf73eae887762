#pragma once

// Backups made to attack the service that restores them, built by the tests themselves. Archives are written by
// hand, not by tar, which would clean up exactly the names they are about.

#include <QByteArray>
#include <QList>
#include <QString>

namespace LiveTest {

// One member of a hand-made archive: a regular file, or a symbolic link when linkTarget is set; another tar type
// flag ('1' a hard link to linkTarget, '3' a character device, '6' a FIFO) when type is given. The name is kept as
// given: absolute, with "..", starting with "-".
struct TarMember
{
    QString name;
    QByteArray content;
    QString linkTarget;
    char type = 0;
};

// Writes a tar archive (ustar, with GNU long names) of exactly these members.
bool writeTar(const QString& path, const QList<TarMember>& members);

namespace MaliciousBackup {

// An opt/var archive as a backup holds it: its "datainfo" member (the given text) first, then the members.
bool writeArchive(const QString& path, const QByteArray& dataInfo, const QList<TarMember>& members);
QByteArray dataInfo(const QString& uuid, const QString& directory);

// "Directory=-P" and absolute members: with the directory taken as an option, tar writes victim's absolute path.
bool absoluteMembers(const QString& archive, const QString& uuid, const QString& victim, const QByteArray& content);
// "Directory=../../…/dir-of-victim": the directory leaves the partition's mount point and reaches victim.
bool directoryLeavesPartition(const QString& archive, const QString& uuid, const QString& victim,
                              const QByteArray& content);
// A sound directory, but a member whose ".." components reach victim.
bool dotDotMember(const QString& archive, const QString& uuid, const QString& victim, const QByteArray& content);
// A sound archive of opt (opt/planted.txt) for a partition that is not the installed system's.
bool foreignPartition(const QString& archive, const QString& foreignUUID);
// Leaves a directory writable by every account, in its mode and its access list, as backups once were.
bool makeWritableByAll(const QString& dir);

} // namespace MaliciousBackup
} // namespace LiveTest
