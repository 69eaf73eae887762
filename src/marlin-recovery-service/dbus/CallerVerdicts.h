#pragma once

// The callers the service has already accepted, one verdict per bus connection. A process id is handed to the next
// process when one ends, sometimes within the same clock tick, so a verdict by id could pass to a stranger; a
// connection's unique name is never given out twice while the bus runs. The verdict also records the process behind
// the connection and the program it ran, so that a connection handed on or kept across execve() loses it.

#include "dbus/CallerCheck.h"

#include <QHash>
#include <QString>

class CallerVerdicts
{
public:
    // Accepted only when the connection was accepted for this very process and program.
    bool isAccepted(const QString& connection, const CallerProcess& process) const;
    void accept(const QString& connection, const CallerProcess& process);

private:
    QHash<QString, CallerProcess> m_accepted;
};
