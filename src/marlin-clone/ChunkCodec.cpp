#include "ChunkCodec.h"

#include "Checksum.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {
std::atomic<uint64_t> g_checksumNanoseconds{0};

// Appends a region to an extent list, merging it with the last one when both touch and are of the same kind.
void appendExtent(std::vector<Extent>& extents, uint64_t offset, uint64_t length, bool zero)
{
    if (!extents.empty() && extents.back().zero == zero && extents.back().end() == offset) {
        extents.back().length += length;
        return;
    }
    extents.push_back({offset, length, zero});
}
} // namespace

ChunkCodec::ChunkCodec(int level, uint32_t granularity, uint64_t minZeroRun)
    : m_compressor(ZSTD_createCCtx()), m_decompressor(ZSTD_createDCtx()), m_level(level), m_granularity(granularity),
      m_minZeroRun(minZeroRun)
{
}

ChunkCodec::~ChunkCodec()
{
    ZSTD_freeCCtx(m_compressor);
    ZSTD_freeDCtx(m_decompressor);
}

double ChunkCodec::checksumSeconds()
{
    return static_cast<double>(g_checksumNanoseconds.load()) / 1e9;
}

uint64_t ChunkCodec::timedChecksum(const uint8_t* data, size_t size)
{
    // Thread CPU time, so that other processes on a busy machine do not inflate the figure.
    timespec before{};
    timespec after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    const uint64_t sum = Checksum::of(data, size);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const int64_t spent = (after.tv_sec - before.tv_sec) * 1000000000LL + (after.tv_nsec - before.tv_nsec);
    g_checksumNanoseconds += static_cast<uint64_t>(std::max<int64_t>(0, spent));
    return sum;
}

bool ChunkCodec::isAllZero(const uint8_t* data, size_t size)
{
    size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        uint64_t words[8];
        std::memcpy(words, data + i, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3] | words[4] | words[5] | words[6] | words[7]) != 0) {
            return false;
        }
    }
    for (; i < size; ++i) {
        if (data[i] != 0) {
            return false;
        }
    }
    return true;
}

void ChunkCodec::splitZeroRuns(ChunkWork& work) const
{
    std::vector<Extent> result;
    uint8_t* bytes = work.raw.data();
    size_t readPos = 0;
    size_t writePos = 0;
    auto flush = [&](uint64_t offset, uint64_t length, bool zero) {
        const bool keepApart = zero && length >= m_minZeroRun;
        if (!keepApart) {
            if (writePos != readPos) {
                std::memmove(bytes + writePos, bytes + readPos, length);
            }
            writePos += length;
        }
        readPos += length;
        appendExtent(result, offset, length, keepApart);
    };
    for (const Extent& extent : work.extents) {
        uint64_t runStart = 0;
        bool runZero = false;
        for (uint64_t pos = 0; pos < extent.length; pos += m_granularity) {
            const uint64_t size = std::min<uint64_t>(m_granularity, extent.length - pos);
            const bool zero = isAllZero(bytes + readPos + (pos - runStart), size);
            if (pos > runStart && zero != runZero) {
                flush(extent.offset + runStart, pos - runStart, runZero);
                runStart = pos;
            }
            runZero = zero;
        }
        flush(extent.offset + runStart, extent.length - runStart, runZero);
    }
    work.extents = std::move(result);
    work.entry.rawLength = static_cast<uint32_t>(writePos);
}

Sha256::Digest ChunkCodec::timedKey(const uint8_t* data, size_t size)
{
    timespec before{};
    timespec after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    const Sha256::Digest key = Sha256::of(data, size);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const int64_t spent = (after.tv_sec - before.tv_sec) * 1000000000LL + (after.tv_nsec - before.tv_nsec);
    g_checksumNanoseconds += static_cast<uint64_t>(std::max<int64_t>(0, spent));
    return key;
}

bool ChunkCodec::pack(ChunkWork& work)
{
    summarize(work);
    return compress(work);
}

void ChunkCodec::summarize(ChunkWork& work)
{
    splitZeroRuns(work);
    ChunkEntry& entry = work.entry;
    entry.sourceOffset = work.extents.front().offset;
    entry.rawChecksum = timedChecksum(work.raw.data(), entry.rawLength);
    entry.compression = ChunkIndex::kStoredPlain;
    entry.storedLength = entry.rawLength;
    entry.storedChecksum = entry.rawChecksum;
}

bool ChunkCodec::compress(ChunkWork& work)
{
    ChunkEntry& entry = work.entry;
    if (entry.rawLength == 0) {
        return true;
    }
    const size_t bound = ZSTD_compressBound(entry.rawLength);
    if (!work.stored.reserve(bound)) {
        work.fail("out of memory");
        return false;
    }
    const size_t packed =
        ZSTD_compressCCtx(m_compressor, work.stored.data(), bound, work.raw.data(), entry.rawLength, m_level);
    // Data that does not shrink is stored as it is: restoring it then costs no decompression.
    if (ZSTD_isError(packed) || packed >= entry.rawLength) {
        return true;
    }
    entry.compression = ChunkIndex::kStoredZstd;
    entry.storedLength = static_cast<uint32_t>(packed);
    entry.storedChecksum = timedChecksum(work.stored.data(), packed);
    return true;
}

bool ChunkCodec::unpack(ChunkWork& work)
{
    const ChunkEntry& entry = work.entry;
    if (!work.isPlain()) {
        const size_t size = ZSTD_decompressDCtx(m_decompressor, work.raw.data(), work.raw.capacity(),
                                                work.stored.data(), entry.storedLength);
        if (ZSTD_isError(size) || size != entry.rawLength) {
            work.fail("chunk " + std::to_string(work.sequence) + " cannot be decompressed");
            return false;
        }
    }
    if (timedChecksum(work.raw.data(), entry.rawLength) != entry.rawChecksum) {
        work.fail("chunk " + std::to_string(work.sequence) + " (source offset " + std::to_string(entry.sourceOffset) +
                  ") has a wrong data checksum");
        return false;
    }
    return true;
}

bool ChunkCodec::check(ChunkWork& work)
{
    const ChunkEntry& entry = work.entry;
    const uint64_t sum = timedChecksum(work.storedBytes(), entry.storedLength);
    // Plain chunks store their data: one checksum answers for both.
    const bool intact = sum == entry.storedChecksum && (!work.isPlain() || sum == entry.rawChecksum);
    if (!intact) {
        const bool inStore = !Sha256::isZero(work.key);
        work.fail("chunk " + std::to_string(work.sequence) +
                  (inStore ? " (store file " + Sha256::hex(work.key) + ")"
                           : " at image offset " + std::to_string(entry.fileOffset)) +
                  " has a wrong checksum");
        return false;
    }
    return work.isPlain() || unpack(work);
}
