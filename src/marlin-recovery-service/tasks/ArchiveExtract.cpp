#include "tasks/ArchiveExtract.h"

#include "tasks/ArchiveCheck.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDebug>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Owners as the numbers stored (no name look-up in the live system), modes, times, extended attributes and ACLs as
// tar -p keeps them; never through a symbolic link, never by "..", never absolute.
const int ExtractFlags = ARCHIVE_EXTRACT_OWNER | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_XATTR |
                         ARCHIVE_EXTRACT_ACL | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                         ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

const size_t ReadBlock = 64 * 1024;

// A descriptor closed when it goes out of scope.
struct Descriptor
{
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

bool systemFailure(const QString& what, QString& why)
{
    why = what + ": " + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool archiveFailure(archive* handle, const QString& what, QString& why)
{
    const char* text = archive_error_string(handle);
    why = what + ": " + QString::fromLocal8Bit(text == nullptr ? "unknown error" : text);
    return false;
}

bool copyData(archive* in, archive* out, const QString& name, QString& why)
{
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    int result = ARCHIVE_OK;
    while ((result = archive_read_data_block(in, &block, &size, &offset)) == ARCHIVE_OK) {
        if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN) {
            return archiveFailure(out, "cannot write " + name, why);
        }
    }
    return result == ARCHIVE_EOF || archiveFailure(in, "cannot read " + name, why);
}

// tar keeps ACLs as the extended attributes system.posix_acl_access and _default, which libarchive passes over:
// they are set here, once the member is complete. A link has none.
bool setAcls(archive_entry* entry, const QString& name, QString& why)
{
    if (archive_entry_filetype(entry) == AE_IFLNK || archive_entry_xattr_reset(entry) == 0) {
        return true;
    }
    const char* key = nullptr;
    const void* value = nullptr;
    size_t size = 0;
    while (archive_entry_xattr_next(entry, &key, &value, &size) == ARCHIVE_OK) {
        if (std::strncmp(key, "system.posix_acl_", 17) == 0 &&
            ::lsetxattr(archive_entry_pathname(entry), key, value, size, 0) != 0) {
            return systemFailure("cannot set the ACL of " + name, why);
        }
    }
    return true;
}

// The checks before the restore, made again on what is written: the archive may have changed since.
bool copyMember(archive* in, archive* out, archive_entry* entry, const QString& directory,
                QSet<QString>& nonDirectories, QString& why)
{
    const QString name = ArchiveCheck::memberPath(archive_entry_pathname(entry));
    if (name == ArchiveCheck::DataInfoMember) {
        return archive_read_data_skip(in) == ARCHIVE_OK || archiveFailure(in, "cannot read " + name, why);
    }
    if (!ArchiveCheck::memberStaysInside(name, directory)) {
        why = "member outside " + directory + ": " + name;
        return false;
    }
    why = ArchiveCheck::unsafeMember(entry, directory, nonDirectories);
    if (!why.isEmpty()) {
        return false;
    }
    const int result = archive_write_header(out, entry);
    if (result < ARCHIVE_WARN) {
        return archiveFailure(out, "refused or failed: " + name, why);
    }
    if (result == ARCHIVE_WARN) {
        qWarning().noquote() << name + ": " + QString::fromLocal8Bit(archive_error_string(out));
    }
    if (archive_entry_size(entry) > 0 && !copyData(in, out, name, why)) {
        return false;
    }
    if (archive_write_finish_entry(out) < ARCHIVE_WARN) {
        return archiveFailure(out, "cannot finish " + name, why);
    }
    return setAcls(entry, name, why);
}

// Every member into the working directory.
bool copyMembers(int archiveFd, const QString& directory, QString& why)
{
    archive* in = archive_read_new();
    archive_read_support_format_tar(in);
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(out, ExtractFlags);
    bool ok = archive_read_open_fd(in, archiveFd, ReadBlock) == ARCHIVE_OK ||
              archiveFailure(in, "cannot read the archive", why);
    int result = ARCHIVE_EOF;
    archive_entry* entry = nullptr;
    QSet<QString> nonDirectories;
    while (ok && ((result = archive_read_next_header(in, &entry)) == ARCHIVE_OK || result == ARCHIVE_WARN)) {
        ok = copyMember(in, out, entry, directory, nonDirectories, why);
    }
    ok = ok && (result == ARCHIVE_EOF || archiveFailure(in, "cannot read the archive", why));
    // Directories get their modes and times last, once everything inside them is written.
    const bool closed = archive_write_close(out) >= ARCHIVE_WARN;
    ok = ok && (closed || archiveFailure(out, "cannot finish the directories", why));
    archive_write_free(out);
    archive_read_free(in);
    return ok;
}

bool extractInto(int stagingFd, int archiveFd, const QString& directory, QString& why)
{
    const Descriptor previous(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (previous.fd < 0 || ::fchdir(stagingFd) != 0) {
        return systemFailure("cannot enter the staging directory", why);
    }
    const bool ok = copyMembers(archiveFd, directory, why);
    if (::fchdir(previous.fd) != 0) {
        qWarning() << "cannot return to the previous working directory";
    }
    return ok;
}

// The extracted directory, written to the disk, takes its place; the staging directory, empty now, goes.
bool placeExtracted(int parentFd, int stagingFd, const QByteArray& staging, const QString& directory, QString& why)
{
    const QByteArray name = QFile::encodeName(directory);
    struct stat info
    {
    };
    if (::fstatat(stagingFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)) {
        why = "the archive did not bring back the directory " + directory;
        return false;
    }
    if (::syncfs(stagingFd) != 0) {
        return systemFailure("cannot write the extracted files to the disk", why);
    }
    if (::renameat2(stagingFd, name.constData(), parentFd, name.constData(), RENAME_NOREPLACE) != 0) {
        return systemFailure("cannot put " + directory + " in place", why);
    }
    if (::unlinkat(parentFd, staging.constData(), AT_REMOVEDIR) != 0) {
        qWarning().noquote() << "the staging directory stays: " + QString::fromLocal8Bit(std::strerror(errno));
    }
    return ::fsync(parentFd) == 0 || systemFailure("cannot write the directory's new name to the disk", why);
}

} // namespace

namespace ArchiveExtract {

QStringList arguments(const QString& archive, const QString& parent, const QString& directory)
{
    return {"marlin-archive-extract", "--", archive, parent, directory};
}

QString stagingName(const QString& directory)
{
    return ".marlin-extract-" + directory;
}

bool extract(const QString& archive, const QString& parent, const QString& directory, QString& why)
{
    if (!ArchiveCheck::isRestorableDirectory(directory)) {
        why = "not a directory archives restore: " + directory;
        return false;
    }
    const Descriptor parentFd(
        ::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (parentFd.fd < 0) {
        return systemFailure("cannot open " + parent, why);
    }
    // Never a FIFO to hang on, nor a link to another file.
    const Descriptor archiveFd(
        ::open(QFile::encodeName(archive).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {
    };
    if (archiveFd.fd < 0 || ::fstat(archiveFd.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file: " + archive;
        return false;
    }
    const QByteArray staging = QFile::encodeName(stagingName(directory));
    if (::mkdirat(parentFd.fd, staging.constData(), 0700) != 0) {
        return systemFailure("cannot make the staging directory " + stagingName(directory), why);
    }
    const Descriptor stagingFd(
        ::openat(parentFd.fd, staging.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (stagingFd.fd < 0) {
        return systemFailure("cannot open the staging directory", why);
    }
    return extractInto(stagingFd.fd, archiveFd.fd, directory, why) &&
           placeExtracted(parentFd.fd, stagingFd.fd, staging, directory, why);
}

} // namespace ArchiveExtract
