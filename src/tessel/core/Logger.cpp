#include "Logger.h"

#include <cstdio>

namespace Tessel::Core {

namespace {

// Set while this thread runs the appenders, so one of them writing to the logger cannot deadlock on its lock.
thread_local bool t_dispatching = false;

} // namespace

Logger* Logger::globalInstance()
{
    static Logger* const instance = new Logger;
    return instance;
}

void Logger::installMessageHandler()
{
    Logger* logger = globalInstance();
    QMutexLocker locker(&logger->m_mutex);
    if (logger->m_handlerInstalled) {
        return;
    }
    logger->m_previousHandler = qInstallMessageHandler(&Logger::handleMessage);
    logger->m_handlerInstalled = true;
}

void Logger::registerAppender(AbstractAppender* appender)
{
    if (!appender) {
        return;
    }
    {
        QMutexLocker locker(&m_mutex);
        if (!m_appenders.contains(appender)) {
            m_appenders.append(appender);
        }
    }
    installMessageHandler();
}

void Logger::removeAppender(AbstractAppender* appender)
{
    QMutexLocker locker(&m_mutex);
    m_appenders.removeAll(appender);
}

QList<AbstractAppender*> Logger::appenders() const
{
    QMutexLocker locker(&m_mutex);
    return m_appenders;
}

void Logger::write(const LogRecord& record)
{
    if (dispatch(record)) {
        return;
    }
    const QByteArray file = record.file.toUtf8();
    const QByteArray function = record.function.toUtf8();
    const QByteArray category = record.category.toUtf8();
    const QMessageLogContext context(file.constData(), record.line, function.constData(), category.constData());
    forwardToPrevious(record.type, context, record.message);
}

void Logger::handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Logger* logger = globalInstance();
    if (logger->dispatch(LogRecord::capture(type, context, message))) {
        return;
    }
    logger->forwardToPrevious(type, context, message);
}

bool Logger::dispatch(const LogRecord& record)
{
    if (t_dispatching) {
        return false;
    }
    // Holding the lock while appending is what lets removeAppender() promise the appender is idle.
    QMutexLocker locker(&m_mutex);
    if (m_appenders.isEmpty()) {
        return false;
    }
    t_dispatching = true;
    for (AbstractAppender* appender : std::as_const(m_appenders)) {
        appender->write(record);
    }
    t_dispatching = false;
    return true;
}

void Logger::forwardToPrevious(QtMsgType type, const QMessageLogContext& context, const QString& message) const
{
    const QtMessageHandler previous = m_previousHandler;
    if (previous && previous != &Logger::handleMessage) {
        previous(type, context, message);
        return;
    }
    const QByteArray line = (qFormatLogMessage(type, context, message) + QLatin1Char('\n')).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace Tessel::Core
