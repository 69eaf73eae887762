#include "dbus/CallerVerdicts.h"

namespace {

// Connections come and go during a run; the few the live window opens stay far below this.
const int MaxVerdicts = 256;

} // namespace

bool CallerVerdicts::isAccepted(const QString& connection, const CallerProcess& process) const
{
    const auto found = m_accepted.constFind(connection);
    return process.isKnown() && !connection.isEmpty() && found != m_accepted.constEnd() && *found == process;
}

void CallerVerdicts::accept(const QString& connection, const CallerProcess& process)
{
    if (!process.isKnown() || connection.isEmpty()) {
        return;
    }
    if (m_accepted.size() >= MaxVerdicts) {
        m_accepted.clear();
    }
    m_accepted.insert(connection, process);
}
