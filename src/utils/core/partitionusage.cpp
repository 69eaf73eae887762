#include "core/partitionusage.h"

#include "core/command.h"

#include <QDebug>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <utility>

namespace {

const QString SwapName = QStringLiteral("linux-swap");

// Built once for the whole process; function-local statics are initialised thread-safely.
const QHash<int, QString>& typeNames()
{
    static const QHash<int, QString> names{
        {int(FsType::Empty), ""},
        {int(FsType::Btrfs), "btrfs"},
        {int(FsType::Efi), "efi"},
        {int(FsType::Ext2), "ext2"},
        {int(FsType::Ext3), "ext3"},
        {int(FsType::Ext4), "ext4"},
        {int(FsType::F2fs), "f2fs"},
        {int(FsType::Fat16), "fat16"},
        {int(FsType::Fat32), "fat32"},
        {int(FsType::Vfat), "vfat"},
        {int(FsType::Hfs), "hfs"},
        {int(FsType::HfsPlus), "hfsplus"},
        {int(FsType::Jfs), "jfs"},
        {int(FsType::LinuxSwap), SwapName},
        {int(FsType::Lvm2Pv), "lvm2 pv"},
        {int(FsType::Nilfs2), "nilfs2"},
        {int(FsType::Ntfs), "ntfs"},
        {int(FsType::Reiser4), "reiser4"},
        {int(FsType::Reiserfs), "reiserfs"},
        {int(FsType::Xfs), "xfs"},
        {int(FsType::Recovery), "recovery"},
        {int(FsType::Unknown), "unknown"},
    };
    return names;
}

const QHash<QString, FsType>& typesByName()
{
    static const QHash<QString, FsType> types = [] {
        QHash<QString, FsType> byName;
        const QHash<int, QString>& names = typeNames();
        for (auto it = names.cbegin(); it != names.cend(); ++it) {
            byName.insert(it.value(), FsType(it.key()));
        }
        return byName;
    }();
    return types;
}

// Block and cluster sizes are 32-bit in every report; anything else is not a size.
qint64 toSize(const QString& text)
{
    return text.trimmed().toUInt();
}

qint64 toCount(const QString& text)
{
    return text.trimmed().toLongLong();
}

qint64 hexCount(const QString& text)
{
    return text.trimmed().toLongLong(nullptr, 16);
}

QStringList words(const QString& line)
{
    return line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
}

// Text after the last separator of the last line that starts with key; empty when no line does.
QString fieldOf(const QStringList& lines, const QString& key, QChar separator = ':')
{
    QString value;
    for (const QString& line : lines) {
        if (line.startsWith(key)) {
            value = line.section(separator, -1);
        }
    }
    return value;
}

// The path as a whole word, so that a report line about /dev/sda10 is not taken for /dev/sda1.
QRegularExpression pathPattern(const QString& path)
{
    return QRegularExpression("(^|\\s)" + QRegularExpression::escape(path) + "(:|\\s|$)");
}

bool mentions(const QRegularExpression& pattern, const QString& line)
{
    return pattern.match(line).hasMatch();
}

// Stores free and total as block counts times the block size; false when a product does not fit in 64 bits.
bool storeBlocks(qint64 freeBlocks, qint64 blocks, qint64 blockSize, qint64& freeSpace, qint64& total)
{
    qint64 freeBytes = 0;
    qint64 totalBytes = 0;
    if (qMulOverflow(freeBlocks, blockSize, &freeBytes) || qMulOverflow(blocks, blockSize, &totalBytes)) {
        return false;
    }
    freeSpace = freeBytes;
    total = totalBytes;
    return true;
}

qint64 unitOf(const QString& text)
{
    const std::pair<const char*, qint64> units[] = {{"KiB", Q_INT64_C(1024)},
                                                    {"MiB", Q_INT64_C(1048576)},
                                                    {"GiB", Q_INT64_C(1073741824)},
                                                    {"TiB", Q_INT64_C(1099511627776)},
                                                    {"PiB", Q_INT64_C(1125899906842624)}};
    for (const auto& unit : units) {
        if (text.contains(QLatin1String(unit.first))) {
            return unit.second;
        }
    }
    return -1;
}

struct FatReport
{
    qint64 clusterSize = 0;
    qint64 dataStart = 0;
    qint64 usedClusters = 0;
    qint64 clusters = 0;
};

FatReport parseFatReport(const QString& report, const QString& path)
{
    const QRegularExpression device = pathPattern(path);
    FatReport fat;
    for (const QString& line : report.split('\n')) {
        if (line.contains("bytes per cluster")) {
            fat.clusterSize = toSize(words(line).value(0));
        } else if (line.contains("Data area starts at")) {
            fat.dataStart = toCount(words(line).value(5));
        } else if (mentions(device, line)) {
            // "/dev/sda1: 10 files, 500/100000 clusters"
            const QStringList clusters = words(line).value(3).split('/');
            fat.usedClusters = toCount(clusters.value(0));
            fat.clusters = toCount(clusters.value(1));
        }
    }
    return fat;
}

// The shell line gets the path verbatim, so only names that need no quoting get that far.
bool isPlainDevicePath(const QString& path)
{
    const QRegularExpression plain(QRegularExpression::anchoredPattern("/dev/[A-Za-z0-9/_.:+-]+"));
    return plain.match(path).hasMatch();
}

// A count of KiB as bytes; false when the line is not a number that fits.
bool kibToBytes(const QString& text, qint64& bytes)
{
    bool ok = false;
    const qint64 kib = text.toLongLong(&ok);
    return ok && !qMulOverflow(kib, Q_INT64_C(1024), &bytes);
}

} // namespace

