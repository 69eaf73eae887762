#include "dbus/RecoveryService.h"
#include "recoveryadaptor.h"

#include <tessel/core/ConsoleAppender.h>
#include <tessel/core/Logger.h>
#include <tessel/core/RollingFileAppender.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QTemporaryDir>

namespace {

const QString ServiceName = "com.marlin.recovery";
const QString LogDir = "/home/marlin/";
const QString LogFormat =
    "%{time}{yyyy-MM-dd, HH:mm:ss.zzz}[%{type:1}][%{function:-35} %{line:-4} %{threadid} ] %{message}\n";

void setUpLogging(QCoreApplication& app)
{
    QDir().mkpath(LogDir);
    const QString logFile = LogDir + "marlin-recovery-service.log";
    app.setProperty("logFile", logFile);
    auto* console = new Tessel::Core::ConsoleAppender;
    console->setFormat(LogFormat);
    auto* file = new Tessel::Core::RollingFileAppender(logFile);
    file->setFormat(LogFormat);
    file->setLogFilesLimit(5);
    file->setDatePattern(Tessel::Core::RollingFileAppender::DailyRollover);
    Tessel::Core::Logger::globalInstance()->registerAppender(console);
    Tessel::Core::Logger::globalInstance()->registerAppender(file);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerService(ServiceName)) {
        qCritical().noquote() << "registerService failed:" << bus.lastError().message();
        return -1;
    }
    setUpLogging(app);
    // The tasks exchange small files with the cloning tool and the scripts through the working directory: keep
    // those in a private place that goes away with the service.
    QTemporaryDir workDir(QDir::tempPath() + "/marlin-recovery-service-XXXXXX");
    if (workDir.isValid()) {
        QDir::setCurrent(workDir.path());
    }
    auto* service = new RecoveryService;
    qDebug().noquote().nospace() << "main, liveType = " << service->GetLiveType();
    new RecoveryAdaptor(service);
    if (!bus.registerService(ServiceName)) {
        qCritical().noquote() << bus.lastError().message();
        return -1;
    }
    bus.registerObject("/com/marlin/recovery", service, QDBusConnection::ExportAllContents);
    return app.exec();
}
