#include "tasks/ArchiveCheck.h"

#include "TarListing.h"
#include "core/command.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QStringList RestorableDirectories{"opt", "var"};

} // namespace

namespace ArchiveCheck {

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

QStringList extractArguments(const QString& archive, const QString& targetParent, const QString& directory)
{
    return {"tar",    "--xattrs",          "--xattrs-include=*",          "--no-wildcards",
            "-xp",    "--file=" + archive, "--directory=" + targetParent, "--",
            directory};
}

bool readDataInfo(const QString& archive, QString& dataInfo)
{
    QString err;
    return SpawnCmd("sudo",
                    {"tar", "--extract", "--to-stdout", "--no-wildcards", "--file=" + archive, "--", DataInfoMember},
                    dataInfo, err);
}

bool listMembers(const QString& archive, QStringList& members)
{
    return TarListing::listWhole(archive, members);
}

} // namespace ArchiveCheck
