#include "LogRecord.h"

#include <QLoggingCategory>

#include <unistd.h>

namespace Tessel::Core {

LogRecord LogRecord::capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogRecord record;
    record.type = type;
    record.time = QDateTime::currentDateTime();
    record.file = QString::fromUtf8(context.file);
    record.line = context.line;
    record.function = QString::fromUtf8(context.function);
    record.category = QString::fromUtf8(context.category);
    record.message = message;
    record.threadId = currentThreadId();
    return record;
}

qint64 LogRecord::currentThreadId()
{
    // A thread's id never changes, so ask the kernel once per thread.
    thread_local const qint64 id = gettid();
    return id;
}

} // namespace Tessel::Core
