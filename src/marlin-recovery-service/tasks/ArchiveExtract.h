#pragma once

// Extracting an opt or var archive onto the installed system's partition. The partition may hold links planted by
// anyone who could write it, and the archive comes from an untrusted directory: the members go into a fresh staging
// directory beside the target (nothing already on the partition is ever opened by name below it), with libarchive
// refusing any path through a symbolic link, with "..", or absolute; the finished directory is then renamed into
// its place, which must be free. Runs in a child process of its own (it changes the working directory).

#include <QString>
#include <QStringList>

namespace ArchiveExtract {

// The argument vector (after "sudo") of the program that runs extract() in a process of its own.
QStringList arguments(const QString& archive, const QString& parent, const QString& directory);
// The staging directory's name beside directory, in the partition's top directory.
QString stagingName(const QString& directory);
// Extracts directory (one name: "opt" or "var") of archive into parent/stagingName(directory), which must not
// exist yet, then renames it to parent/directory, which must not exist either. The archive's "datainfo" member is
// skipped; any other member outside directory fails the extraction. Owners are taken as the numbers stored (the
// installed system's, not the live system's names). False with why on failure, the staging directory left for the
// caller to remove.
bool extract(const QString& archive, const QString& parent, const QString& directory, QString& why);

} // namespace ArchiveExtract
