#pragma once

// Syncs a device from a thread of its own while a restore keeps writing, so that the data reaches stable storage
// during the restore instead of all at the end: the final sync is then short, and the progress shown is close to
// what is really on disk. Requests while a sync runs fold into one more sync.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class DeviceSyncer
{
public:
    explicit DeviceSyncer(int fd);
    ~DeviceSyncer();
    DeviceSyncer(const DeviceSyncer&) = delete;
    DeviceSyncer& operator=(const DeviceSyncer&) = delete;

    void request();
    // Waits for the syncs still due; false (with the error) if any of them failed.
    bool finish(std::string& error);

private:
    void run();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_pending = false;
    bool m_stopping = false;
    int m_error = 0;
    std::thread m_thread;
};
