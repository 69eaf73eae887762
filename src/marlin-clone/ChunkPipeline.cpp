#include "ChunkPipeline.h"

#include "BoundedQueue.h"

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

size_t ChunkPipeline::defaultWorkerCount()
{
    const unsigned int cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : std::min<size_t>(cores, 16);
}

bool ChunkPipeline::run(const Producer& produce, const Transformer& transform, const Consumer& consume,
                        std::string& error)
{
    const size_t workers = std::max<size_t>(1, m_settings.workers);
    // Enough chunks in flight to keep every stage busy, few enough to keep memory at a few hundred MiB at most.
    const size_t slots = 2 * workers + 2;
    std::vector<std::unique_ptr<ChunkWork>> pool;
    BoundedQueue<ChunkWork*> idle(slots);
    BoundedQueue<ChunkWork*> toTransform(slots);
    BoundedQueue<ChunkWork*> toConsume(slots);
    for (size_t i = 0; i < slots; ++i) {
        pool.push_back(std::make_unique<ChunkWork>());
        if (!pool.back()->raw.reserve(m_settings.rawCapacity)) {
            error = "out of memory for chunk buffers";
            return false;
        }
        idle.push(pool.back().get());
    }

    std::atomic<bool> cancelled{false};
    std::thread reader([&] {
        ChunkWork* work = nullptr;
        for (uint64_t sequence = 0; !cancelled && idle.pop(work); ++sequence) {
            work->reset(sequence);
            if (produce(*work) == Produced::End) {
                break;
            }
            const bool failed = work->failed;
            if (!toTransform.push(work) || failed) {
                break;
            }
        }
        toTransform.close();
    });

    std::atomic<size_t> running{workers};
    std::vector<std::thread> transformers;
    for (size_t i = 0; i < workers; ++i) {
        transformers.emplace_back([&] {
            ChunkCodec codec(m_settings.level, m_settings.granularity, m_settings.minZeroRun);
            ChunkWork* work = nullptr;
            while (toTransform.pop(work)) {
                if (!work->failed && !cancelled) {
                    transform(codec, *work);
                }
                if (!toConsume.push(work)) {
                    break;
                }
            }
            if (--running == 0) {
                toConsume.close();
            }
        });
    }

    bool ok = true;
    std::map<uint64_t, ChunkWork*> waiting;
    uint64_t next = 0;
    ChunkWork* work = nullptr;
    while (ok && toConsume.pop(work)) {
        waiting[work->sequence] = work;
        for (auto it = waiting.find(next); ok && it != waiting.end(); it = waiting.find(next)) {
            ChunkWork* ready = it->second;
            waiting.erase(it);
            if (ready->failed) {
                error = ready->error;
                ok = false;
            } else {
                ok = consume(*ready, error);
            }
            idle.push(ready);
            ++next;
        }
    }
    cancelled = true;
    idle.close();
    toTransform.close();
    toConsume.close();
    reader.join();
    for (std::thread& thread : transformers) {
        thread.join();
    }
    if (ok && !waiting.empty()) {
        error = "internal error: chunks lost in the pipeline";
        ok = false;
    }
    return ok;
}
