// Keeps the log under a fixed name and moves each finished day to a dated file, keeping only the newest few.
#pragma once

#include "FileAppender.h"

#include <QDate>
#include <QString>

#include <atomic>

namespace Tessel::Core {

// The day a file belongs to is its last-modified date, checked before every record: when that is before today,
// "<name>" becomes "<name>.yyyy-MM-dd" (or "<name>.yyyy-MM-dd.N" when taken) and a fresh "<name>" begins.
class RollingFileAppender : public FileAppender
{
public:
    enum DatePattern
    {
        DailyRollover
    };

    explicit RollingFileAppender(const QString& fileName = QString());

    void setDatePattern(DatePattern pattern);
    DatePattern datePattern() const;

    // Total number of files kept, the current one included; 0 or less keeps every dated file.
    void setLogFilesLimit(int limit);
    int logFilesLimit() const;

protected:
    void prepareFile(const QString& fileName) override;

private:
    void rollOver(const QString& fileName, const QDate& day);
    void removeOldFiles(const QString& fileName) const;

    std::atomic<DatePattern> m_datePattern{DailyRollover};
    std::atomic<int> m_logFilesLimit{0};
    QString m_prunedFileName;
    bool m_renameFailureReported = false;
};

} // namespace Tessel::Core
