#include "BrowseSession.h"

#include "BlockDisks.h"
#include "InstalledSystem.h"
#include "MountPath.h"
#include "core/ToolTimeout.h"
#include "core/command.h"
#include "tasks/BrowseMounts.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const int DirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "dir";
    }
    if (S_ISREG(mode)) {
        return "file";
    }
    return S_ISLNK(mode) ? "link" : "other";
}

QJsonObject entryOf(const QString& name, const struct stat& info)
{
    return QJsonObject{{"name", name},
                       {"kind", kindOf(info.st_mode)},
                       {"size", double(info.st_size)},
                       {"mtime", double(info.st_mtim.tv_sec)}};
}

// Folders first, then by name as a person reads it (case aside, then case).
void sortEntries(QList<QJsonObject>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const QJsonObject& a, const QJsonObject& b) {
        const bool aDir = a.value("kind") == "dir";
        const bool bDir = b.value("kind") == "dir";
        if (aDir != bDir) {
            return aDir;
        }
        const QString aName = a.value("name").toString();
        const QString bName = b.value("name").toString();
        const int folded = aName.compare(bName, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : aName < bName;
    });
}

BlockEntry entryOfDevice(const QString& devicePath)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    for (const BlockEntry& entry : BlockDisks::list()) {
        if (!canonical.isEmpty() && QFileInfo(entry.device).canonicalFilePath() == canonical) {
            return entry;
        }
    }
    return BlockEntry();
}

// The mount point of the fstab entry that a bind source lies in (the longest one), as its UUID and the rest.
bool bindSource(const FSTabInfoList& fstab, const QString& source, QString& uuid, QString& rest)
{
    int best = -1;
    for (const FSTabInfoPtr& info : fstab) {
        const QString entryUUID = FSTab::getUUIDFromInfo(info);
        const QString point = info->mountPoint == "/" ? QString() : info->mountPoint;
        if (info->isComment || info->isEmpty || entryUUID.isEmpty() || !source.startsWith(point + "/") ||
            point.size() <= best) {
            continue;
        }
        best = int(point.size());
        uuid = entryUUID;
        rest = source.mid(point.size() + 1);
    }
    return best >= 0;
}

} // namespace

BrowseSession::~BrowseSession()
{
    close();
}

void BrowseSession::homesOf(const FSTabInfoList& fstab, const QString& rootUUID, QString& uuid, QString& subdir)
{
    uuid = rootUUID;
    subdir = "home";
    for (const FSTabInfoPtr& info : fstab) {
        if (info->isComment || info->isEmpty || QDir::cleanPath(info->mountPoint) != "/home") {
            continue;
        }
        const QString homesUUID = FSTab::getUUIDFromInfo(info);
        if (!homesUUID.isEmpty()) {
            uuid = homesUUID;
            subdir.clear();
        } else if (info->options.split(',').contains("bind") && info->device.startsWith('/')) {
            bindSource(fstab, QDir::cleanPath(info->device), uuid, subdir);
        }
    }
}

bool BrowseSession::openPersonal(const InstalledSystem& system, const QString& rootUUID)
{
    const BlockEntry root = system.deviceOf(rootUUID, true);
    if (root.device.isEmpty() || !addPartition("root", root.device, root.type, QString())) {
        return false;
    }
    const QString fstabPath = MountPath::resolveInRoot(m_volumes.constFirst().mountPoint, "/etc/fstab");
    QString uuid;
    QString subdir;
    homesOf(FSTab::getFSTabFromFile(fstabPath), rootUUID, uuid, subdir);
    qInfo().noquote() << "the homes are on " + uuid + ", below \"" + subdir + "\"";
    if (uuid == rootUUID) {
        BrowseVolume& volume = m_volumes.first();
        volume.name = "home";
        return splitPath(subdir, volume.subdir);
    }
    close();
    const BlockEntry homes = system.deviceOf(uuid, true);
    return !homes.device.isEmpty() && addPartition("home", homes.device, homes.type, subdir);
}

bool BrowseSession::openPartition(const InstalledSystem& system, const QString& devicePath)
{
    const BlockEntry entry = entryOfDevice(devicePath);
    // Only a partition of the installed system's own disk, never a copy of one elsewhere.
    if (entry.device.isEmpty() || !system.holds(entry.device) ||
        BlockDisks::partitionNumber(BlockDisks::sysfsDirOf(entry.device)) == 0) {
        qWarning().noquote() << "not a partition of the installed system: " + devicePath;
        return false;
    }
    return addPartition(QFileInfo(entry.device).fileName(), entry.device, entry.type, QString());
}

