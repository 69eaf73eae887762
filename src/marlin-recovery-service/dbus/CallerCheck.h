#pragma once

// What the service learns about a caller from the system and the account database, beyond what the bus tells.

#include <QByteArray>
#include <QString>

namespace CallerCheck {

// The group whose members may become root anyway (sudo's administrators): the only accounts besides root that may
// drive the service.
inline const char* const AdministratorsGroup = "sudo";

// Root, or an account that is a member of the administrators' group (primary or supplementary) in the account
// database.
bool isAdministrator(uint uid);
// The start time (clock ticks since boot, field 22) in the text of a /proc/PID/stat file; 0 when it has none. The
// command name in parentheses may hold spaces and parentheses of its own.
quint64 startTimeFromStat(const QByteArray& stat);
// The start time of a running process; 0 when it is gone or unreadable.
quint64 processStartTime(uint pid);

} // namespace CallerCheck
