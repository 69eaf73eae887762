#include "FileCopier.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const int DirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
const size_t ChunkSize = 16 * 1024 * 1024;
const qint64 BlockSize = 4096;
const QString CancelledText = "Copy cancelled";
const QString ReadFailedText = "Cannot read the chosen files";
const QString WriteFailedText = "Cannot write to the destination";
const QString NoRoomText = "Not enough free space on the destination";

// What a file takes on the destination at most beyond its bytes: its last block and its entry.
qint64 spaceFor(qint64 bytes)
{
    return (bytes + BlockSize - 1) / BlockSize * BlockSize + BlockSize;
}

QByteArray encoded(const QString& name)
{
    return QFile::encodeName(name);
}

} // namespace

FileCopier::FileCopier(const QList<CopySource>& sources, int destRootFd, const QString& destDir, QObject* parent)
    : QThread(parent), m_sources(sources), m_destRootFd(destRootFd), m_destDir(destDir)
{
}

FileCopier::~FileCopier()
{
    cancel();
    wait();
    for (const CopySource& source : qAsConst(m_sources)) {
        ::close(source.parentFd);
    }
    if (m_destRootFd >= 0) {
        ::close(m_destRootFd);
    }
}

QString FileCopier::numberedName(const QString& name, int number, bool isFile)
{
    const QString suffix = QString(" (%1)").arg(number);
    const int dot = isFile ? int(name.indexOf('.', 1)) : -1;
    return dot > 0 ? name.left(dot) + suffix + name.mid(dot) : name + suffix;
}

void FileCopier::run()
{
    for (const CopySource& source : qAsConst(m_sources)) {
        if (!scan(source.parentFd, encoded(source.name))) {
            finish(ReadFailedText, QJsonObject());
            return;
        }
    }
    struct statvfs fs
    {
    };
    const qint64 needed = m_bytesNeeded;
    const qint64 free = ::fstatvfs(m_destRootFd, &fs) == 0 ? qint64(fs.f_bavail) * qint64(fs.f_frsize) : -1;
    if (free < needed) {
        finish(NoRoomText, QJsonObject{{"needed", double(needed)}, {"free", double(qMax<qint64>(free, 0))}});
        return;
    }
    const QByteArray destDir = encoded(m_destDir);
    if (::mkdirat(m_destRootFd, destDir.constData(), 0755) != 0 && errno != EEXIST) {
        finish(WriteFailedText, QJsonObject());
        return;
    }
    const int destDirFd = ::openat(m_destRootFd, destDir.constData(), DirFlags);
    if (destDirFd < 0) {
        finish(WriteFailedText, QJsonObject());
        return;
    }
    addBytes(0);
    for (const CopySource& source : qAsConst(m_sources)) {
        if (!copyEntry(source.parentFd, encoded(source.name), destDirFd, source.name)) {
            break;
        }
    }
    // Whole on the disk before the person is told, who may pull the USB disk out next.
    ::syncfs(destDirFd);
    ::close(destDirFd);
    if (m_cancelled || !m_error.isEmpty()) {
        finish(m_cancelled ? CancelledText : m_error, counts());
        return;
    }
    QJsonObject data = counts();
    data.insert("renamed", m_renamed);
    data.insert("skipped", m_skipped);
    finish(QString(), data);
}

void FileCopier::finish(const QString& errMsg, const QJsonObject& data)
{
    m_outcomeError = errMsg;
    m_outcome = data;
}

QJsonObject FileCopier::counts() const
{
    return QJsonObject{{"files", m_files}, {"bytes", double(m_filesBytes)}};
}

