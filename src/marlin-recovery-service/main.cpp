#include "dbus/RecoveryService.h"
#include "marlin-version.h"
#include "recoveryadaptor.h"

#include <tessel/core/ConsoleAppender.h>
#include <tessel/core/Logger.h>
#include <tessel/core/RollingFileAppender.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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

// The bus starts the service without arguments; these only answer and leave, before anything is set up.
int answerArguments(int argc, char* argv[])
{
    const char* arg = argv[1];
    if (argc == 2 && std::strcmp(arg, "--version") == 0) {
        std::printf("marlin-recovery-service %s\n", MARLIN_VERSION);
        return 0;
    }
    const char* usage = "Usage: marlin-recovery-service [--help | --version]\n"
                        "Recovery service on the system D-Bus (com.marlin.recovery), started by bus activation.\n";
    if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fprintf(stderr, "marlin-recovery-service: unexpected argument '%s'\n%s", arg, usage);
    return 2;
}

int TerminationPipe[2] = {-1, -1};

// Without browsing the signal ends the service at once, as it always did.
void onTermination(int signal)
{
    if (!RecoveryService::isBrowsing()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const char byte = char(signal);
    (void)!::write(TerminationPipe[1], &byte, 1);
}

// On SIGTERM or SIGINT while browsing, what browsing mounted is unmounted first (a FUSE server of an image would
// outlive the service otherwise); then the signal ends the service.
void endBrowsingOnTermination(RecoveryService* service)
{
    if (::pipe2(TerminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(TerminationPipe[0], QSocketNotifier::Read, service);
    QObject::connect(notifier, &QSocketNotifier::activated, service, [service]() {
        char signal = 0;
        (void)!::read(TerminationPipe[0], &signal, 1);
        service->closeBrowse();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    });
    std::signal(SIGTERM, onTermination);
    std::signal(SIGINT, onTermination);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1) {
        return answerArguments(argc, argv);
    }
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
    endBrowsingOnTermination(service);
    qDebug().noquote().nospace() << "main, liveType = " << service->GetLiveType();
    new RecoveryAdaptor(service);
    if (!service->publish(bus, ServiceName)) {
        return -1;
    }
    return app.exec();
}
