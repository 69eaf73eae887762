#include "dbus/CallerVerdicts.h"

bool CallerVerdicts::isAccepted(uint pid, quint64 startTime) const
{
    return startTime != 0 && m_accepted.value(pid, 0) == startTime;
}

void CallerVerdicts::accept(uint pid, quint64 startTime)
{
    if (startTime != 0) {
        m_accepted.insert(pid, startTime);
    }
}
