#pragma once

// A restore: an image onto a block device. Everything that can be checked is checked before the device is opened
// for writing: the image's structure, every chunk's checksum, the device's size and that nothing uses it. The
// writing pass compares each chunk's ranges with what the target holds and writes only what differs, so a restore
// over the same data writes nothing and one cut off and run again skips what it had done.

#include "ChunkWork.h"
#include "CloneOptions.h"
#include "ImageReader.h"
#include "ProgressReporter.h"

#include <string>

class TargetComparer;
class TargetWriter;

class RestoreJob
{
public:
    RestoreJob(std::string image, std::string target);
    // What a restore takes of the command line: the chunk store to read a store image's chunks from instead of the
    // one the image names (storeDir), and how small a target a whole-device image may go onto (fitBytes).
    void setOptions(const CloneOptions& options);
    // 0 on complete success; 1 when refused (target untouched) or failed while writing.
    int run();
    // Everything run() checks before its first write, and nothing written: a caller restoring several images checks
    // them all before writing any. 0 when the restore could start; 1 when the image is invalid or damaged;
    // kTargetRefused when the target is no block device, is in use, cannot be opened exclusively or is too small.
    int verify();

    static constexpr int kTargetRefused = 4;

private:
    bool checkTarget(std::string& error);
    uint64_t totalProgressUnits() const;
    // The checksum pass over the whole image, then the writing; the target is opened only after the first.
    bool verifyAndWrite(ProgressReporter& progress, std::string& error);
    bool writeImage(int targetFd, ProgressReporter& progress, std::string& error);
    // The chunk's extents, and for whole-device images the unlisted gaps before each as zeros, into work.extents.
    void listExtents(ChunkWork& work) const;
    bool writeRanges(TargetWriter& writer, const ChunkWork& work, std::string& error);
    // Whole-device images: the zeros after the last chunk up to the source's size.
    bool writeTail(TargetWriter& writer, const TargetComparer& comparer, std::string& error);
    void rereadPartitionTable(int targetFd) const;
    // The work a chunk stands for: its data plus, much cheaper, what is zeroed since the previous chunk.
    uint64_t progressUnits(const ChunkEntry& entry, uint64_t& previousEnd) const;

    std::string m_imagePath;
    std::string m_target;
    ImageReader m_image;
    double m_verifySeconds = 0;
    uint64_t m_written = 0;
    uint64_t m_inPlace = 0; // compared and found equal, so not written
    uint64_t m_fitBytes = 0;
    // Where writing stops: the source's size, or the smaller target's end.
    uint64_t m_end = 0;
};
