#pragma once

// How large a partition's file system is and how much of it is free, read without mounting it: each kind of file
// system is asked through its own tool, whose report is parsed here.

#include <QList>
#include <QString>
#include <QtGlobal>

// The values are stored and passed around as numbers, so they never change.
enum class FsType : int
{
    Empty = 0,
    Btrfs = 1,
    Efi = 2,
    Ext2 = 3,
    Ext3 = 4,
    Ext4 = 5,
    F2fs = 6,
    Fat16 = 7,
    Fat32 = 8,
    Vfat = 9,
    Hfs = 10,
    HfsPlus = 11,
    Jfs = 12,
    LinuxSwap = 13,
    Lvm2Pv = 14,
    Nilfs2 = 15,
    Ntfs = 16,
    Other = 17, // has no text name
    Reiser4 = 18,
    Reiserfs = 19,
    Xfs = 20,
    Recovery = 21,
    Unknown = 22,
};

// The text used for a type in logs and settings ("ext4", "lvm2 pv", ...); empty for a value without a name.
QString fsTypeName(FsType type);
// The type whose name is exactly text (case matters); the empty text is FsType::Empty, any other text without a
// type is FsType::Unknown.
FsType fsTypeFromName(const QString& name);

// Free bytes and file system size of the partition at path. On failure both are -1 and the reason is logged.
bool ReadUsage(const QString& path, FsType type, qint64& freeSpace, qint64& total);

// One probe per kind of file system. Each runs the tool of its kind and, on success, sets both numbers; on
// failure it leaves them as they were. A key missing from the report counts as 0.
bool ReadBtrfsUsage(const QString& path, qint64& freeSpace, qint64& total);
// FAT of any width, and so the EFI system partition too.
bool ReadFat16Usage(const QString& path, qint64& freeSpace, qint64& total);
// ext2, ext3 and ext4.
bool ReadExt2Usage(const QString& path, qint64& freeSpace, qint64& total);
// Runs through a shell, so it refuses any path that is not a plain /dev/ name.
bool ReadJfsUsage(const QString& path, qint64& freeSpace, qint64& total);
// Reads /proc/swaps; a swap area not in use there gives 0 and 0.
bool ReadLinuxSwapUsage(const QString& path, qint64& freeSpace, qint64& total);
bool ReadNilfs2Usage(const QString& path, qint64& freeSpace, qint64& total);
bool ReadNTFSUsage(const QString& path, qint64& freeSpace, qint64& total);
bool ReadReiser4Usage(const QString& path, qint64& freeSpace, qint64& total);
bool ReadReiserfsUsage(const QString& path, qint64& freeSpace, qint64& total);
bool ReadXfsUsage(const QString& path, qint64& freeSpace, qint64& total);

// One line of /proc/swaps, sizes in bytes.
struct SwapEntry
{
    QString fileName;
    bool isPartition = false;
    qint64 size = 0;
    qint64 used = 0;
    int priority = 0;
};

// The entries of a /proc/swaps text; lines with fewer than five columns are skipped.
QList<SwapEntry> parseSwaps(const QString& swapsText);
// Usage of the swap area named path in a /proc/swaps text: both 0 when it is not listed.
void swapUsageFromText(const QString& swapsText, const QString& path, qint64& freeSpace, qint64& total);

// The whole file as UTF-8; empty (and logged) when it is missing or cannot be opened.
QString ReadFile(const QString& path);
// Bytes of a size such as "20.00GiB" (binary units KiB to PiB); -1 without a leading number, without a known unit,
// or when the result does not fit in 64 bits.
qint64 parseSizeWithUnit(const QString& text);
// Capture group 1 of the first match of pattern (^ and $ match at each line), or empty.
QString regexFirstCapture(const QString& pattern, const QString& text);
