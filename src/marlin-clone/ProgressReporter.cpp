#include "ProgressReporter.h"

#include "Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);

std::string clock(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}
} // namespace

ProgressReporter::~ProgressReporter()
{
    stop();
}

std::string ProgressReporter::line(double elapsedSeconds, double percent)
{
    std::string text = "Elapsed: " + clock(elapsedSeconds);
    if (percent > 0 && percent < 100) {
        text += " Remaining: " + clock(elapsedSeconds * (100 - percent) / percent);
    }
    char value[32];
    std::snprintf(value, sizeof value, " Completed: %.2f%%\n", percent);
    return text + value;
}

void ProgressReporter::start(uint64_t totalUnits)
{
    m_total = totalUnits;
    m_started = std::chrono::steady_clock::now();
    print();
    m_thread = std::thread([this] { run(); });
}

void ProgressReporter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, kInterval, [this] { return m_stopping; })) {
        // Not under the lock: a slow reader of the pipe must not hold up stop().
        lock.unlock();
        print();
        lock.lock();
    }
}

void ProgressReporter::print()
{
    double percent = 0;
    if (m_total > 0) {
        // Truncated to two decimals and held below 100 until finish(), so the bar never claims completion early.
        percent =
            std::min(99.99, std::floor(10000.0 * static_cast<double>(m_done) / static_cast<double>(m_total)) / 100);
    }
    m_lastPercent = std::max(m_lastPercent, percent);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_started;
    Console::out(line(elapsed.count(), m_lastPercent));
}

void ProgressReporter::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ProgressReporter::finish()
{
    stop();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_started;
    Console::out(line(elapsed.count(), 100.0));
}
