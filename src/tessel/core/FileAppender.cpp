#include "FileAppender.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdio>

namespace Tessel::Core {

FileAppender::FileAppender(const QString& fileName) : m_fileName(fileName) {}

FileAppender::~FileAppender() = default;

QString FileAppender::fileName() const
{
    QMutexLocker locker(&m_fileMutex);
    return m_fileName;
}

void FileAppender::setFileName(const QString& fileName)
{
    QMutexLocker locker(&m_fileMutex);
    if (fileName == m_fileName) {
        return;
    }
    m_file.close();
    m_fileName = fileName;
    m_openFailureReported = false;
}

void FileAppender::append(const QString& formatted)
{
    QMutexLocker locker(&m_fileMutex);
    if (m_fileName.isEmpty()) {
        return;
    }
    prepareFile(m_fileName);
    if (m_file.isOpen() && isReplaced()) {
        m_file.close();
    }
    if (!m_file.isOpen() && !openFile()) {
        return;
    }
    // Unbuffered: each record is one write(2) on an O_APPEND descriptor.
    m_file.write(formatted.toUtf8());
}

void FileAppender::prepareFile(const QString& fileName)
{
    Q_UNUSED(fileName);
}

void FileAppender::closeFile()
{
    m_file.close();
}

bool FileAppender::isReplaced() const
{
    // Another program may delete the log or put a new file in its place (sed -i does): follow the name.
    struct stat byName
    {
    };
    struct stat open
    {
    };
    if (::stat(QFile::encodeName(m_fileName).constData(), &byName) != 0 || ::fstat(m_file.handle(), &open) != 0) {
        return true;
    }
    return byName.st_ino != open.st_ino || byName.st_dev != open.st_dev;
}

// A log tells what the program did with whose disks: readable by its owner alone, and never written through a link
// somebody planted at its name.
bool FileAppender::openFile()
{
    const int fd = ::open(QFile::encodeName(m_fileName).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    struct stat info
    {
    };
    const bool regular = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && ::fchmod(fd, 0600) == 0 &&
        m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        m_openFailureReported = false;
        return true;
    }
    const int error = fd < 0 ? errno : EINVAL;
    if (fd >= 0) {
        ::close(fd);
    }
    // Straight to stderr: a Qt warning here would re-enter the logger that is calling us.
    if (!m_openFailureReported) {
        std::fprintf(stderr, "tessel: cannot open log file %s: %s\n", qPrintable(m_fileName), std::strerror(error));
        m_openFailureReported = true;
    }
    return false;
}

} // namespace Tessel::Core
