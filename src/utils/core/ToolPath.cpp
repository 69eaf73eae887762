#include "core/ToolPath.h"

#include <QDebug>
#include <QFile>
#include <QReadWriteLock>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList SecurePath{"/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"};

QReadWriteLock g_lock;
QStringList g_searchPath = SecurePath;

// Options of sudo and env that take the next argument as their value.
const QStringList SudoValueOptions{"-C", "-D", "-g", "-p", "-R", "-r", "-T", "-t", "-U", "-u"};
const QStringList EnvValueOptions{"-C", "-S", "-u"};

enum class Candidate
{
    Missing,
    NotExecutable,
    Refused,
    Trusted,
};

// Follows links: the file run is what must be safe, whatever name leads to it.
Candidate examine(const QString& path)
{
    struct stat info
    {
    };
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &info) != 0) {
        return Candidate::Missing;
    }
    if (!S_ISREG(info.st_mode) || ::access(name.constData(), X_OK) != 0) {
        qWarning().noquote() << "not an executable file, not run: " + path;
        return Candidate::NotExecutable;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        qCritical().noquote() << "writable by group or others, not run: " + path;
        return Candidate::Refused;
    }
    if (::geteuid() == 0 && info.st_uid != 0) {
        qCritical().noquote() << "not owned by root, not run: " + path;
        return Candidate::Refused;
    }
    return Candidate::Trusted;
}

bool isWrapper(const QString& path)
{
    const QString name = ToolPath::toolName(path);
    return name == "sudo" || name == "env";
}

// The index of the command a wrapper's arguments run, from start on; -1 when they name none.
int wrappedCommand(const QString& wrapper, const QStringList& args, int start)
{
    const QStringList& valueOptions = ToolPath::toolName(wrapper) == "sudo" ? SudoValueOptions : EnvValueOptions;
    for (int i = start; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == "--") {
            return i + 1 < args.size() ? i + 1 : -1;
        }
        if (valueOptions.contains(arg)) {
            ++i;
        } else if (!arg.startsWith('-') && !arg.contains('=')) {
            return i;
        }
    }
    return -1;
}

} // namespace

QStringList ToolPath::defaultSearchPath()
{
    return SecurePath;
}

QStringList ToolPath::searchPath()
{
    QReadLocker locker(&g_lock);
    return g_searchPath;
}

void ToolPath::setSearchPath(const QStringList& dirs)
{
    QWriteLocker locker(&g_lock);
    g_searchPath = dirs.isEmpty() ? SecurePath : dirs;
}

QString ToolPath::childPath()
{
    return searchPath().join(':');
}

QString ToolPath::resolve(const QString& name)
{
    if (name.startsWith('/')) {
        return examine(name) == Candidate::Trusted ? name : QString();
    }
    if (name.isEmpty() || name.contains('/')) {
        qCritical().noquote() << "neither a tool's name nor an absolute path, not run: " + name;
        return QString();
    }
    const QStringList dirs = searchPath();
    for (const QString& dir : dirs) {
        const QString path = dir + '/' + name;
        switch (examine(path)) {
        case Candidate::Trusted:
            return path;
        case Candidate::Refused:
            return QString();
        default:
            break;
        }
    }
    qCritical().noquote() << "no tool " + name + " in " + dirs.join(':');
    return QString();
}

bool ToolPath::resolveCommand(QString& program, QStringList& args, int* commandIndex)
{
    int index = -1;
    QString resolved = resolve(program);
    if (resolved.isEmpty()) {
        return false;
    }
    program = resolved;
    QString wrapper = program;
    while (isWrapper(wrapper)) {
        const int next = wrappedCommand(wrapper, args, index + 1);
        if (next < 0) {
            break;
        }
        resolved = resolve(args.at(next));
        if (resolved.isEmpty()) {
            return false;
        }
        args[next] = resolved;
        index = next;
        wrapper = resolved;
    }
    if (commandIndex != nullptr) {
        *commandIndex = index;
    }
    return true;
}

QString ToolPath::toolName(const QString& path)
{
    return path.section('/', -1);
}
