#pragma once

// The one way the system runs an outside tool: an argument list, no time-out, one boolean for the outcome.

#include <QString>
#include <QStringList>

// Standard output and error merged and discarded.
bool SpawnCmd(const QString& cmd, const QStringList& args);
// Standard output appended to output; standard error discarded.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output);
// Standard output appended to output, standard error appended to err.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err);
// As above, up to tryCount attempts one second apart; output and err collect every attempt.
bool SpawnCmd(const QString& cmd, const QStringList& args, QString& output, QString& err, int tryCount);