// Sums what the copy will write: the bytes of every regular file, and the room each entry takes.
bool FileCopier::scan(int parentFd, const QByteArray& name)
{
    struct stat info
    {
    };
    if (m_cancelled || ::fstatat(parentFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        m_bytesTotal += info.st_size;
        m_bytesNeeded += spaceFor(info.st_size);
        return true;
    }
    m_bytesNeeded += BlockSize;
    if (!S_ISDIR(info.st_mode)) {
        return true;
    }
    const int fd = ::openat(parentFd, name.constData(), DirFlags);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    bool ok = true;
    while (const dirent* each = ::readdir(dir)) {
        const QByteArray child(each->d_name);
        if (child != "." && child != ".." && !scan(::dirfd(dir), child)) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    return ok;
}

bool FileCopier::copyEntry(int srcParent, const QByteArray& name, int destDirFd, const QString& destName)
{
    struct stat info
    {
    };
    if (m_cancelled) {
        return false;
    }
    if (::fstatat(srcParent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        m_error = ReadFailedText;
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        return copyFile(srcParent, name, info, destDirFd, destName);
    }
    if (S_ISDIR(info.st_mode)) {
        return copyDirectory(srcParent, name, info, destDirFd, destName);
    }
    if (S_ISLNK(info.st_mode)) {
        return copyLink(srcParent, name, info, destDirFd, destName);
    }
    // Devices, fifos and sockets are no files to bring back.
    m_skipped.append(QFile::decodeName(name));
    return true;
}

QByteArray FileCopier::temporaryName()
{
    return QString(".marlin-copy-%1-%2").arg(::getpid()).arg(++m_temporaryCount).toUtf8();
}

bool FileCopier::copyFile(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                          const QString& destName)
{
    // Non-blocking: should a fifo have taken the file's place, opening it must not wait for a writer.
    const int in = ::openat(srcParent, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat opened
    {
    };
    if (in < 0 || ::fstat(in, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        if (in >= 0) {
            ::close(in);
        }
        m_error = ReadFailedText;
        return false;
    }
    QByteArray temporary;
    int out = -1;
    for (int tries = 0; out < 0 && tries < 100; ++tries) {
        temporary = temporaryName();
        out = ::openat(destDirFd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST) {
            break;
        }
    }
    if (out < 0) {
        ::close(in);
        m_error = WriteFailedText;
        return false;
    }
    bool ok = copyData(in, out);
    ::close(in);
    if (ok) {
        keepAttributes(out, info);
    }
    ok = (::close(out) == 0) && ok;
    QString placed;
    if (!ok || !placeTemporary(destDirFd, temporary, destName, true, placed)) {
        ::unlinkat(destDirFd, temporary.constData(), 0);
        if (m_error.isEmpty() && !m_cancelled) {
            m_error = WriteFailedText;
        }
        return false;
    }
    ++m_files;
    m_filesBytes += info.st_size;
    return true;
}

// The kernel's copy first, then its copy through a pipe, then a buffer of ours: each file system offers a
// different subset, and only the first error of a file tells which.
bool FileCopier::copyData(int in, int out)
{
    enum Way
    {
        Range,
        SendFile,
        Buffer
    };
    Way way = Range;
    qint64 copied = 0;
    while (!m_cancelled) {
        ssize_t n = -1;
        if (way == Range) {
            n = ::copy_file_range(in, nullptr, out, nullptr, ChunkSize, 0);
        } else if (way == SendFile) {
            n = ::sendfile(out, in, nullptr, ChunkSize);
        } else {
            m_buffer.resize(4 * 1024 * 1024);
            n = ::read(in, m_buffer.data(), size_t(m_buffer.size()));
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, m_buffer.constData() + written, size_t(n - written));
                if (w < 0 && errno != EINTR) {
                    return false;
                }
                written += qMax<ssize_t>(w, 0);
            }
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && copied == 0 && way != Buffer &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            way = Way(way + 1);
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        copied += n;
        addBytes(n);
    }
    return false;
}

bool FileCopier::copyDirectory(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                               const QString& destName)
{
    const int srcFd = ::openat(srcParent, name.constData(), DirFlags);
    if (srcFd < 0) {
        m_error = ReadFailedText;
        return false;
    }
    QString placed = destName;
    // Made closed to others until its content is in and its own mode is set.
    for (int number = 2; ::mkdirat(destDirFd, encoded(placed).constData(), 0700) != 0; ++number) {
        if (errno != EEXIST) {
            ::close(srcFd);
            m_error = WriteFailedText;
            return false;
        }
        placed = numberedName(destName, number, false);
    }
    if (placed != destName) {
        m_renamed.append(QJsonObject{{"from", destName}, {"to", placed}});
    }
    const int destFd = ::openat(destDirFd, encoded(placed).constData(), DirFlags);
    const int listFd = ::dup(srcFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    QList<QByteArray> children;
    while (dir != nullptr && destFd >= 0) {
        const dirent* each = ::readdir(dir);
        if (each == nullptr) {
            break;
        }
        const QByteArray child(each->d_name);
        if (child != "." && child != "..") {
            children.append(child);
        }
    }
    if (dir != nullptr) {
        ::closedir(dir);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    bool ok = destFd >= 0 && dir != nullptr;
    if (!ok) {
        m_error = destFd < 0 ? WriteFailedText : ReadFailedText;
    }
    for (const QByteArray& child : qAsConst(children)) {
        if (!ok || !copyEntry(srcFd, child, destFd, QFile::decodeName(child))) {
            ok = false;
            break;
        }
    }
    if (destFd >= 0) {
        keepAttributes(destFd, info);
        ::close(destFd);
    }
    ::close(srcFd);
    return ok;
}

bool FileCopier::copyLink(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                          const QString& destName)
{
    QByteArray target(PATH_MAX + 1, '\0');
    const ssize_t length = ::readlinkat(srcParent, name.constData(), target.data(), size_t(target.size()));
    if (length < 0 || length > PATH_MAX) {
        m_error = ReadFailedText;
        return false;
    }
    target.truncate(int(length));
    const QByteArray temporary = temporaryName();
    if (::symlinkat(target.constData(), destDirFd, temporary.constData()) != 0) {
        // File systems without links (FAT) cannot hold this one: said, not failed.
        if (errno == EPERM || errno == EOPNOTSUPP) {
            m_skipped.append(QFile::decodeName(name));
            return true;
        }
        m_error = WriteFailedText;
        return false;
    }
    // Owner where the destination can hold it, as for files: a link owned by root is no failure.
    if (::fchownat(destDirFd, temporary.constData(), info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        qDebug().noquote() << "the copied link " + QFile::decodeName(name) + " keeps the copier's owner";
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(destDirFd, temporary.constData(), times, AT_SYMLINK_NOFOLLOW);
    QString placed;
    if (!placeTemporary(destDirFd, temporary, destName, true, placed)) {
        ::unlinkat(destDirFd, temporary.constData(), 0);
        return false;
    }
    return true;
}

bool FileCopier::placeTemporary(int destDirFd, const QByteArray& temporary, const QString& destName, bool isFile,
                                QString& placed)
{
    placed = destName;
    for (int number = 2;; ++number) {
        if (::renameat2(destDirFd, temporary.constData(), destDirFd, encoded(placed).constData(), RENAME_NOREPLACE) ==
            0) {
            break;
        }
        if (errno != EEXIST) {
            m_error = WriteFailedText;
            return false;
        }
        placed = numberedName(destName, number, isFile);
    }
    if (placed != destName) {
        m_renamed.append(QJsonObject{{"from", destName}, {"to", placed}});
    }
    return true;
}

// Owner where the destination can hold it; the special bits only with their owner.
void FileCopier::keepAttributes(int fd, const struct stat& info)
{
    const bool owned = ::fchown(fd, info.st_uid, info.st_gid) == 0;
    ::fchmod(fd, info.st_mode & (owned ? 07777 : 0777));
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(fd, times);
}

void FileCopier::addBytes(qint64 bytes)
{
    m_bytesDone += bytes;
    const int percent = m_bytesTotal > 0 ? int(qMin<qint64>(99, m_bytesDone * 100 / m_bytesTotal)) : 0;
    if (percent > m_lastPercent) {
        m_lastPercent = percent;
        emit progressed(m_bytesDone, m_bytesTotal);
    }
}
