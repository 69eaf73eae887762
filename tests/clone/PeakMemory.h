#pragma once

// How much resident memory a call adds at its peak, for tests that bound what crafted input may make us allocate.

#include <QFile>

#include <cstring>
#include <functional>

namespace PeakMemory {

// Peak resident memory (KiB) the call adds to what the process holds now; -1 when it cannot be measured.
inline long growthKiB(const std::function<void()>& call)
{
    auto field = [](const char* name) {
        QFile status("/proc/self/status");
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(name)) {
                return line.mid(int(strlen(name))).trimmed().split(' ').first().toLong();
            }
        }
        return -1L;
    };
    // Resets the high-water mark to what is resident now.
    QFile reset("/proc/self/clear_refs");
    if (!reset.open(QIODevice::WriteOnly) || reset.write("5") != 1) {
        return -1;
    }
    reset.close();
    const long before = field("VmRSS:");
    call();
    return field("VmHWM:") - before;
}

} // namespace PeakMemory
