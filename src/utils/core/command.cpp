#include "core/command.h"

#include <QDebug>
#include <QProcess>
#include <QThread>

namespace {

// Starts the child and waits for it. Standard input is closed at once: nothing is ever written to a child, and a
// tool that asks a question must read end-of-file instead of hanging the caller forever.
bool runToEnd(QProcess& process, const QString& cmd, const QStringList& args)
{
    process.setProgram(cmd);
    process.setArguments(args);
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        // A program that cannot be started never counts as a clean exit.
        return false;
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    return true;
}

bool exitedCleanly(const QProcess& process)
{
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

bool SpawnCmd(const QString& cmd, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!runToEnd(process, cmd, args)) {
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
    QProcess process;
    if (!runToEnd(process, cmd, args)) {
        err.append(process.errorString());
        return false;
    }
    output.append(QString::fromUtf8(process.readAllStandardOutput()));
    err.append(QString::fromUtf8(process.readAllStandardError()));
    return exitedCleanly(process);
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
