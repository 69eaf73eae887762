#pragma once

// The regions of a source device a backup must copy: the used blocks of an ext2/3/4 file system as its block bitmap
// says (xfs: XfsUsedMap), or the whole device for anything we cannot read that safely.

#include "ChunkIndex.h"

#include <cstdint>
#include <string>
#include <vector>

class UsedMap
{
public:
    static UsedMap wholeDevice(uint64_t size);
    // An empty map of a file system with the given block size, for readers of other file systems to fill.
    static UsedMap withBlockSize(uint32_t blockSize);
    // Fails (with the reason) whenever the bitmap might not describe the data (not cleanly unmounted, a journal to
    // replay, errors): the caller then copies everything.
    static bool fromExtFileSystem(const std::string& device, uint64_t deviceSize, UsedMap& map, std::string& why);

    // Adds a region after all earlier ones, merging it with the last when they touch.
    void add(uint64_t offset, uint64_t length);

    const std::vector<Extent>& ranges() const { return m_ranges; }
    uint64_t usedBytes() const { return m_usedBytes; }
    uint32_t blockSize() const { return m_blockSize; }
    bool isWholeDevice() const { return m_wholeDevice; }

private:
    std::vector<Extent> m_ranges;
    uint64_t m_usedBytes = 0;
    uint32_t m_blockSize = 4096;
    bool m_wholeDevice = false;
};
