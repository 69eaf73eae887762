// Base for every log destination: owns the pattern and serialises formatting and output per destination.
#pragma once

#include "LogRecord.h"
#include "PatternFormatter.h"

#include <QMutex>
#include <QString>

namespace Tessel::Core {

class AbstractAppender
{
public:
    AbstractAppender();
    virtual ~AbstractAppender();

    AbstractAppender(const AbstractAppender&) = delete;
    AbstractAppender& operator=(const AbstractAppender&) = delete;

    void setFormat(const QString& pattern);
    QString format() const;

    // Safe to call from any thread; one record's text is never interleaved with another's.
    void write(const LogRecord& record);

protected:
    // Called with this appender's lock held, one record at a time. What it logs itself never comes back to the
    // appenders: Qt prints it with its default output, and Logger::write() passes it to the previous handler.
    virtual void append(const QString& formatted) = 0;

private:
    mutable QMutex m_mutex;
    PatternFormatter m_formatter;
};

} // namespace Tessel::Core
