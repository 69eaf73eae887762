#include "UsedMap.h"

// com_err's header has no C++ linkage block of its own.
extern "C" {
#include <et/com_err.h>
}
#include <ext2fs/ext2fs.h>

namespace {
std::string ext2Error(errcode_t code)
{
    return error_message(code);
}

// Refuses file systems whose on-disk bitmaps may be stale or wrong.
bool bitmapIsTrustworthy(ext2_filsys fs, uint64_t deviceSize, std::string& why)
{
    if (ext2fs_has_feature_journal_needs_recovery(fs->super)) {
        why = "its journal needs recovery";
        return false;
    }
    if (fs->super->s_state & EXT2_ERROR_FS) {
        why = "it is marked as having errors";
        return false;
    }
    // Without a journal the kernel clears the valid bit while the file system is mounted read-write and sets it at
    // a clean unmount; unset, the bitmaps may lag behind the data written. (A journaled one keeps the bit set while
    // mounted and says the same through needs_recovery above.)
    if (!(fs->super->s_state & EXT2_VALID_FS)) {
        why = "it was not cleanly unmounted";
        return false;
    }
    if (ext2fs_blocks_count(fs->super) > deviceSize / fs->blocksize) {
        why = "it is larger than the device";
        return false;
    }
    return true;
}

void addUsedRuns(ext2_filsys fs, UsedMap& map)
{
    const uint64_t blockSize = fs->blocksize;
    blk64_t start = fs->super->s_first_data_block;
    const blk64_t last = ext2fs_blocks_count(fs->super) - 1;
    // With 1 KiB blocks the bitmap starts at block 1; the boot block before it is kept too.
    if (start > 0) {
        map.add(0, start * blockSize);
    }
    while (start <= last) {
        blk64_t used = 0;
        if (ext2fs_find_first_set_block_bitmap2(fs->block_map, start, last, &used) != 0) {
            return;
        }
        blk64_t freeBlock = 0;
        blk64_t end = last + 1;
        if (ext2fs_find_first_zero_block_bitmap2(fs->block_map, used, last, &freeBlock) == 0) {
            end = freeBlock;
        }
        map.add(used * blockSize, (end - used) * blockSize);
        start = end;
    }
}
} // namespace

UsedMap UsedMap::withBlockSize(uint32_t blockSize)
{
    UsedMap map;
    map.m_blockSize = blockSize;
    return map;
}

UsedMap UsedMap::wholeDevice(uint64_t size)
{
    UsedMap map;
    map.m_wholeDevice = true;
    map.add(0, size);
    return map;
}

bool UsedMap::fromExtFileSystem(const std::string& device, uint64_t deviceSize, UsedMap& map, std::string& why)
{
    ext2_filsys fs = nullptr;
    const errcode_t opened = ext2fs_open2(device.c_str(), nullptr, EXT2_FLAG_64BITS, 0, 0, unix_io_manager, &fs);
    if (opened != 0) {
        why = "cannot open it: " + ext2Error(opened);
        return false;
    }
    bool ok = bitmapIsTrustworthy(fs, deviceSize, why);
    const errcode_t read = ok ? ext2fs_read_block_bitmap(fs) : 0;
    if (read != 0) {
        why = "cannot read its block bitmap: " + ext2Error(read);
        ok = false;
    }
    if (ok) {
        map = UsedMap();
        map.m_blockSize = fs->blocksize;
        addUsedRuns(fs, map);
    }
    ext2fs_free(fs);
    return ok;
}

void UsedMap::add(uint64_t offset, uint64_t length)
{
    if (length == 0) {
        return;
    }
    m_usedBytes += length;
    if (!m_ranges.empty() && m_ranges.back().end() == offset) {
        m_ranges.back().length += length;
        return;
    }
    m_ranges.push_back({offset, length, false});
}
