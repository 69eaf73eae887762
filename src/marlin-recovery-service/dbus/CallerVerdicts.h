#pragma once

// The callers the service has already accepted. A process id names a process only until it ends and the kernel hands
// it to the next one: each verdict holds for the id together with the process's start time, so it never outlives the
// process it was made for.

#include <QHash>

class CallerVerdicts
{
public:
    // A start time of 0 (unknown) is never accepted.
    bool isAccepted(uint pid, quint64 startTime) const;
    void accept(uint pid, quint64 startTime);

private:
    QHash<uint, quint64> m_accepted;
};
