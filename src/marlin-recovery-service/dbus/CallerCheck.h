#pragma once

// What the service learns about a caller from the system and the account database, beyond what the bus tells.

#include <QByteArray>
#include <QString>

// A running process as far as it can be told apart from the one that gets its id next, and the program it runs.
struct CallerProcess
{
    uint pid = 0;
    quint64 startTime = 0;
    quint64 exeDevice = 0;
    quint64 exeInode = 0;

    // Unknown parts (0) never make a process identifiable.
    bool isKnown() const { return pid != 0 && startTime != 0 && exeInode != 0; }
    bool operator==(const CallerProcess& other) const
    {
        return pid == other.pid && startTime == other.startTime && exeDevice == other.exeDevice &&
               exeInode == other.exeInode;
    }
};

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
// A running process's id, start time and executable file; parts that cannot be read are 0.
CallerProcess callerProcess(uint pid);

} // namespace CallerCheck
