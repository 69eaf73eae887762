#include "RestoreJob.h"

#include "BlockDevice.h"
#include "ChunkPipeline.h"
#include "Console.h"
#include "FileIo.h"
#include "ImageVerifier.h"
#include "TargetComparer.h"
#include "TargetWriter.h"
#include "UniqueFd.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {
// Zeroing is mostly done by the device and far cheaper than writing; it still moves the bar a little.
constexpr uint64_t kZeroCostDivisor = 16;
} // namespace

RestoreJob::RestoreJob(std::string image, std::string target)
    : m_imagePath(std::move(image)), m_target(std::move(target))
{
    // Held shared until the restore ends: no prune can take a chunk between the checking and the writing pass.
    m_image.useStore(std::string(), true);
}

bool RestoreJob::checkTarget(std::string& error)
{
    const std::string usage = BlockDevice::usage(m_target);
    if (!usage.empty()) {
        error = "refusing to restore: " + m_target + " is " + usage;
        return false;
    }
    UniqueFd probe(BlockDevice::openExclusive(m_target, O_RDONLY));
    if (!probe.valid()) {
        error = "refusing to restore: cannot open " + m_target + " exclusively (" + FileIo::errorText(errno) +
                "); is it in use?";
        return false;
    }
    uint64_t size = 0;
    if (!BlockDevice::sizeOf(probe.get(), size)) {
        error = "cannot get the size of " + m_target;
        return false;
    }
    const uint64_t sourceSize = m_image.header().sourceSize;
    m_end = std::min(size, sourceSize);
    if (size >= sourceSize) {
        return true;
    }
    // Only the image of a disk with a partition table can end early, past its partitions: a file system (or anything
    // else) cut short would be broken.
    const std::string& type = m_image.header().fsType;
    const bool wholeDevice = m_image.header().zerosUnlisted() && (type == "gpt" || type == "dos");
    if (m_fitBytes > 0 && wholeDevice && size >= m_fitBytes) {
        Console::info(m_target + " is smaller than the disk the image was made of: the last " +
                      std::to_string(sourceSize - size) + " bytes of the image are left out");
        return true;
    }
    error = "refusing to restore: " + m_target + " has " + std::to_string(size) + " bytes, the image needs " +
            std::to_string(m_fitBytes > 0 && wholeDevice ? m_fitBytes : sourceSize);
    return false;
}

void RestoreJob::listExtents(ChunkWork& work) const
{
    const ChunkIndex& index = m_image.index();
    const ChunkEntry& entry = work.entry;
    // What no extent lists was zero on the source: each gap is compared and written with the extent after it.
    const bool gapsAreZero = m_image.header().zerosUnlisted();
    uint64_t previousEnd = entry.firstExtent == 0 ? 0 : index.extent(entry.firstExtent - 1).end();
    work.extents.clear();
    for (uint64_t e = entry.firstExtent; e < entry.firstExtent + entry.extentCount; ++e) {
        const Extent extent = index.extent(e);
        if (gapsAreZero && extent.offset > previousEnd) {
            work.extents.push_back({previousEnd, extent.offset - previousEnd, true});
        }
        work.extents.push_back(extent);
        previousEnd = extent.end();
    }
    // A smaller target: what lies past its end is left out.
    while (!work.extents.empty() && work.extents.back().offset >= m_end) {
        work.extents.pop_back();
    }
    if (!work.extents.empty() && work.extents.back().end() > m_end) {
        work.extents.back().length = m_end - work.extents.back().offset;
    }
}

bool RestoreJob::writeRanges(TargetWriter& writer, const ChunkWork& work, std::string& error)
{
    for (const TargetRange& range : work.writes) {
        const bool ok = range.zero ? writer.zero(range.offset, range.length, error)
                                   : writer.write(work.raw.data() + range.position, range.offset, range.length, error);
        if (!ok) {
            return false;
        }
    }
    m_inPlace += work.inPlace;
    return true;
}

bool RestoreJob::writeTail(TargetWriter& writer, const TargetComparer& comparer, std::string& error)
{
    const ChunkIndex& index = m_image.index();
    const uint64_t end = index.extentCount() == 0 ? 0 : index.extent(index.extentCount() - 1).end();
    if (!m_image.header().zerosUnlisted() || end >= m_end) {
        return true;
    }
    ChunkWork tail;
    tail.extents.push_back({end, m_end - end, true});
    comparer.plan(tail);
    return writeRanges(writer, tail, error);
}

bool RestoreJob::writeImage(int targetFd, ProgressReporter& progress, std::string& error)
{
    const ImageHeader& header = m_image.header();
    const ChunkIndex& index = m_image.index();
    ChunkPipeline::Settings settings;
    settings.workers = ChunkPipeline::defaultWorkerCount();
    settings.rawCapacity = header.maxChunkBytes;
    // Not exclusive: targetFd already holds the claim, and a second claim by this process would be refused.
    UniqueFd direct(::open(m_target.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC));
    TargetWriter writer(targetFd, direct.get());
    TargetComparer comparer(targetFd, direct.get());
    size_t next = 0;
    auto produce = [&](ChunkWork& work) {
        if (next == index.chunkCount()) {
            return ChunkPipeline::Produced::End;
        }
        m_image.readChunk(next++, work);
        return ChunkPipeline::Produced::Chunk;
    };
    // The workers also read what the target holds where each chunk goes, so comparing overlaps the writing.
    auto transform = [&](ChunkCodec& codec, ChunkWork& work) {
        if (codec.unpack(work)) {
            listExtents(work);
            comparer.plan(work);
        }
    };
    uint64_t previousEnd = 0;
    auto consume = [&](ChunkWork& work, std::string& message) {
        if (!writeRanges(writer, work, message)) {
            return false;
        }
        comparer.record(work);
        // Bytes found in place count as done: a restore over the same data still ends at 100 %.
        progress.advance(progressUnits(work.entry, previousEnd));
        return true;
    };
    ChunkPipeline pipeline(settings);
    const bool ok =
        pipeline.run(produce, transform, consume, error) && writeTail(writer, comparer, error) && writer.finish(error);
    m_written = writer.written();
    return ok;
}

