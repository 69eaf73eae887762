#include "DeviceSyncer.h"

#include "FileIo.h"

#include <unistd.h>

#include <cerrno>

DeviceSyncer::DeviceSyncer(int fd) : m_fd(fd), m_thread([this] { run(); }) {}

DeviceSyncer::~DeviceSyncer()
{
    std::string ignored;
    finish(ignored);
}

void DeviceSyncer::request()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending = true;
    m_wake.notify_one();
}

void DeviceSyncer::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_pending || m_stopping; });
        if (!m_pending) {
            return;
        }
        m_pending = false;
        lock.unlock();
        const int result = ::fdatasync(m_fd) == 0 ? 0 : errno;
        lock.lock();
        if (result != 0 && m_error == 0) {
            m_error = result;
        }
    }
}

bool DeviceSyncer::finish(std::string& error)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_error != 0) {
        error = "cannot sync the target: " + FileIo::errorText(m_error);
        return false;
    }
    return true;
}
