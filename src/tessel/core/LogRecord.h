// One log message with everything the formatters may print, captured at the moment it was emitted.
#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

class QMessageLogContext;

namespace Tessel::Core {

struct LogRecord
{
    QtMsgType type = QtDebugMsg;
    QDateTime time;
    QString file;
    int line = 0;
    QString function; // as the compiler spelled it (Q_FUNC_INFO); shortened only when printed
    QString category;
    QString message;
    qint64 threadId = 0; // kernel thread id (gettid), the number ps -L, top -H and gdb show

    // Builds a record stamped with the current local time and the calling thread's id.
    static LogRecord capture(QtMsgType type, const QMessageLogContext& context, const QString& message);
    static qint64 currentThreadId();
};

} // namespace Tessel::Core
