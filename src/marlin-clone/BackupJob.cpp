#include "BackupJob.h"

#include "BlockDevice.h"
#include "BtrfsUsedMap.h"
#include "ChunkPipeline.h"
#include "ChunkPlanner.h"
#include "Console.h"
#include "FileIo.h"
#include "ImageWriter.h"
#include "ProgressReporter.h"
#include "SourceProbe.h"
#include "UniqueFd.h"
#include "XfsUsedMap.h"

#include <fcntl.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <ctime>

BackupJob::BackupJob(std::string source, std::string target, const CloneOptions& options)
    : m_source(std::move(source)), m_target(std::move(target)), m_options(options)
{
}

bool BackupJob::prepare(std::string& error)
{
    struct stat status
    {
    };
    if (::stat(m_target.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = m_target + " exists and is not a regular file";
        return false;
    }
    // A file system that changes while it is read gives a copy that may not even mount.
    const std::string writable = BlockDevice::writableMountOf(m_source);
    if (!writable.empty() && !m_options.allowMounted) {
        error = "refusing to back up " + m_source + ": it is mounted read-write on " + writable +
                "; unmount it or mount it read-only (--allow-mounted copies it anyway)";
        return false;
    }
    const std::string usage = BlockDevice::usage(m_source);
    if (!claimSource(usage.empty(), error) || !m_reader.open(m_source, error)) {
        return false;
    }
    m_reader.setRescue(m_options.rescue);
    m_header = ImageHeader::withDefaultLayout();
    if (!usage.empty()) {
        Console::warning(m_source + " is " + usage +
                         (writable.empty() ? "" : " read-write: the copy may be inconsistent"));
        m_header.flags |= ImageHeader::kFlagSourceWasMounted;
    }
    const SourceProbe::Result probe = SourceProbe::probe(m_source);
    m_header.fsType = probe.type;
    m_header.fsId = probe.id;
    m_header.fsLabel = probe.label;
    chooseUsedMap();
    m_header.sourceDevice = m_source;
    m_header.sourceSize = m_reader.size();
    m_header.usedBytes = m_map.usedBytes();
    m_header.blockSize = m_map.blockSize();
    m_header.maxChunkBytes = kChunkBytes;
    m_header.compressionLevel = kCompressionLevel;
    m_header.creationTime = static_cast<int64_t>(std::time(nullptr));
    if (m_map.isWholeDevice()) {
        m_header.flags |= ImageHeader::kFlagZeroUnlisted;
    }
    return !usesStore() || prepareStore(error);
}

bool BackupJob::prepareStore(std::string& error)
{
    if (!m_store.open(m_options.storeDir, true, error) || !m_store.lock(false, error) || !m_store.listNames(error)) {
        return false;
    }
    // Relative to the image, so that an image moved together with its store still finds it.
    m_header.storePath = FileIo::relativePath(FileIo::parentDirectory(m_target), m_options.storeDir);
    if (m_header.storePath.empty()) {
        error = "cannot resolve the chunk store " + m_options.storeDir + ": " + FileIo::errorText(errno);
        return false;
    }
    m_header.formatVersion = ImageHeader::kStoreFormatVersion;
    m_header.flags |= ImageHeader::kFlagStore;
    m_header.maxChunkBytes = kStoreChunkBytes;
    return true;
}

void BackupJob::packForStore(ChunkCodec& codec, ChunkWork& work)
{
    codec.summarize(work);
    if (work.entry.rawLength == 0) {
        return;
    }
    work.key = ChunkCodec::timedKey(work.raw.data(), work.entry.rawLength);
    work.inStore = m_store.has(work.key, work.entry.rawLength);
    if (work.inStore || !codec.compress(work)) {
        return;
    }
    // Written here, on every worker at once: creating thousands of small files is what a store backup waits on.
    const StoreChunkHeader header = StoreChunkHeader::of(work.key, work.entry);
    std::string error;
    if (!m_store.put(header, work.storedBytes(), error)) {
        work.fail(error);
    }
}

bool BackupJob::claimSource(bool unmountedHere, std::string& error)
{
    // Held for the whole backup: nothing can mount the source while it is read. A claim that fails although our
    // mount table shows no mount means a file system holds the device unseen (mounted in another mount namespace),
    // and what is on the device may lag behind it.
    m_claim.reset(BlockDevice::openExclusive(m_source, O_RDONLY));
    if (m_claim.valid() || errno != EBUSY || !unmountedHere || m_options.allowMounted) {
        return true;
    }
    error = "refusing to back up " + m_source +
            ": it is in use although not mounted here (mounted in another mount namespace?); --allow-mounted copies "
            "it anyway";
    return false;
}

void BackupJob::chooseUsedMap()
{
    std::string why;
    if (SourceProbe::isExtFamily(m_header.fsType)) {
        if (UsedMap::fromExtFileSystem(m_source, m_reader.size(), m_map, why)) {
            return;
        }
        Console::warning("copying all of " + m_source + ": its " + m_header.fsType +
                         " file system cannot be trusted (" + why + ")");
    }
    if (m_header.fsType == "xfs" || m_header.fsType == "btrfs") {
        UniqueFd device(::open(m_source.c_str(), O_RDONLY | O_CLOEXEC));
        const bool xfs = m_header.fsType == "xfs";
        if (device.valid() && (xfs ? XfsUsedMap::read(device.get(), m_reader.size(), m_map, why)
                                   : BtrfsUsedMap::read(device.get(), m_reader.size(), m_map, why))) {
            return;
        }
        Console::warning("copying all of " + m_source + ": its " + m_header.fsType +
                         " used blocks cannot be read safely (" + why + ")");
    }
    m_map = UsedMap::wholeDevice(m_reader.size());
}

bool BackupJob::readChunk(ChunkWork& work)
{
    std::string error;
    if (!m_reader.readExtents(work.extents, work.raw.data(), error)) {
        work.fail(error);
        return false;
    }
    work.sourceBytes = 0;
    for (const Extent& extent : work.extents) {
        work.sourceBytes += extent.length;
    }
    return true;
}

bool BackupJob::storeChunk(ImageWriter& writer, ChunkWork& work, std::string& error)
{
    if (m_map.isWholeDevice()) {
        // Zero runs are implied by the whole-device flag; a chunk of nothing but zeros is not stored at all.
        std::vector<Extent> data;
        for (const Extent& extent : work.extents) {
            if (!extent.zero) {
                data.push_back(extent);
            }
        }
        if (data.empty()) {
            return true;
        }
        work.extents = std::move(data);
        work.entry.sourceOffset = work.extents.front().offset;
    }
    if (!usesStore()) {
        return writer.append(work.entry, work.extents, work.storedBytes(), error);
    }
    writer.appendReference(work.entry, work.extents, work.key);
    return true;
}

bool BackupJob::copy(ImageWriter& writer, ProgressReporter& progress, std::string& error)
{
    ChunkPipeline::Settings settings;
    settings.workers = ChunkPipeline::defaultWorkerCount();
    settings.rawCapacity = m_header.maxChunkBytes;
    settings.level = kCompressionLevel;
    settings.granularity = m_map.isWholeDevice() ? 4096 : m_map.blockSize();
    ChunkPlanner planner(m_map.ranges(), m_header.maxChunkBytes, usesStore());
    auto produce = [&](ChunkWork& work) {
        if (!planner.next(work.extents)) {
            return ChunkPipeline::Produced::End;
        }
        readChunk(work);
        return ChunkPipeline::Produced::Chunk;
    };
    auto transform = [this](ChunkCodec& codec, ChunkWork& work) {
        if (usesStore()) {
            packForStore(codec, work);
        } else {
            codec.pack(work);
        }
    };
    auto consume = [&](ChunkWork& work, std::string& message) {
        progress.advance(work.sourceBytes);
        return storeChunk(writer, work, message);
    };
    return ChunkPipeline(settings).run(produce, transform, consume, error);
}

std::string BackupJob::storeSummary() const
{
    if (!usesStore()) {
        return std::string();
    }
    return "store " + m_options.storeDir + " +" + std::to_string(m_store.chunksAdded()) + " chunks +" +
           std::to_string(m_store.bytesAdded()) + " bytes, ";
}

int BackupJob::reportUnreadable() const
{
    const std::vector<Extent>& ranges = m_reader.unreadable();
    if (ranges.empty()) {
        return 0;
    }
    uint64_t bytes = 0;
    for (const Extent& range : ranges) {
        bytes += range.length;
    }
    Console::warning(ProgressReporter::size(static_cast<double>(bytes)) + " could not be read, in " +
                     std::to_string(ranges.size()) + (ranges.size() == 1 ? " range" : " ranges") +
                     "; the image holds zeros there and lists the ranges (--rbk-info)");
    return kExitUnreadable;
}

int BackupJob::run()
{
    const auto started = std::chrono::steady_clock::now();
    std::string error;
    ImageWriter writer;
    if (!prepare(error) || !writer.create(m_target, m_header, error)) {
        Console::error(error);
        return 1;
    }
    ProgressReporter progress;
    progress.start(m_map.usedBytes());
    const bool copied = copy(writer, progress, error);
    writer.setUnreadable(m_reader.unreadable());
    // The store's new chunks are durable and named before the image that references them exists.
    if (!copied || (usesStore() && !m_store.flush(error)) || !writer.commit(error)) {
        progress.stop();
        writer.discard();
        m_store.discardPending();
        Console::error(error);
        return 1;
    }
    progress.finish();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    Console::info("backup of " + m_source + " done: " + std::to_string(m_map.usedBytes()) + " bytes in use, image " +
                  std::to_string(writer.bytesWritten()) + " bytes, " + storeSummary() +
                  std::to_string(seconds.count()) + " s, checksums " + std::to_string(ChunkCodec::checksumSeconds()) +
                  " s");
    return reportUnreadable();
}
