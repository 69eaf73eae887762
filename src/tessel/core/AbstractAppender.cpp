#include "AbstractAppender.h"

namespace Tessel::Core {

AbstractAppender::AbstractAppender()
    : m_formatter(QStringLiteral("%{time}{yyyy-MM-dd, HH:mm:ss.zzz}[%{type:1}][%{threadid} ] %{message}\n"))
{
}

AbstractAppender::~AbstractAppender() = default;

void AbstractAppender::setFormat(const QString& pattern)
{
    PatternFormatter formatter(pattern);
    QMutexLocker locker(&m_mutex);
    m_formatter = formatter;
}

QString AbstractAppender::format() const
{
    QMutexLocker locker(&m_mutex);
    return m_formatter.pattern();
}

void AbstractAppender::write(const LogRecord& record)
{
    QMutexLocker locker(&m_mutex);
    append(m_formatter.format(record));
}

} // namespace Tessel::Core