QString fsTypeName(FsType type)
{
    if (type == FsType::LinuxSwap) {
        return SwapName;
    }
    return typeNames().value(int(type));
}

FsType fsTypeFromName(const QString& name)
{
    return typesByName().value(name, FsType::Unknown);
}

bool ReadUsage(const QString& path, FsType type, qint64& freeSpace, qint64& total)
{
    using Probe = bool (*)(const QString&, qint64&, qint64&);
    Probe probe = nullptr;
    switch (type) {
    case FsType::Btrfs:
        probe = ReadBtrfsUsage;
        break;
    case FsType::Efi:
    case FsType::Fat16:
    case FsType::Fat32:
    case FsType::Vfat:
        probe = ReadFat16Usage;
        break;
    case FsType::Ext2:
    case FsType::Ext3:
    case FsType::Ext4:
        probe = ReadExt2Usage;
        break;
    case FsType::Jfs:
        probe = ReadJfsUsage;
        break;
    case FsType::LinuxSwap:
        probe = ReadLinuxSwapUsage;
        break;
    case FsType::Nilfs2:
        probe = ReadNilfs2Usage;
        break;
    case FsType::Ntfs:
        probe = ReadNTFSUsage;
        break;
    case FsType::Reiser4:
        probe = ReadReiser4Usage;
        break;
    case FsType::Reiserfs:
        probe = ReadReiserfsUsage;
        break;
    case FsType::Xfs:
        probe = ReadXfsUsage;
        break;
    default:
        break;
    }
    if (probe && probe(path, freeSpace, total)) {
        return true;
    }
    freeSpace = -1;
    total = -1;
    qWarning().noquote().nospace() << "Failed to read usage:" << path;
    return false;
}

bool ReadBtrfsUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("btrfs", {"filesystem", "show", path}, report)) {
        return false;
    }
    const QRegularExpression device = pathPattern(path);
    QString sizeText;
    QString usedText;
    for (const QString& line : report.split('\n')) {
        if (mentions(device, line)) {
            sizeText = regexFirstCapture("size\\s*([^\\s]*)\\s", line);
        } else if (line.contains("Total devices")) {
            // What the whole file system holds, not what this device has allocated.
            usedText = regexFirstCapture("used\\s*([^\\s]*)", line);
        }
    }
    const qint64 size = parseSizeWithUnit(sizeText);
    const qint64 used = parseSizeWithUnit(usedText);
    if (size < 0 || used < 0) {
        return false;
    }
    freeSpace = size - used;
    total = size;
    return true;
}

