#pragma once

// Prints the progress of a backup or restore on standard output four times a second, e.g.
// "1.2 GiB of 3.4 GiB, 410 MiB/s, 0:05 left, 35.29%". The caller reads whatever is in the pipe and takes the last
// space-separated word as the percentage, so every line ends with "NN.NN%\n", the value never goes down, and 100.00%
// is printed only by finish(), once the work is complete and synced. Units are bytes of work: a restore counts the
// image it checks and the data it writes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class ProgressReporter
{
public:
    using Sink = std::function<void(const std::string&)>;
    // Monotonic seconds.
    using Clock = std::function<double()>;

    ProgressReporter();
    // Without the ticking thread: lines appear only on start(), tick() and finish(). For tests.
    ProgressReporter(Sink sink, Clock clock);
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    void start(uint64_t totalUnits);
    void advance(uint64_t units) { m_done += units; }
    // Prints the current line.
    void tick();
    // Prints the final 100.00% line.
    void finish();
    // Stops printing without claiming completion (failures).
    void stop();

    static std::string line(uint64_t done, uint64_t total, double elapsedSeconds, double percent);
    static std::string size(double bytes);
    static std::string duration(double seconds);

private:
    void run();

    Sink m_sink;
    Clock m_clock;
    bool m_ticking = true;
    std::atomic<uint64_t> m_done{0};
    uint64_t m_total = 0;
    double m_lastPercent = 0;
    double m_started = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
