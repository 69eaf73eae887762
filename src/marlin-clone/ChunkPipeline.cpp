#include "ChunkPipeline.h"

#include <algorithm>
#include <map>
#include <thread>

ChunkPipeline::ChunkPipeline(const Settings& settings)
    : m_settings(settings), m_workers(std::max<size_t>(1, settings.workers)),
      m_slots(
          std::max<size_t>(2 * m_workers + 2, kSmallChunkBytesInFlight / std::max<size_t>(1, settings.rawCapacity))),
      m_idle(m_slots), m_toTransform(m_slots), m_toConsume(m_slots)
{
}

size_t ChunkPipeline::defaultWorkerCount()
{
    const unsigned int cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : std::min<size_t>(cores, 16);
}

bool ChunkPipeline::run(const Producer& produce, const Transformer& transform, const Consumer& consume,
                        std::string& error)
{
    for (size_t i = 0; i < m_slots; ++i) {
        m_pool.push_back(std::make_unique<ChunkWork>());
        if (!m_pool.back()->raw.reserve(m_settings.rawCapacity)) {
            error = "out of memory for chunk buffers";
            return false;
        }
        m_idle.push(m_pool.back().get());
    }
    m_running = m_workers;
    std::thread reader([&] { readLoop(produce); });
    std::vector<std::thread> transformers;
    for (size_t i = 0; i < m_workers; ++i) {
        transformers.emplace_back([&] { transformLoop(transform); });
    }
    const bool ok = consumeLoop(consume, error);
    m_cancelled = true;
    m_idle.close();
    m_toTransform.close();
    m_toConsume.close();
    reader.join();
    for (std::thread& thread : transformers) {
        thread.join();
    }
    return ok;
}

void ChunkPipeline::readLoop(const Producer& produce)
{
    ChunkWork* work = nullptr;
    for (uint64_t sequence = 0; !m_cancelled && m_idle.pop(work); ++sequence) {
        work->reset(sequence);
        if (produce(*work) == Produced::End) {
            break;
        }
        const bool failed = work->failed;
        if (!m_toTransform.push(work) || failed) {
            break;
        }
    }
    m_toTransform.close();
}

void ChunkPipeline::transformLoop(const Transformer& transform)
{
    ChunkCodec codec(m_settings.level, m_settings.granularity, m_settings.minZeroRun);
    ChunkWork* work = nullptr;
    while (m_toTransform.pop(work)) {
        if (!work->failed && !m_cancelled) {
            transform(codec, *work);
        }
        if (!m_toConsume.push(work)) {
            break;
        }
    }
    if (--m_running == 0) {
        m_toConsume.close();
    }
}

bool ChunkPipeline::consumeLoop(const Consumer& consume, std::string& error)
{
    std::map<uint64_t, ChunkWork*> waiting;
    uint64_t next = 0;
    ChunkWork* work = nullptr;
    while (m_toConsume.pop(work)) {
        waiting[work->sequence] = work;
        for (auto it = waiting.find(next); it != waiting.end(); it = waiting.find(next)) {
            ChunkWork* ready = it->second;
            waiting.erase(it);
            if (ready->failed) {
                error = ready->error;
                return false;
            }
            if (!consume(*ready, error)) {
                return false;
            }
            m_idle.push(ready);
            ++next;
        }
    }
    if (!waiting.empty()) {
        error = "internal error: chunks lost in the pipeline";
        return false;
    }
    return true;
}
