#include "RollingFileAppender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace Tessel::Core {

namespace {

const QString dayFormat = QStringLiteral("yyyy-MM-dd");

struct DatedFile
{
    QDate day;
    int suffix = 0;
    QString path;
};

// Newest first: a later day, or on the same day a higher suffix (it was moved aside later).
bool newerThan(const DatedFile& a, const DatedFile& b)
{
    if (a.day != b.day) {
        return a.day > b.day;
    }
    return a.suffix > b.suffix;
}

QList<DatedFile> datedFiles(const QString& fileName)
{
    const QFileInfo current(fileName);
    const QDir dir = current.absoluteDir();
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(current.fileName()) +
                                     QStringLiteral("\\.(\\d{4}-\\d{2}-\\d{2})(?:\\.(\\d+))?$"));
    QList<DatedFile> files;
    const QStringList names = dir.entryList({current.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        const QDate day = QDate::fromString(match.captured(1), dayFormat);
        if (!match.hasMatch() || !day.isValid()) {
            continue;
        }
        files.append({day, match.captured(2).toInt(), dir.filePath(name)});
    }
    std::sort(files.begin(), files.end(), newerThan);
    return files;
}

QString freeDatedName(const QString& fileName, const QDate& day)
{
    const QString base = fileName + QLatin1Char('.') + day.toString(dayFormat);
    QString candidate = base;
    for (int suffix = 1; QFileInfo::exists(candidate); ++suffix) {
        candidate = base + QLatin1Char('.') + QString::number(suffix);
    }
    return candidate;
}

} // namespace

RollingFileAppender::RollingFileAppender(const QString& fileName) : FileAppender(fileName) {}

void RollingFileAppender::setDatePattern(DatePattern pattern)
{
    m_datePattern = pattern;
}

RollingFileAppender::DatePattern RollingFileAppender::datePattern() const
{
    return m_datePattern;
}

void RollingFileAppender::setLogFilesLimit(int limit)
{
    m_logFilesLimit = limit;
}

int RollingFileAppender::logFilesLimit() const
{
    return m_logFilesLimit;
}

void RollingFileAppender::prepareFile(const QString& fileName)
{
    if (m_prunedFileName != fileName) {
        removeOldFiles(fileName);
        m_prunedFileName = fileName;
    }
    const QFileInfo info(fileName);
    if (!info.exists()) {
        // Removed behind our back: start a new file rather than keep writing to the unlinked one.
        closeFile();
        return;
    }
    const QDate fileDay = info.lastModified().date();
    if (fileDay >= QDate::currentDate()) {
        return;
    }
    closeFile();
    rollOver(fileName, fileDay);
    removeOldFiles(fileName);
}

void RollingFileAppender::rollOver(const QString& fileName, const QDate& day)
{
    const QString target = freeDatedName(fileName, day);
    if (QFile::rename(fileName, target)) {
        m_renameFailureReported = false;
        return;
    }
    // Keep logging into the old file; stderr because Qt's warning path leads back here.
    if (!m_renameFailureReported) {
        std::fprintf(stderr, "tessel: cannot move log file %s to %s\n", qPrintable(fileName), qPrintable(target));
        m_renameFailureReported = true;
    }
}

void RollingFileAppender::removeOldFiles(const QString& fileName) const
{
    const int limit = m_logFilesLimit;
    if (limit <= 0) {
        return;
    }
    const QList<DatedFile> files = datedFiles(fileName);
    for (qsizetype i = limit - 1; i < files.size(); ++i) {
        QFile::remove(files[i].path);
    }
}

} // namespace Tessel::Core
