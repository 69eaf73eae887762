#include "core/command.h"

#include "core/ToolPath.h"
#include "core/ToolTimeout.h"

#include <QDebug>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

using std::chrono::seconds;

// Zero: the bound of the tool's own kind.
const seconds ToolsOwnBound{0};

int milliseconds(seconds bound)
{
    const auto ms = std::chrono::milliseconds(bound).count();
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(ms);
}

// A child past its bound: SIGTERM to its process group (what a shell or sudo started goes too), then SIGKILL.
void stop(QProcess& process, const QString& tool, seconds bound)
{
    qCritical().noquote() << QString("timed out after %1 s: %2").arg(bound.count()).arg(tool);
    const pid_t group = pid_t(process.processId());
    ::kill(-group, SIGTERM);
    if (!process.waitForFinished(milliseconds(ToolTimeout::Grace))) {
        ::kill(-group, SIGKILL);
        process.waitForFinished(-1);
    }
}

// Starts the child and waits for it within its bound; false, with the reason, when it was refused, did not start or
// was stopped. Standard input is closed at once: nothing is ever written to a child, and a tool that asks a question
// must read end-of-file instead of hanging the caller.
bool runToEnd(QProcess& process, const QString& cmd, const QStringList& args, QProcessEnvironment environment,
              seconds bound, QString& reason)
{
    QString program = cmd;
    QStringList arguments = args;
    int commandIndex = -1;
    if (!ToolPath::resolveCommand(program, arguments, &commandIndex)) {
        reason = "cannot run " + cmd + ": missing or not trusted";
        return false;
    }
    const QString tool = commandIndex < 0 ? program : arguments.at(commandIndex);
    if (bound == ToolsOwnBound) {
        bound = ToolTimeout::of(tool, arguments.mid(commandIndex + 1));
    }
    environment.insert("PATH", ToolPath::childPath());
    process.setProcessEnvironment(environment);
    // Its own process group, so that a time-out reaches everything it started.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setProgram(program);
    process.setArguments(arguments);
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        reason = process.errorString();
        return false;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(milliseconds(bound)) && process.state() != QProcess::NotRunning) {
        stop(process, tool, bound);
        reason = QString("timed out after %1 s: %2").arg(bound.count()).arg(tool);
        return false;
    }
    return true;
}

bool exitedCleanly(const QProcess& process)
{
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool spawnBounded(const QString& cmd, const QStringList& args, QString& output, QString& err, seconds bound)
{
    QProcess process;
    QString reason;
    if (!runToEnd(process, cmd, args, QProcessEnvironment::systemEnvironment(), bound, reason)) {
        err.append(reason);
        return false;
    }
    output.append(QString::fromUtf8(process.readAllStandardOutput()));
    err.append(QString::fromUtf8(process.readAllStandardError()));
    return exitedCleanly(process);
}

} // namespace

bool SpawnCmd(const QString& cmd, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    QString reason;
    if (!runToEnd(process, cmd, args, QProcessEnvironment::systemEnvironment(), ToolsOwnBound, reason)) {
        return false;
    }
    return exitedCleanly(process);
}

bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output)
{
    QString err;
    return SpawnCmd(cmd, args, output, err);
}

bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err)
{
    return spawnBounded(cmd, args, output, err, ToolsOwnBound);
}

bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err, int tryCount)
{
    for (int attempt = 1; attempt <= tryCount; ++attempt) {
        if (SpawnCmd(cmd, args, output, err)) {
            return true;
        }
        qDebug().noquote().nospace() << err;
        qDebug().noquote().nospace() << "try again!!!!!";
        QThread::sleep(1);
    }
    return false;
}

bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err, seconds timeout)
{
    return spawnBounded(cmd, args, output, err, timeout < seconds(1) ? seconds(1) : timeout);
}

int SpawnCmdExitCode(const QString& cmd, const QStringList& args, const QProcessEnvironment& environment,
                     QString& output, QString& err)
{
    QProcess process;
    QString reason;
    if (!runToEnd(process, cmd, args, environment, ToolsOwnBound, reason)) {
        err.append(reason);
        return -1;
    }
    output.append(QString::fromUtf8(process.readAllStandardOutput()));
    err.append(QString::fromUtf8(process.readAllStandardError()));
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
