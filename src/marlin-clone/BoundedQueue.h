#pragma once

// A blocking queue of limited length between pipeline threads; the limit is what bounds memory and read-ahead.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

template <typename T>
class BoundedQueue
{
public:
    explicit BoundedQueue(size_t capacity) : m_capacity(capacity) {}

    // False once the queue is closed.
    bool push(T item)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notFull.wait(lock, [this] { return m_closed || m_items.size() < m_capacity; });
        if (m_closed) {
            return false;
        }
        m_items.push_back(std::move(item));
        m_notEmpty.notify_one();
        return true;
    }

    // Hands out what is left even after close; false when closed and empty.
    bool pop(T& item)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notEmpty.wait(lock, [this] { return m_closed || !m_items.empty(); });
        if (m_items.empty()) {
            return false;
        }
        item = std::move(m_items.front());
        m_items.pop_front();
        m_notFull.notify_one();
        return true;
    }

    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_notEmpty.notify_all();
        m_notFull.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_notEmpty;
    std::condition_variable m_notFull;
    std::deque<T> m_items;
    size_t m_capacity;
    bool m_closed = false;
};
