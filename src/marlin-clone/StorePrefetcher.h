#pragma once

// Reads a store image's chunk files ahead of the pass that needs them: on a cold cache each of thousands of small
// files otherwise costs the pass a disk round trip of its own, one after the other. A thread opens the files a little
// ahead and asks the kernel to read them in (posix_fadvise), so the disk always has work queued.

#include "ImageReader.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class StorePrefetcher
{
public:
    // Does nothing for a self-contained image, whose file is read in order and read ahead by the kernel anyway.
    explicit StorePrefetcher(const ImageReader& image);
    ~StorePrefetcher();
    StorePrefetcher(const StorePrefetcher&) = delete;
    StorePrefetcher& operator=(const StorePrefetcher&) = delete;

    // The pass has come to chunk; the thread keeps kAhead chunks before it.
    void reached(size_t chunk);

    static constexpr size_t kAhead = 64;

private:
    void run();

    const ImageReader& m_image;
    std::mutex m_mutex;
    std::condition_variable m_moved;
    size_t m_reached = 0;
    bool m_stop = false;
    std::thread m_thread;
};
