#pragma once

// Prints the progress of a backup or restore on standard output four times a second. The caller reads whatever is
// in the pipe and takes the last space-separated word as the percentage, so every line ends with "NN.NN%\n", the
// value never goes down, and 100.00% is printed only once the work is complete and synced.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class ProgressReporter
{
public:
    ProgressReporter() = default;
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    void start(uint64_t totalUnits);
    void advance(uint64_t units) { m_done += units; }
    // Prints the final 100.00% line.
    void finish();
    // Stops printing without claiming completion (failures).
    void stop();

    static std::string line(double elapsedSeconds, double percent);

private:
    void run();
    void print();

    std::atomic<uint64_t> m_done{0};
    uint64_t m_total = 0;
    double m_lastPercent = 0;
    std::chrono::steady_clock::time_point m_started;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
