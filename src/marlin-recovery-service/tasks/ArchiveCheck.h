#pragma once

// What a restore accepts of an opt or var archive found in a backup directory. The directory and the archive are
// untrusted (any disk, possibly writable by others): the archive's own "datainfo" member must name one of the
// installed system's partitions and one of the two directories, and every member must land inside that directory.

#include <QSet>
#include <QString>
#include <QStringList>

struct archive_entry;

namespace ArchiveCheck {

// The member every archive carries besides its directory: which partition and which directory it belongs to.
inline const char* const DataInfoMember = "datainfo";

// The directories an archive may restore, relative to its partition's root.
bool isRestorableDirectory(const QString& directory);
// Whether an archive member (as "tar --list" prints it) lands inside directory, or is the datainfo member: no
// absolute name, no ".." component, nothing beside the directory.
bool memberStaysInside(const QString& member, const QString& directory);
// The first member of members that does not stay inside directory; empty when all do.
QString firstStrayMember(const QStringList& members, const QString& directory);
// The value of "key=" on a line of its own in a datainfo text; empty when missing or given twice differently.
QString dataInfoValue(const QString& dataInfo, const QString& key);

// Whether any of the archives (names in directory) has its checksum file beside it, archive + ".md5".
bool anyChecksum(const QString& directory, const QStringList& archives);
// Whether members hold the directory itself: only then may the directory in place be removed for it.
bool holdsDirectory(const QStringList& members, const QString& directory);

// Why an archive could write outside directory through what its members are, not what they are called: a hard link
// whose target leaves the directory, a device, FIFO or socket, the directory itself as a symbolic link, or a member
// below a member that is no directory (a link "var/a" to anywhere followed by "var/a/x"). Read with libarchive;
// empty when every member is safe to extract.
QString firstUnsafeMember(const QString& archive, const QString& directory);

// A member's name as stored, without "./" and trailing slashes; ".." components are kept so that they are seen.
QString memberPath(const char* raw);
// The same for one member, members read in order with nonDirectories carried from one to the next.
QString unsafeMember(archive_entry* entry, const QString& directory, QSet<QString>& nonDirectories);

// Reads the datainfo member without writing anything; false when the archive cannot be read.
bool readDataInfo(const QString& archive, QString& dataInfo);
// Every member name of an archive; false when the archive cannot be listed whole or lacks tar's end-of-archive
// marker (cut off at a member boundary).
bool listMembers(const QString& archive, QStringList& members);

} // namespace ArchiveCheck