uint64_t RestoreJob::progressUnits(const ChunkEntry& entry, uint64_t& previousEnd) const
{
    const ChunkIndex& index = m_image.index();
    const Extent last = index.extent(entry.firstExtent + entry.extentCount - 1);
    const bool fillsGaps = m_image.header().zerosUnlisted();
    uint64_t zeroed = 0;
    for (uint64_t e = entry.firstExtent; e < entry.firstExtent + entry.extentCount; ++e) {
        const Extent extent = index.extent(e);
        zeroed += extent.zero ? extent.length : 0;
    }
    if (fillsGaps) {
        zeroed = last.end() - previousEnd - entry.rawLength;
    }
    previousEnd = last.end();
    return entry.rawLength + zeroed / kZeroCostDivisor;
}

void RestoreJob::rereadPartitionTable(int targetFd) const
{
    if (!BlockDevice::isWholeDisk(m_target)) {
        return;
    }
    // Loop devices without partition scanning refuse this; that is no failure of the restore.
    if (!BlockDevice::rereadPartitions(targetFd) && errno == EBUSY) {
        Console::warning("the kernel keeps the old partition table of " + m_target + " until the next reboot");
    }
}

uint64_t RestoreJob::totalProgressUnits() const
{
    const ChunkIndex& index = m_image.index();
    uint64_t total = ImageVerifier::progressUnits(m_image);
    uint64_t previousEnd = 0;
    for (size_t i = 0; i < index.chunkCount(); ++i) {
        total += progressUnits(index.chunk(i), previousEnd);
    }
    return total;
}

bool RestoreJob::verifyAndWrite(ProgressReporter& progress, std::string& error)
{
    const auto started = std::chrono::steady_clock::now();
    if (!ImageVerifier::verify(m_image, progress, error)) {
        error += "; nothing was written to " + m_target;
        return false;
    }
    m_verifySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Read and write: each range is compared with what the target holds before it is written.
    UniqueFd target(BlockDevice::openExclusive(m_target, O_RDWR));
    if (!target.valid()) {
        error = "cannot open " + m_target + " for writing: " + FileIo::errorText(errno);
        return false;
    }
    if (!writeImage(target.get(), progress, error)) {
        error = "restore onto " + m_target + " failed, the device now holds an incomplete copy: " + error;
        return false;
    }
    rereadPartitionTable(target.get());
    return true;
}

void RestoreJob::setOptions(const CloneOptions& options)
{
    if (!options.storeDir.empty()) {
        m_image.useStore(options.storeDir, true);
    }
    m_fitBytes = options.fitBytes;
}

int RestoreJob::verify()
{
    std::string error;
    if (!m_image.open(m_imagePath, false, error)) {
        Console::error(m_imagePath + " is not a valid image (" + error + ")");
        return 1;
    }
    if (!BlockDevice::isBlockDevice(m_target)) {
        Console::error("refusing to restore: " + m_target + " is no block device");
        return kTargetRefused;
    }
    if (!checkTarget(error)) {
        Console::error(error);
        return kTargetRefused;
    }
    ProgressReporter progress;
    progress.start(ImageVerifier::progressUnits(m_image));
    if (!ImageVerifier::verify(m_image, progress, error)) {
        progress.stop();
        Console::error(error);
        return 1;
    }
    progress.finish();
    Console::info(m_imagePath + " verified; it can be restored onto " + m_target);
    return 0;
}

int RestoreJob::run()
{
    const auto started = std::chrono::steady_clock::now();
    std::string error;
    if (!m_image.open(m_imagePath, false, error)) {
        Console::error(m_imagePath + " is not a valid image (" + error + "); nothing was written");
        return 1;
    }
    if (!checkTarget(error)) {
        Console::error(error);
        return 1;
    }
    const uint64_t unreadable = m_image.index().unreadableBytes();
    if (unreadable > 0) {
        Console::warning(m_imagePath + " was made from a failing disk: " + std::to_string(unreadable) + " bytes in " +
                         std::to_string(m_image.index().unreadable().size()) +
                         " ranges could not be read and are restored as zeros");
    }
    ProgressReporter progress;
    progress.start(totalProgressUnits());
    if (!verifyAndWrite(progress, error)) {
        progress.stop();
        Console::error(error);
        return 1;
    }
    progress.finish();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    Console::info("restore onto " + m_target + " done: " + std::to_string(m_written) + " bytes written, " +
                  std::to_string(m_inPlace) + " bytes already in place, " + std::to_string(seconds.count()) +
                  " s, image verified in " + std::to_string(m_verifySeconds) + " s, data checksums " +
                  std::to_string(ChunkCodec::checksumSeconds()) + " s");
    return 0;
}