bool ReadFat16Usage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    QString err;
    const bool ran = SpawnCmd("dosfsck", {"-n", "-v", path}, report, err);
    if (!err.isEmpty()) {
        qWarning().noquote().nospace() << "dosfsck failed:" << err;
        return false;
    }
    if (!ran) {
        return false;
    }
    const FatReport fat = parseFatReport(report, path);
    qint64 totalBytes = 0;
    qint64 usedBytes = 0;
    qint64 freeBytes = 0;
    if (qMulOverflow(fat.clusters, fat.clusterSize, &totalBytes) ||
        qMulOverflow(fat.usedClusters, fat.clusterSize, &usedBytes) ||
        qSubOverflow(totalBytes, fat.dataStart, &freeBytes) || qSubOverflow(freeBytes, usedBytes, &freeBytes)) {
        return false;
    }
    freeSpace = freeBytes;
    total = totalBytes;
    return true;
}

bool ReadExt2Usage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("dumpe2fs", {"-h", path}, report)) {
        return false;
    }
    const qint64 blocks = toCount(regexFirstCapture("Block count:\\s+(\\d+)", report));
    const qint64 freeBlocks = toCount(regexFirstCapture("Free blocks:\\s+(\\d+)", report));
    const qint64 blockSize = toSize(regexFirstCapture("Block size:\\s+(\\d+)", report));
    return storeBlocks(freeBlocks, blocks, blockSize, freeSpace, total);
}

bool ReadJfsUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    if (!isPlainDevicePath(path)) {
        qWarning().noquote().nospace() << "ReadJfsUsage() refuses the path:" << path;
        return false;
    }
    // "x" leaves the map display and "q" the tool: at the end of its input the map display prompts again and
    // again forever, so a bare "dm" never returns.
    const QString line = QStringLiteral("printf 'dm\\nx\\nq\\n' | jfs_debugfs %1").arg(path);
    QString report;
    if (!SpawnCmd("sh", {"-c", line}, report)) {
        return false;
    }
    qint64 blockSize = 0;
    for (const QString& reportLine : report.split('\n')) {
        if (reportLine.contains("Aggregate Block Size:")) {
            blockSize = toSize(reportLine.section(':', -1));
        }
    }
    const qint64 mapSize = hexCount(regexFirstCapture("dn_mapsize:\\s*([^\\s]+)", report));
    const qint64 freeBlocks = hexCount(regexFirstCapture("dn_nfree:\\s*([^\\s]+)", report));
    return storeBlocks(freeBlocks, mapSize, blockSize, freeSpace, total);
}

QList<SwapEntry> parseSwaps(const QString& swapsText)
{
    QList<SwapEntry> entries;
    for (const QString& line : swapsText.split('\n')) {
        if (line.startsWith("Filename")) {
            continue;
        }
        const QStringList parts = words(line);
        SwapEntry entry;
        if (parts.size() < 5 || !kibToBytes(parts.at(2), entry.size) || !kibToBytes(parts.at(3), entry.used)) {
            continue;
        }
        entry.fileName = parts.at(0);
        entry.isPartition = parts.at(1) == "partition";
        entry.priority = parts.at(4).toInt();
        entries.append(entry);
    }
    return entries;
}

void swapUsageFromText(const QString& swapsText, const QString& path, qint64& freeSpace, qint64& total)
{
    for (const SwapEntry& entry : parseSwaps(swapsText)) {
        if (entry.fileName == path) {
            freeSpace = entry.size - entry.used;
            total = entry.size;
            return;
        }
    }
    freeSpace = 0;
    total = 0;
}

