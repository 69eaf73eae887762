#include "ProgressReporter.h"

#include "Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

ProgressReporter::ProgressReporter()
    : m_sink([](const std::string& text) { Console::out(text); }), m_clock(steadySeconds)
{
}

ProgressReporter::ProgressReporter(Sink sink, Clock clock)
    : m_sink(std::move(sink)), m_clock(std::move(clock)), m_ticking(false)
{
}

ProgressReporter::~ProgressReporter()
{
    stop();
}

std::string ProgressReporter::size(double bytes)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    // Truncated, like the percentage, so that "of" never shows a done part above the total.
    if (unit == 0 || bytes >= 10) {
        std::snprintf(text, sizeof text, "%.0f %s", std::floor(bytes), units[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", std::floor(bytes * 10) / 10, units[unit]);
    }
    return text;
}

std::string ProgressReporter::duration(double seconds)
{
    const long total = std::lround(std::clamp(seconds, 0.0, 359999.0));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

std::string ProgressReporter::line(uint64_t done, uint64_t total, double elapsedSeconds, double percent)
{
    std::string text = size(static_cast<double>(done)) + " of " + size(static_cast<double>(total));
    // The average since the start: steady enough for an estimate, and a restore's two passes even out.
    const double rate = elapsedSeconds > 0 ? static_cast<double>(done) / elapsedSeconds : 0;
    if (rate > 0) {
        const double left = static_cast<double>(total > done ? total - done : 0) / rate;
        text += ", " + size(rate) + "/s, " + duration(left) + " left";
    } else {
        text += ", -/s, -:-- left";
    }
    char value[32];
    std::snprintf(value, sizeof value, ", %.2f%%\n", percent);
    return text + value;
}

void ProgressReporter::start(uint64_t totalUnits)
{
    m_total = totalUnits;
    m_started = m_clock();
    tick();
    if (m_ticking) {
        m_thread = std::thread([this] { run(); });
    }
}

void ProgressReporter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, kInterval, [this] { return m_stopping; })) {
        // Not under the lock: a slow reader of the pipe must not hold up stop().
        lock.unlock();
        tick();
        lock.lock();
    }
}

void ProgressReporter::tick()
{
    const uint64_t done = std::min(m_done.load(), m_total);
    double percent = 0;
    if (m_total > 0) {
        // Truncated to two decimals and held below 100 until finish(), so the bar never claims completion early.
        percent = std::min(99.99, std::floor(10000.0 * static_cast<double>(done) / static_cast<double>(m_total)) / 100);
    }
    m_lastPercent = std::max(m_lastPercent, percent);
    m_sink(line(done, m_total, m_clock() - m_started, m_lastPercent));
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
    m_sink(line(m_total, m_total, m_clock() - m_started, 100.0));
}
