#include "tasks/BackupOutput.h"

#include "MountPath.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QByteArray encoded(const QString& name)
{
    return QFile::encodeName(name);
}

// A name of this run's own beside name: nobody else's file is ever taken for it.
QString temporaryName(const QString& name)
{
    return QString(".%1.new-%2").arg(name).arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
}

int openDirectoryAt(int parentFd, const QString& name)
{
    return ::openat(parentFd, encoded(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A directory another account can change: it could swap what is built below it for a link, or empty it.
bool othersCanChange(int dirFd)
{
    struct stat info
    {
    };
    if (::fstat(dirFd, &info) != 0) {
        return true;
    }
    return info.st_uid != 0 || (info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0);
}

QStringList entriesOf(int dirFd)
{
    QStringList names;
    const int copy = ::dup(dirFd);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (dir == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != "." && name != "..") {
            names.append(name);
        }
    }
    ::closedir(dir);
    return names;
}

bool isRegularFileAt(int dirFd, const QString& name)
{
    struct stat info
    {
    };
    return ::fstatat(dirFd, encoded(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// What a backup (or a cut-off run of one) leaves in its directory.
bool isBackupFileName(const QString& name)
{
    const bool partial = name.startsWith('.') && (name.contains(".partial-") || name.contains(".new-"));
    return partial || name.endsWith(".rbk") || name.endsWith(".md5") || name.endsWith(".tar");
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// rename(2) without replacing what is at to; false with errno EEXIST when something is.
bool renameNoReplace(int fromFd, const QString& from, int toFd, const QString& to)
{
    if (::renameat2(fromFd, encoded(from).constData(), toFd, encoded(to).constData(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    // A file system without the flag (some FUSE ones): look first, then rename.
    if (::faccessat(toFd, encoded(to).constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(fromFd, encoded(from).constData(), toFd, encoded(to).constData()) == 0;
}

} // namespace

BackupOutput::~BackupOutput()
{
    discard();
}

QString BackupOutput::finalPath() const
{
    return QDir::cleanPath(m_parentPath + "/" + m_name);
}

QString BackupOutput::storePath() const
{
    return QDir::cleanPath(m_parentPath + "/.chunks");
}

QString BackupOutput::workPath() const
{
    return QDir::cleanPath(m_parentPath + "/" + m_workName);
}

bool BackupOutput::fail(const QString& what)
{
    m_error = errno;
    qCritical().noquote() << what + ": " + QString::fromLocal8Bit(std::strerror(m_error));
    return false;
}

bool BackupOutput::open(const QString& mountPoint, const QString& relative)
{
    const QString root = mountPoint.isEmpty() ? QString() : QFileInfo(mountPoint).canonicalFilePath();
    const QString resolved = MountPath::resolveInside(root, relative);
    const QStringList parts = resolved.mid(root.size()).split('/', Qt::SkipEmptyParts);
    // A partition's root cannot be swapped for a new directory, nor would its other files be left alone.
    if (resolved.isEmpty() || parts.isEmpty()) {
        qCritical().noquote() << "backup directory refused, not below its partition: " + mountPoint + " + " + relative;
        return false;
    }
    int fd = ::open(encoded(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i + 1 < parts.size() && fd >= 0 && !othersCanChange(fd); ++i) {
        if (::mkdirat(fd, encoded(parts.at(i)).constData(), 0755) == 0) {
            m_createdParents.append({::dup(fd), parts.at(i)});
        }
        const int next = openDirectoryAt(fd, parts.at(i));
        ::close(fd);
        fd = next;
    }
    if (fd < 0) {
        return fail("cannot open the directory above " + resolved);
    }
    if (othersCanChange(fd)) {
        ::close(fd);
        errno = EPERM;
        return fail("backup directory refused, another account can change a directory above it: " + resolved);
    }
    m_parentFd = fd;
    m_parentPath = QDir::cleanPath(root + "/" + QStringList(parts.mid(0, parts.size() - 1)).join('/'));
    m_name = parts.constLast();
    struct stat info
    {
    };
    if (::fstatat(m_parentFd, encoded(m_name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode)) {
        qCritical().noquote() << "backup directory refused, something else has its name: " + finalPath();
        return false;
    }
    removeAbandonedWork();
    for (int attempt = 0; attempt < 16 && m_workName.isEmpty(); ++attempt) {
        const QString work = temporaryName(m_name);
        if (::mkdirat(m_parentFd, encoded(work).constData(), 0700) == 0) {
            m_workName = work;
        } else if (errno != EEXIST) {
            return fail("cannot make a working directory beside " + finalPath());
        }
    }
    m_workFd = m_workName.isEmpty() ? -1 : openDirectoryAt(m_parentFd, m_workName);
    return m_workFd >= 0 || fail("cannot open the working directory " + workPath());
}

// A working directory of an earlier run cut off by a power cut or a kill: root's, still private (a finished one is
// opened up right before it takes its place), holding nothing but files. An older backup stepped aside is no such.
void BackupOutput::removeAbandonedWork()
{
    const QRegularExpression workName("^" + QRegularExpression::escape("." + m_name + ".new-") + "[0-9a-f]{8}$");
    for (const QString& entry : entriesOf(m_parentFd)) {
        struct stat info
        {
        };
        if (!workName.match(entry).hasMatch() ||
            ::fstatat(m_parentFd, encoded(entry).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != 0 || (info.st_mode & 07777) != 0700) {
            continue;
        }
        const int fd = openDirectoryAt(m_parentFd, entry);
        for (const QString& file : fd < 0 ? QStringList() : entriesOf(fd)) {
            if (isRegularFileAt(fd, file)) {
                ::unlinkat(fd, encoded(file).constData(), 0);
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
        const bool removed = ::unlinkat(m_parentFd, encoded(entry).constData(), AT_REMOVEDIR) == 0;
        qInfo().noquote() << (removed ? "removed " : "cannot remove all of ") + m_parentPath + "/" + entry +
                                 ", left by a backup that did not finish";
    }
}

// Readable by root alone: archives of opt and var hold what the system kept from its users (shadow copies,
// crontabs, mail).
int BackupOutput::createTemporary(const QString& name)
{
    const QString temporary = temporaryName(name);
    const int fd =
        ::openat(m_workFd, encoded(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("cannot create " + temporary + " in " + workPath());
        return -1;
    }
    m_temporaries.insert(name, {temporary, fd});
    return fd;
}

bool BackupOutput::placeTemporary(const QString& name)
{
    const auto it = m_temporaries.constFind(name);
    if (it == m_temporaries.constEnd()) {
        return false;
    }
    const QPair<QString, int> temporary = it.value();
    m_temporaries.remove(name);
    const bool synced = ::fsync(temporary.second) == 0;
    const int syncError = errno;
    ::close(temporary.second);
    if (!synced) {
        errno = syncError;
        return fail("cannot write " + name + " in " + workPath());
    }
    return renameNoReplace(m_workFd, temporary.first, m_workFd, name) || fail("cannot name " + name);
}

bool BackupOutput::writeChecksum(const QString& name)
{
    const int fd = ::openat(m_workFd, encoded(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return fail("cannot read " + name + " in " + workPath());
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file)) {
        return fail("cannot read " + name + " in " + workPath());
    }
    const QByteArray line = hash.result().toHex() + "  " + encoded(finalPath() + "/" + name) + "\n";
    const int out = createTemporary(name + ".md5");
    if (out < 0) {
        return false;
    }
    return (writeAll(out, line) || fail("cannot write the checksum of " + name)) && placeTemporary(name + ".md5");
}

bool BackupOutput::commit()
{
    if (m_workFd < 0 || ::fsync(m_workFd) != 0) {
        return fail("cannot flush " + workPath());
    }
    // Readable by the installed system's tools; writable by root alone, whatever the directory above passed on.
    if (::fchmod(m_workFd, 0755) != 0) {
        qWarning().noquote() << "cannot set the permissions of " + workPath();
    }
    for (const char* acl : {"system.posix_acl_access", "system.posix_acl_default"}) {
        if (::fremovexattr(m_workFd, acl) != 0 && errno != ENODATA && errno != EOPNOTSUPP) {
            qWarning().noquote() << QString("cannot remove %1 of ").arg(acl) + workPath();
        }
    }
    QString old;
    if (!renameNoReplace(m_parentFd, m_workName, m_parentFd, m_name) && !exchangeWithOlder(old)) {
        return fail("cannot put the backup in place at " + finalPath());
    }
    m_committed = true;
    if (!old.isEmpty()) {
        clearOldBackup(old);
    }
    ::fsync(m_parentFd);
    closeAll();
    return true;
}

// An older backup is kept whole until this one takes its place in one step; old receives where it went.
bool BackupOutput::exchangeWithOlder(QString& old)
{
    struct stat info
    {
    };
    const QByteArray name = encoded(m_name);
    if (errno != EEXIST || ::fstatat(m_parentFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode)) {
        return false;
    }
    if (::renameat2(m_parentFd, encoded(m_workName).constData(), m_parentFd, name.constData(), RENAME_EXCHANGE) == 0) {
        old = m_workName;
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    // A file system without the exchange (some FUSE ones): the older one steps aside first, and back on failure.
    const QString aside = temporaryName(m_name);
    if (!renameNoReplace(m_parentFd, m_name, m_parentFd, aside)) {
        return false;
    }
    if (!renameNoReplace(m_parentFd, m_workName, m_parentFd, m_name)) {
        const int error = errno;
        renameNoReplace(m_parentFd, aside, m_parentFd, m_name);
        errno = error;
        return false;
    }
    old = aside;
    return true;
}

bool BackupOutput::hasRoomLeft() const
{
    if (m_workFd < 0) {
        return true;
    }
    const QByteArray probe = encoded(temporaryName("room"));
    const int fd = ::openat(m_workFd, probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno != ENOSPC;
    }
    const int result = ::posix_fallocate(fd, 0, 1 << 20);
    ::close(fd);
    ::unlinkat(m_workFd, probe.constData(), 0);
    return result != ENOSPC;
}

// The older backup's files go; anything else that lay in its directory moves into the new one.
void BackupOutput::clearOldBackup(const QString& name)
{
    const int oldFd = openDirectoryAt(m_parentFd, name);
    if (oldFd < 0) {
        return;
    }
    const QStringList entries = entriesOf(oldFd);
    for (const QString& entry : entries) {
        const QByteArray path = encoded(entry);
        if (isRegularFileAt(oldFd, entry) && isBackupFileName(entry)) {
            ::unlinkat(oldFd, path.constData(), 0);
        } else if (!renameNoReplace(oldFd, entry, m_workFd, entry)) {
            qWarning().noquote() << "left in " + m_parentPath + "/" + name + ": " + entry;
        }
    }
    ::close(oldFd);
    if (::unlinkat(m_parentFd, encoded(name).constData(), AT_REMOVEDIR) != 0) {
        qWarning().noquote() << "the older backup's directory is kept as " + m_parentPath + "/" + name;
    }
}

void BackupOutput::discard()
{
    if (m_committed || m_workName.isEmpty()) {
        closeAll();
        return;
    }
    for (const QPair<QString, int>& temporary : qAsConst(m_temporaries)) {
        ::close(temporary.second);
    }
    m_temporaries.clear();
    if (m_workFd >= 0) {
        const QStringList entries = entriesOf(m_workFd);
        for (const QString& entry : entries) {
            ::unlinkat(m_workFd, encoded(entry).constData(), 0);
        }
    }
    if (::unlinkat(m_parentFd, encoded(m_workName).constData(), AT_REMOVEDIR) != 0) {
        qCritical().noquote() << "cannot remove the unfinished backup " + workPath();
    }
    m_workName.clear();
    // The directories made for it, deepest first, as long as nobody put anything in them meanwhile.
    for (auto it = m_createdParents.crbegin(); it != m_createdParents.crend(); ++it) {
        ::unlinkat(it->first, encoded(it->second).constData(), AT_REMOVEDIR);
    }
    closeAll();
}

void BackupOutput::closeAll()
{
    for (const QPair<QString, int>& temporary : qAsConst(m_temporaries)) {
        ::close(temporary.second);
    }
    m_temporaries.clear();
    for (const QPair<int, QString>& parent : qAsConst(m_createdParents)) {
        ::close(parent.first);
    }
    m_createdParents.clear();
    for (int* fd : {&m_workFd, &m_parentFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}
