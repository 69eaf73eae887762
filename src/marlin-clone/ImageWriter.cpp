#include "ImageWriter.h"

#include "Checksum.h"
#include "CustomFileStore.h"
#include "FileIo.h"
#include "ImageTrailer.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// Start writing back every few MiB and keep at most this much unwritten, so the final fsync is short and the
// progress shown is close to what is really on disk.
constexpr uint64_t kWritebackStep = 16ull << 20;
constexpr uint64_t kMaxDirtyBytes = 256ull << 20;

char g_cleanupPath[PATH_MAX];

extern "C" void removePartialAndDie(int signalNumber)
{
    if (g_cleanupPath[0] != '\0') {
        ::unlink(g_cleanupPath);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}
} // namespace

ImageWriter::~ImageWriter()
{
    if (!m_committed) {
        discard();
    }
}

std::string ImageWriter::partialPrefix(const std::string& finalPath)
{
    return "." + FileIo::baseName(finalPath) + ".partial-";
}

bool ImageWriter::create(const std::string& finalPath, const ImageHeader& header, std::string& error)
{
    removeStalePartials(finalPath);
    m_finalPath = finalPath;
    std::string pattern = FileIo::parentDirectory(finalPath) + "/" + partialPrefix(finalPath) + "XXXXXX";
    m_fd.reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!m_fd.valid()) {
        error = "cannot create a file beside " + finalPath + ": " + FileIo::errorText(errno);
        return false;
    }
    m_tempPath = pattern;
    installSignalCleanup(m_tempPath);
    // Tells a later backup that this partial file still has a living writer.
    ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
    m_header = header;
    const std::vector<uint8_t> bytes = m_header.encode();
    if (!FileIo::writeAt(m_fd.get(), bytes.data(), bytes.size(), 0)) {
        error = "cannot write " + m_tempPath + ": " + FileIo::errorText(errno);
        return false;
    }
    m_offset = header.dataOffset;
    m_writebackStarted = m_writebackWaited = m_offset;
    return CustomFileStore::writeInitial(m_fd.get(), m_header, error);
}

bool ImageWriter::append(ChunkEntry entry, const std::vector<Extent>& extents, const uint8_t* stored,
                         std::string& error)
{
    if (!FileIo::writeAt(m_fd.get(), stored, entry.storedLength, m_offset)) {
        error = "cannot write the image: " + FileIo::errorText(errno);
        return false;
    }
    entry.fileOffset = m_offset;
    m_index.add(entry, extents);
    m_offset += entry.storedLength;
    pushWriteback();
    return true;
}

void ImageWriter::appendReference(ChunkEntry entry, const std::vector<Extent>& extents, const Sha256::Digest& key)
{
    entry.fileOffset = 0;
    entry.storedLength = 0;
    entry.storedChecksum = 0;
    entry.compression = ChunkIndex::kStoredInStore;
    m_index.add(entry, extents, key);
}

void ImageWriter::pushWriteback()
{
    if (m_offset - m_writebackStarted >= kWritebackStep) {
        ::sync_file_range(m_fd.get(), static_cast<off_t>(m_writebackStarted),
                          static_cast<off_t>(m_offset - m_writebackStarted), SYNC_FILE_RANGE_WRITE);
        m_writebackStarted = m_offset;
    }
    if (m_writebackStarted - m_writebackWaited > kMaxDirtyBytes) {
        const uint64_t upTo = m_writebackStarted - kMaxDirtyBytes / 2;
        ::sync_file_range(m_fd.get(), static_cast<off_t>(m_writebackWaited),
                          static_cast<off_t>(upTo - m_writebackWaited),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        m_writebackWaited = upTo;
    }
}

void ImageWriter::setUnreadable(const std::vector<Extent>& ranges)
{
    m_index.setUnreadable(ranges);
    if (!ranges.empty()) {
        m_header.flags |= ImageHeader::kFlagUnreadable;
    }
}

bool ImageWriter::commit(std::string& error)
{
    // The flags may have changed since create(); the trailer ties the index to this header's checksum.
    const std::vector<uint8_t> header = m_header.encode();
    if (!FileIo::writeAt(m_fd.get(), header.data(), header.size(), 0)) {
        error = "cannot write " + m_tempPath + ": " + FileIo::errorText(errno);
        return false;
    }
    const std::vector<uint8_t> index = m_index.encode();
    ImageTrailer trailer;
    trailer.formatVersion = m_header.formatVersion;
    trailer.indexOffset = m_offset;
    trailer.indexLength = index.size();
    trailer.indexChecksum = Checksum::of(index.data(), index.size());
    trailer.headerChecksum = m_header.checksum();
    trailer.chunkCount = m_index.chunkCount();
    const std::vector<uint8_t> tail = trailer.encode();
    const bool written = FileIo::writeAt(m_fd.get(), index.data(), index.size(), m_offset) &&
                         FileIo::writeAt(m_fd.get(), tail.data(), tail.size(), m_offset + index.size());
    if (!written || ::fsync(m_fd.get()) != 0) {
        error = "cannot finish the image: " + FileIo::errorText(errno);
        return false;
    }
    if (::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
        error = "cannot rename the image into place: " + FileIo::errorText(errno);
        return false;
    }
    m_committed = true;
    clearSignalCleanup();
    m_fd.reset();
    if (!FileIo::syncParentDirectory(m_finalPath)) {
        error = "cannot sync the directory of " + m_finalPath + ": " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

void ImageWriter::discard()
{
    if (m_tempPath.empty()) {
        return;
    }
    ::unlink(m_tempPath.c_str());
    clearSignalCleanup();
    m_fd.reset();
    m_tempPath.clear();
}

void ImageWriter::removeStalePartials(const std::string& finalPath)
{
    const std::string directory = FileIo::parentDirectory(finalPath);
    const std::string prefix = partialPrefix(finalPath);
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) {
            continue;
        }
        const std::string path = directory + "/" + entry->d_name;
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

void ImageWriter::installSignalCleanup(const std::string& path)
{
    if (path.size() >= sizeof g_cleanupPath) {
        return;
    }
    std::memcpy(g_cleanupPath, path.c_str(), path.size() + 1);
    struct sigaction action
    {
    };
    action.sa_handler = removePartialAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

void ImageWriter::clearSignalCleanup()
{
    g_cleanupPath[0] = '\0';
}