bool ReadLinuxSwapUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    swapUsageFromText(ReadFile("/proc/swaps"), path, freeSpace, total);
    return true;
}

bool ReadNilfs2Usage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("nilfs-tune", {"-l", path}, report)) {
        return false;
    }
    const QStringList lines = report.split('\n');
    const qint64 blockSize = toSize(fieldOf(lines, "Block size:"));
    const qint64 freeBlocks = toCount(fieldOf(lines, "Free blocks count:"));
    qint64 freeBytes = 0;
    if (qMulOverflow(freeBlocks, blockSize, &freeBytes)) {
        return false;
    }
    freeSpace = freeBytes;
    total = toCount(fieldOf(lines, "Device size:"));
    return true;
}

bool ReadNTFSUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("ntfsinfo", {"-mf", path}, report)) {
        return false;
    }
    const qint64 clusterSize = toSize(regexFirstCapture("Cluster Size:\\s+(\\d+)", report));
    const qint64 clusters = toCount(regexFirstCapture("Volume Size in Clusters:\\s+(\\d+)", report));
    const qint64 freeClusters = toCount(regexFirstCapture("Free Clusters:\\s+(\\d+)", report));
    return storeBlocks(freeClusters, clusters, clusterSize, freeSpace, total);
}

bool ReadReiser4Usage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("debugfs.reiser4", {"--force", "--yes", path}, report)) {
        return false;
    }
    const QStringList lines = report.split('\n');
    const qint64 blockSize = toSize(fieldOf(lines, "blksize:"));
    return storeBlocks(toCount(fieldOf(lines, "free blocks:")), toCount(fieldOf(lines, "blocks:")), blockSize,
                       freeSpace, total);
}

bool ReadReiserfsUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("debugreiserfs", {"-d", path}, report)) {
        return false;
    }
    const QStringList lines = report.split('\n');
    const qint64 blocks = toCount(fieldOf(lines, "Count of blocks on the device:"));
    const qint64 blockSize = toSize(fieldOf(lines, "Blocksize:"));
    const qint64 freeBlocks = toCount(fieldOf(lines, "Free blocks (count of blocks"));
    return storeBlocks(freeBlocks, blocks, blockSize, freeSpace, total);
}

bool ReadXfsUsage(const QString& path, qint64& freeSpace, qint64& total)
{
    QString report;
    if (!SpawnCmd("xfs_db", {"-c sb", "-c print", "-r", path}, report)) {
        return false;
    }
    qint64 freeBlocks = 0;
    qint64 blocks = 0;
    qint64 blockSize = 0;
    for (const QString& line : report.split('\n')) {
        // "fdblocks" contains "dblocks", so it has to be asked first.
        if (line.contains("fdblocks")) {
            freeBlocks = toCount(line.section('=', -1));
        } else if (line.contains("dblocks")) {
            blocks = toCount(line.section('=', -1));
        } else if (line.contains("blocksize")) {
            blockSize = toSize(line.section('=', -1));
        }
    }
    return storeBlocks(freeBlocks, blocks, blockSize, freeSpace, total);
}

QString ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.exists()) {
        qWarning().noquote().nospace() << "ReadFileContent() file not found: " << path;
        return QString();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote().nospace() << "ReadFile() failed to open";
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

qint64 parseSizeWithUnit(const QString& text)
{
    const QString number = regexFirstCapture("^(\\d+(?:\\.\\d+)?)", text);
    const qint64 unit = unitOf(text);
    if (number.isEmpty() || unit < 0) {
        return -1;
    }
    const double bytes = number.toDouble() * double(unit);
    // Converting a double beyond the range of qint64 is undefined.
    if (bytes >= 9223372036854775808.0) {
        return -1;
    }
    return qint64(bytes);
}

QString regexFirstCapture(const QString& pattern, const QString& text)
{
    const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = re.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}
