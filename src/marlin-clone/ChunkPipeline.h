#pragma once

// Runs chunks through read -> transform -> write with one reader thread, a worker per core and the writer on the
// calling thread, so reading, (de)compression and writing overlap. The writer sees chunks in order; the first
// failure in chunk order stops everything.

#include "ChunkCodec.h"
#include "ChunkWork.h"

#include <cstddef>
#include <functional>
#include <string>

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

    explicit ChunkPipeline(const Settings& settings) : m_settings(settings) {}

    bool run(const Producer& produce, const Transformer& transform, const Consumer& consume, std::string& error);

    static size_t defaultWorkerCount();

private:
    Settings m_settings;
};
