#pragma once

// How long an outside tool may run before it is stopped: a hung tool (a disk that stops answering, a tool waiting
// for something that never comes) must not hang the service, which often waits on the thread that answers D-Bus.
// Quick queries get a short bound; tools whose time grows with the data they go through get a generous one.

#include <QStringList>

#include <chrono>

class ToolTimeout
{
public:
    static constexpr std::chrono::seconds Quick{120};
    static constexpr std::chrono::seconds Long{24 * 3600};
    // After SIGTERM, how long a child has to end before it is killed.
    static constexpr std::chrono::seconds Grace{5};

    // The bound for a tool (a name or a path) called with these arguments: Long for the tools of the table, Quick
    // for every other.
    static std::chrono::seconds of(const QString& tool, const QStringList& args);
};
