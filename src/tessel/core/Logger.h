// The process-wide sink behind qDebug()/qWarning(): hands every message, from any thread, to the registered appenders.
#pragma once

#include "AbstractAppender.h"
#include "LogRecord.h"

#include <QList>
#include <QMutex>
#include <QtGlobal>

#include <atomic>

namespace Tessel::Core {

class Logger
{
public:
    // Never destroyed, so messages emitted while static objects are torn down still have somewhere to go.
    static Logger* globalInstance();

    // Routes Qt's message functions to the global logger. Calling it again does nothing. The handler that was
    // active before keeps receiving messages while no appender is registered.
    static void installMessageHandler();

    // The logger does not take ownership: appenders are meant to live until the process ends, and one destroyed
    // earlier must be removed first. The first registration installs the message handler, so registering is all
    // a program has to do. Registering the same appender twice keeps one entry.
    void registerAppender(AbstractAppender* appender);
    // Once this returns no thread is writing to the appender any more, so it may be destroyed.
    void removeAppender(AbstractAppender* appender);
    QList<AbstractAppender*> appenders() const;

    // Hands the record to every appender; without appenders, or when called from inside an appender, it goes to
    // the previous message handler instead.
    void write(const LogRecord& record);

private:
    Logger() = default;

    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    bool dispatch(const LogRecord& record);
    void forwardToPrevious(QtMsgType type, const QMessageLogContext& context, const QString& message) const;

    mutable QMutex m_mutex;
    QList<AbstractAppender*> m_appenders;
    bool m_handlerInstalled = false;
    std::atomic<QtMessageHandler> m_previousHandler{nullptr};
};

} // namespace Tessel::Core
