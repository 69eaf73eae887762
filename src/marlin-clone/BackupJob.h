#pragma once

// A backup: a block device into a new image file, copying only what is in use.

#include "ChunkStore.h"
#include "ChunkWork.h"
#include "CloneOptions.h"
#include "ImageHeader.h"
#include "SourceReader.h"
#include "UniqueFd.h"
#include "UsedMap.h"

#include <string>

class ChunkCodec;
class ImageWriter;
class ProgressReporter;

class BackupJob
{
public:
    BackupJob(std::string source, std::string target, const CloneOptions& options);
    // 0 on complete success, 1 on failure (the target is then unchanged), kExitUnreadable when a rescue backup
    // finished with unreadable ranges.
    int run();

    // Chunk payload size: large sequential reads and writes, enough chunks to keep every core busy.
    static constexpr uint32_t kChunkBytes = 8u << 20;
    // Into a store: fixed windows of the source's offset space (see FORMAT.md for why this size).
    static constexpr uint32_t kStoreChunkBytes = 128u << 10;
    static constexpr int kCompressionLevel = 1;
    static constexpr int kExitUnreadable = 3;

private:
    bool prepare(std::string& error);
    // The closing warning and exit status of a rescue that met unreadable sectors.
    int reportUnreadable() const;
    // Opens the source exclusively; false when something unseen holds it and the options do not allow that.
    bool claimSource(bool unmountedHere, std::string& error);
    void chooseUsedMap();
    bool readChunk(ChunkWork& work);
    bool copy(ImageWriter& writer, ProgressReporter& progress, std::string& error);
    bool storeChunk(ImageWriter& writer, ChunkWork& work, std::string& error);
    // Opens (or makes) the store, holds it shared and records it in the header.
    bool prepareStore(std::string& error);
    // Worker side of a backup into a store: keyed, and compressed and written only when the store lacks it.
    void packForStore(ChunkCodec& codec, ChunkWork& work);
    // ", store +N chunks, +B bytes" for the closing line of a backup into a store.
    std::string storeSummary() const;
    bool usesStore() const { return !m_options.storeDir.empty(); }

    std::string m_source;
    std::string m_target;
    CloneOptions m_options;
    UniqueFd m_claim;
    SourceReader m_reader;
    UsedMap m_map;
    ImageHeader m_header;
    ChunkStore m_store;
};
