#include "tasks/ArchiveCheck.h"

#include <archive.h>
#include <archive_entry.h>

#include "TarListing.h"
#include "core/command.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QStringList RestorableDirectories{"opt", "var"};

} // namespace

namespace {

using ArchiveCheck::memberPath;

// Where a link target lands, seen from fromDir of the archive; empty when it leaves the archive's top.
QString landing(const QString& fromDir, const QString& target)
{
    if (target.startsWith('/')) {
        return QString();
    }
    QStringList parts = fromDir.split('/', Qt::SkipEmptyParts);
    for (const QString& part : target.split('/', Qt::SkipEmptyParts)) {
        if (part == "..") {
            if (parts.isEmpty()) {
                return QString();
            }
            parts.removeLast();
        } else if (part != ".") {
            parts.append(part);
        }
    }
    return parts.join('/');
}

bool below(const QString& path, const QString& directory)
{
    return path == directory || path.startsWith(directory + "/");
}

} // namespace

namespace ArchiveCheck {

// A member's path without "./" and trailing slashes; ".." components are kept so that they are seen.
QString memberPath(const char* raw)
{
    QStringList kept;
    for (const QString& part : QString::fromUtf8(raw == nullptr ? "" : raw).split('/', Qt::SkipEmptyParts)) {
        if (part != ".") {
            kept.append(part);
        }
    }
    return kept.join('/');
}

QString unsafeMember(archive_entry* entry, const QString& directory, QSet<QString>& nonDirectories)
{
    const QString path = memberPath(archive_entry_pathname(entry));
    const QStringList parts = path.split('/');
    for (int i = 1; i < parts.size(); ++i) {
        if (nonDirectories.contains(QStringList(parts.mid(0, i)).join('/'))) {
            return path + " lies below a member that is no directory";
        }
    }
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFCHR || type == AE_IFBLK || type == AE_IFIFO || type == AE_IFSOCK) {
        return path + " is a device, FIFO or socket";
    }
    if (type != AE_IFDIR) {
        nonDirectories.insert(path);
    }
    if (archive_entry_hardlink(entry) != nullptr &&
        !below(landing(QString(), memberPath(archive_entry_hardlink(entry))), directory)) {
        return path + " is a hard link out of " + directory;
    }
    // A symbolic link is data like any file (var/run -> /run is in every system), as long as nothing is written
    // through it: no member lies below it, and the directory itself is none.
    if (type == AE_IFLNK && path == directory) {
        return path + " is a symbolic link, not the directory";
    }
    return QString();
}

bool isRestorableDirectory(const QString& directory)
{
    return RestorableDirectories.contains(directory);
}

bool memberStaysInside(const QString& member, const QString& directory)
{
    if (member == DataInfoMember) {
        return true;
    }
    if (!isRestorableDirectory(directory) || member.startsWith('/')) {
        return false;
    }
    const QStringList parts = member.split('/');
    if (parts.constFirst() != directory || parts.contains("..")) {
        return false;
    }
    return true;
}

QString firstStrayMember(const QStringList& members, const QString& directory)
{
    for (const QString& member : members) {
        if (!memberStaysInside(member, directory)) {
            return member.isEmpty() ? QString("(empty name)") : member;
        }
    }
    return QString();
}

bool anyChecksum(const QString& directory, const QStringList& archives)
{
    return std::any_of(archives.cbegin(), archives.cend(), [&directory](const QString& name) {
        return QFileInfo(directory + "/" + name + ".md5").isFile();
    });
}

bool holdsDirectory(const QStringList& members, const QString& directory)
{
    return members.contains(directory) || members.contains(directory + "/");
}

QString dataInfoValue(const QString& dataInfo, const QString& key)
{
    QString value;
    const QStringList lines = dataInfo.split('\n');
    for (const QString& line : lines) {
        if (!line.startsWith(key + "=")) {
            continue;
        }
        const QString found = line.mid(key.size() + 1).trimmed();
        if (!value.isEmpty() && found != value) {
            return QString();
        }
        value = found;
    }
    return value;
}

bool readDataInfo(const QString& archive, QString& dataInfo)
{
    QString err;
    return SpawnCmd("sudo",
                    {"tar", "--extract", "--to-stdout", "--no-wildcards", "--file=" + archive, "--", DataInfoMember},
                    dataInfo, err);
}

QString firstUnsafeMember(const QString& archive, const QString& directory)
{
    struct archive* reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_read_support_format_gnutar(reader);
    QString why;
    if (archive_read_open_filename(reader, QFile::encodeName(archive).constData(), 10240) != ARCHIVE_OK) {
        why = "cannot be read: " + QString::fromLocal8Bit(archive_error_string(reader));
    }
    QSet<QString> nonDirectories;
    archive_entry* entry = nullptr;
    while (why.isEmpty() && archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        why = unsafeMember(entry, directory, nonDirectories);
    }
    archive_read_free(reader);
    return why;
}

bool listMembers(const QString& archive, QStringList& members)
{
    return TarListing::listWhole(archive, members);
}

} // namespace ArchiveCheck
