#pragma once

// Runs chunks through read -> transform -> write with one reader thread, a worker per core and the writer on the
// calling thread, so reading, (de)compression and writing overlap. The writer sees chunks in order; the first
// failure in chunk order stops everything.

#include "BoundedQueue.h"
#include "ChunkCodec.h"
#include "ChunkWork.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ChunkPipeline
{
public:
    enum class Produced
    {
        Chunk,
        End,
    };
    // Fills the next chunk (a read error is reported with work.fail and still returned as a chunk).
    using Producer = std::function<Produced(ChunkWork&)>;
    using Transformer = std::function<void(ChunkCodec&, ChunkWork&)>;
    // Takes chunks in sequence order; false (with error set) stops the pipeline.
    using Consumer = std::function<bool(ChunkWork&, std::string&)>;

    struct Settings
    {
        size_t workers = 2;
        size_t rawCapacity = 0; // bytes every chunk's raw buffer holds
        int level = 1;
        uint32_t granularity = 4096;
        uint64_t minZeroRun = 64 * 1024;
    };

    explicit ChunkPipeline(const Settings& settings);

    bool run(const Producer& produce, const Transformer& transform, const Consumer& consume, std::string& error);

    static size_t defaultWorkerCount();
    // Small chunks (a store's) get more slots, so a slow file creation or read does not stall the other stages.
    static constexpr size_t kSmallChunkBytesInFlight = 32u << 20;

private:
    void readLoop(const Producer& produce);
    void transformLoop(const Transformer& transform);
    bool consumeLoop(const Consumer& consume, std::string& error);

    Settings m_settings;
    size_t m_workers;
    // Enough chunks in flight to keep every stage busy, few enough to keep memory at a few hundred MiB at most.
    size_t m_slots;
    std::vector<std::unique_ptr<ChunkWork>> m_pool;
    BoundedQueue<ChunkWork*> m_idle;
    BoundedQueue<ChunkWork*> m_toTransform;
    BoundedQueue<ChunkWork*> m_toConsume;
    std::atomic<bool> m_cancelled{false};
    std::atomic<size_t> m_running{0};
};
