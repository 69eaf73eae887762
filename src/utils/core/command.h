#pragma once

// The one way the system runs an outside tool: an argument list, one boolean for the outcome. The tool, and the
// command that sudo or env runs, is found in a fixed list of system directories and must be a trusted executable
// (core/ToolPath.h); the child gets that list as its PATH. Every child is bounded in time (core/ToolTimeout.h): past
// its bound it gets SIGTERM, a few seconds later SIGKILL, and the call fails.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

// Standard output and error merged and discarded.
bool SpawnCmd(const QString& cmd, const QStringList& args);
// Standard output appended to output; standard error discarded.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output);
// Standard output appended to output, standard error appended to err.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err);
// As above, up to tryCount attempts one second apart; output and err collect every attempt.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err, int tryCount);
// As the four-argument form, bounded by timeout instead of the tool's own bound.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err, std::chrono::seconds timeout);
// The tool's exit code, or -1 when it was refused, could not start, was stopped at its bound or did not exit
// normally; its output and errors appended. The child gets exactly this environment, PATH aside.
int SpawnCmdExitCode(const QString& cmd, const QStringList& args, const QProcessEnvironment& environment,
                     QString& output, QString& err);
