#include "BrowseMounts.h"

#include "core/ToolTimeout.h"
#include "core/command.h"
#include "utils.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString BrowseDir = "/run/marlin-browse";

// The mount table escapes blanks, tabs, newlines and backslashes as octal.
QString unescape(const QString& field)
{
    QString text;
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size() && field.mid(i + 1, 3).toInt(nullptr, 8) > 0) {
            text.append(QChar(field.mid(i + 1, 3).toInt(nullptr, 8)));
            i += 3;
        } else {
            text.append(field.at(i));
        }
    }
    return text;
}

bool makePrivateDir()
{
    const QByteArray path = QFile::encodeName(BrowseDir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info
    {
    };
    // Planted by someone else (a link, another owner, open to others) it is not ours to mount below.
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

} // namespace

namespace BrowseMounts {

QString newMountPoint(const QString& prefix)
{
    if (!makePrivateDir()) {
        qWarning().noquote() << "the private browse directory cannot be used: " + BrowseDir;
        return QString();
    }
    QByteArray templ = QFile::encodeName(BrowseDir + "/" + prefix + "-XXXXXX");
    if (::mkdtemp(templ.data()) == nullptr) {
        return QString();
    }
    return QFile::decodeName(templ);
}

bool mountDevice(const QString& device, const QString& fsType, const QString& options, const QString& dir)
{
    QString output;
    QString err;
    if (!SpawnCmd("mount", {"-t", fsType, "-o", options, "--", device, dir}, output, err, ToolTimeout::Quick)) {
        qWarning().noquote() << "mount failed: " + device + " at " + dir + ": " + err.trimmed();
        return false;
    }
    return true;
}

void unmountAndRemove(const QString& dir)
{
    if (dir.isEmpty()) {
        return;
    }
    const auto mounted = [&dir]() {
        const QList<MountEntry> entries = table();
        return std::any_of(entries.cbegin(), entries.cend(),
                           [&dir](const MountEntry& entry) { return entry.mountPoint == dir; });
    };
    if (mounted() && !SpawnCmd("umount", {"--", dir}) && mounted()) {
        // Still busy (a file held open): detached now, gone once it is let go.
        qWarning().noquote() << "umount failed, detaching: " + dir;
        SpawnCmd("umount", {"-l", "--", dir});
    }
    QDir().rmdir(dir);
}

QList<MountEntry> table()
{
    QList<MountEntry> entries;
    QFile file("/proc/self/mountinfo");
    if (!file.open(QIODevice::ReadOnly)) {
        return entries;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(line).split(' ');
        const int separator = int(fields.indexOf("-"));
        if (fields.size() < 10 || separator < 6 || separator + 3 > fields.size()) {
            continue;
        }
        MountEntry entry;
        entry.mountPoint = unescape(fields.at(4));
        entry.readOnly = fields.at(5).split(',').contains("ro");
        entry.fsType = fields.at(separator + 1);
        entry.source = unescape(fields.at(separator + 2));
        entries.append(entry);
    }
    return entries;
}

QList<MountEntry> mountsOf(const QString& device)
{
    QList<MountEntry> found;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (canonical.isEmpty()) {
        return found;
    }
    for (const MountEntry& entry : table()) {
        if (entry.source.startsWith("/dev/") && QFileInfo(entry.source).canonicalFilePath() == canonical) {
            found.append(entry);
        }
    }
    return found;
}

QString readOnlyOptions(const QString& fsType)
{
    const QString options = Utils::readOnlyMountOptions(fsType).value("options").toString();
    return options.isEmpty() ? QString() : options + ",nosuid,nodev,noexec";
}

bool isWritableType(const QString& fsType)
{
    static const QStringList Writable{"ext2", "ext3", "ext4", "xfs", "btrfs", "vfat", "exfat"};
    return Writable.contains(fsType);
}

} // namespace BrowseMounts