bool BrowseSession::openBackup(const QString& backupDir)
{
    const QStringList images = QDir(backupDir).entryList({"*.rbk"}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    if (backupDir.isEmpty() || images.isEmpty()) {
        qWarning().noquote() << "no image in the backup directory";
        return false;
    }
    for (const QString& image : images) {
        if (!addImage(QFileInfo(image).completeBaseName(), QDir(backupDir).filePath(image))) {
            close();
            return false;
        }
    }
    return true;
}

bool BrowseSession::addPartition(const QString& name, const QString& device, const QString& fsType,
                                 const QString& subdir)
{
    const QString options = BrowseMounts::readOnlyOptions(fsType);
    BrowseVolume volume;
    volume.name = name;
    volume.device = device;
    if (options.isEmpty() || !splitPath(subdir, volume.subdir)) {
        qWarning().noquote() << "cannot be browsed: " + device + " (" + fsType + ")";
        return false;
    }
    volume.mountPoint = BrowseMounts::newMountPoint("volume");
    if (volume.mountPoint.isEmpty() || !BrowseMounts::mountDevice(device, fsType, options, volume.mountPoint)) {
        BrowseMounts::unmountAndRemove(volume.mountPoint);
        return false;
    }
    describe(volume);
    m_volumes.append(volume);
    return true;
}

bool BrowseSession::addImage(const QString& name, const QString& image)
{
    BrowseVolume volume;
    volume.name = name;
    volume.device = image;
    volume.image = true;
    volume.mountPoint = BrowseMounts::newMountPoint("image");
    QString output;
    QString err;
    if (volume.mountPoint.isEmpty() ||
        !SpawnCmd("marlin-clone", {"--mount", image, volume.mountPoint}, output, err, ToolTimeout::Quick)) {
        qWarning().noquote() << "the image does not mount: " + image + ": " + err.trimmed();
        QDir().rmdir(volume.mountPoint);
        return false;
    }
    describe(volume);
    m_volumes.append(volume);
    return true;
}

void BrowseSession::describe(BrowseVolume& volume) const
{
    for (const MountEntry& entry : BrowseMounts::table()) {
        if (entry.mountPoint != volume.mountPoint) {
            continue;
        }
        volume.fsType = entry.fsType;
        QString label;
        if (SpawnCmd("blkid", {"-o", "value", "-s", "LABEL", "--", entry.source}, label)) {
            volume.label = label.trimmed();
        }
    }
    struct statvfs fs
    {
    };
    if (::statvfs(QFile::encodeName(volume.mountPoint).constData(), &fs) == 0) {
        volume.size = qint64(fs.f_blocks) * qint64(fs.f_frsize);
    }
}

void BrowseSession::close()
{
    for (const BrowseVolume& volume : qAsConst(m_volumes)) {
        if (volume.image) {
            SpawnCmd("marlin-clone", {"--unmount", volume.mountPoint});
            QDir().rmdir(volume.mountPoint);
        } else {
            BrowseMounts::unmountAndRemove(volume.mountPoint);
        }
    }
    m_volumes.clear();
}

QJsonArray BrowseSession::volumesJson() const
{
    QJsonArray volumes;
    for (const BrowseVolume& volume : m_volumes) {
        volumes.append(QJsonObject{
            {"name", volume.name}, {"fsType", volume.fsType}, {"label", volume.label}, {"size", double(volume.size)}});
    }
    return volumes;
}

QStringList BrowseSession::devices() const
{
    QStringList devices;
    for (const BrowseVolume& volume : m_volumes) {
        if (!volume.image) {
            devices.append(volume.device);
        }
    }
    return devices;
}

bool BrowseSession::splitPath(const QString& path, QStringList& parts)
{
    parts.clear();
    if (path.isEmpty()) {
        return true;
    }
    parts = path.split('/');
    return std::none_of(parts.cbegin(), parts.cend(), [](const QString& part) {
        return part.isEmpty() || part == "." || part == ".." || part.contains(QChar(0));
    });
}

int BrowseSession::openDirectory(const QStringList& parts) const
{
    if (parts.isEmpty()) {
        return -1;
    }
    const auto volume = std::find_if(m_volumes.cbegin(), m_volumes.cend(),
                                     [&parts](const BrowseVolume& each) { return each.name == parts.constFirst(); });
    if (volume == m_volumes.cend()) {
        return -1;
    }
    int fd = ::open(QFile::encodeName(volume->mountPoint).constData(), DirFlags);
    for (const QString& part : volume->subdir + parts.mid(1)) {
        if (fd < 0) {
            break;
        }
        const int next = ::openat(fd, QFile::encodeName(part).constData(), DirFlags);
        ::close(fd);
        fd = next;
    }
    return fd;
}

QJsonArray BrowseSession::topLevel() const
{
    QList<QJsonObject> entries;
    for (const BrowseVolume& volume : m_volumes) {
        struct stat info
        {
        };
        const int fd = openDirectory({volume.name});
        if (fd >= 0 && ::fstat(fd, &info) == 0) {
            QJsonObject entry = entryOf(volume.name, info);
            entry.insert("size", double(volume.size));
            entries.append(entry);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    QJsonArray array;
    for (const QJsonObject& entry : entries) {
        array.append(entry);
    }
    return array;
}

bool BrowseSession::list(const QString& path, QJsonObject& listing) const
{
    QStringList parts;
    if (!isOpen() || !splitPath(path, parts)) {
        return false;
    }
    if (parts.isEmpty()) {
        listing = QJsonObject{{"path", path}, {"entries", topLevel()}};
        return true;
    }
    const int fd = openDirectory(parts);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    QList<QJsonObject> entries;
    while (const dirent* each = ::readdir(dir)) {
        struct stat info
        {
        };
        const QByteArray name(each->d_name);
        if (name == "." || name == ".." || ::fstatat(::dirfd(dir), each->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        entries.append(entryOf(QFile::decodeName(name), info));
    }
    ::closedir(dir);
    sortEntries(entries);
    QJsonArray array;
    for (const QJsonObject& entry : entries) {
        array.append(entry);
    }
    listing = QJsonObject{{"path", path}, {"entries", array}};
    return true;
}
