#include "StorePrefetcher.h"

StorePrefetcher::StorePrefetcher(const ImageReader& image) : m_image(image)
{
    if (image.isStoreImage() && image.store().isOpen()) {
        m_thread = std::thread(&StorePrefetcher::run, this);
    }
}

StorePrefetcher::~StorePrefetcher()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stop = true;
    }
    m_moved.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void StorePrefetcher::reached(size_t chunk)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_reached = chunk;
    }
    m_moved.notify_all();
}

void StorePrefetcher::run()
{
    const ChunkIndex& index = m_image.index();
    for (size_t chunk = 0; chunk < index.chunkCount(); ++chunk) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_moved.wait(lock, [&] { return m_stop || chunk < m_reached + kAhead; });
            if (m_stop) {
                return;
            }
        }
        if (index.chunk(chunk).rawLength > 0) {
            m_image.store().prefetch(index.key(chunk));
        }
    }
}
