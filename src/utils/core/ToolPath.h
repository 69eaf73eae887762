#pragma once

// Where an outside tool is: the absolute path of a trusted executable found in a fixed list of system directories,
// never through the environment's PATH. The service runs as root; whoever started it, or wrote a directory early on
// PATH, must not choose what it runs. Children get PATH set to the same list, so a name that sudo, env or a shell
// looks up finds the same file.

#include <QString>
#include <QStringList>

class ToolPath
{
public:
    // sudo's secure_path, in its order.
    static QStringList defaultSearchPath();
    // The directories searched, in order.
    static QStringList searchPath();
    // For programs that embed the library and for tests (stand-ins for outside tools): replaces the directories
    // searched, and with them the children's PATH. An empty list restores the default.
    static void setSearchPath(const QStringList& dirs);
    // The PATH every child gets: the search list.
    static QString childPath();

    // The absolute path of the tool named (a bare name looked up in the search list, or an absolute path), empty when
    // there is none or it is not to be trusted: not a regular executable file, writable by group or others, or, when
    // this process runs as root, not owned by root. The reason is logged.
    static QString resolve(const QString& name);
    // The program resolved in place and, when it is sudo or env, the command it runs (its first argument that is
    // neither an option nor VAR=value), and so on down a chain like "sudo env LC_ALL=C tar". commandIndex is set to
    // the index in args of the command finally run, or -1 when that is the program itself. False when any of them
    // is missing or refused.
    static bool resolveCommand(QString& program, QStringList& args, int* commandIndex = nullptr);
    // The name the tool is known by: the last component of its path.
    static QString toolName(const QString& path);
};
