#include "ImageReader.h"

#include "Checksum.h"
#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace {
// Far above any real index (a terabyte source in 8 MiB chunks needs about 10 MiB) yet a bound on what we allocate.
constexpr uint64_t kMaxIndexLength = 1ull << 30;
} // namespace

void ImageReader::useStore(const std::string& overrideDir, bool lockShared)
{
    m_useStore = true;
    m_storeOverride = overrideDir;
    m_lockStore = lockShared;
}

std::string ImageReader::storeDirectory() const
{
    if (!m_storeOverride.empty() || m_header.storePath.empty() || m_header.storePath[0] == '/') {
        return m_storeOverride.empty() ? m_header.storePath : m_storeOverride;
    }
    return FileIo::parentDirectory(m_path) + "/" + m_header.storePath;
}

void ImageReader::openStore()
{
    std::string error;
    if (!m_store.open(storeDirectory(), false, error) || (m_lockStore && !m_store.lock(false, error))) {
        m_storeError = error;
    }
}

bool ImageReader::open(const std::string& path, bool writable, std::string& error)
{
    m_path = path;
    // Non-blocking until it is known to be a regular file: opening a FIFO would otherwise wait for a writer.
    m_fd.reset(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!m_fd.valid()) {
        error = "cannot open " + path + ": " + FileIo::errorText(errno);
        return false;
    }
    struct stat status
    {
    };
    if (::fstat(m_fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
    m_fileSize = static_cast<uint64_t>(status.st_size);
    if (!readHeaderAndTrailer(error) || !readIndex(error) || !m_customFiles.load(m_fd.get(), m_header, error)) {
        return false;
    }
    if (m_useStore && isStoreImage()) {
        openStore();
    }
    return true;
}

bool ImageReader::readHeaderAndTrailer(std::string& error)
{
    if (m_fileSize < ImageHeader::kSize + ImageTrailer::kSize) {
        error = "file too short to be an image";
        return false;
    }
    std::vector<uint8_t> header(ImageHeader::kSize);
    if (!FileIo::readAt(m_fd.get(), header.data(), header.size(), 0) ||
        !m_header.decode(header.data(), header.size(), error)) {
        error = error.empty() ? "cannot read the header" : error;
        return false;
    }
    std::vector<uint8_t> trailer(ImageTrailer::kSize);
    if (!FileIo::readAt(m_fd.get(), trailer.data(), trailer.size(), m_fileSize - ImageTrailer::kSize) ||
        !m_trailer.decode(trailer.data(), trailer.size(), error)) {
        error = error.empty() ? "cannot read the trailer" : error;
        return false;
    }
    if (m_trailer.headerChecksum != m_header.checksum() || m_trailer.formatVersion != m_header.formatVersion) {
        error = "header and trailer do not belong together";
        return false;
    }
    // Compared without adding the untrusted numbers, so no sum can wrap around to the file size.
    const uint64_t indexEnd = m_fileSize - ImageTrailer::kSize;
    const bool indexFits = m_trailer.indexOffset >= m_header.dataOffset && m_trailer.indexOffset <= indexEnd &&
                           m_trailer.indexLength == indexEnd - m_trailer.indexOffset &&
                           m_trailer.indexLength <= kMaxIndexLength;
    if (!indexFits) {
        error = "index position does not match the file size (truncated or extended file)";
        return false;
    }
    return true;
}

bool ImageReader::readIndex(std::string& error)
{
    const size_t length = m_trailer.indexLength;
    if (!m_indexBytes.allocate(length)) {
        error = "out of memory for the index";
        return false;
    }
    if (!FileIo::readAt(m_fd.get(), m_indexBytes.data(), length, m_trailer.indexOffset)) {
        error = "cannot read the index: " + FileIo::errorText(errno);
        return false;
    }
    if (Checksum::of(m_indexBytes.data(), length) != m_trailer.indexChecksum) {
        error = "index checksum mismatch";
        return false;
    }
    const bool withUnreadable = (m_header.flags & ImageHeader::kFlagUnreadable) != 0;
    if (!m_index.attach(m_indexBytes.data(), length, error, withUnreadable, isStoreImage())) {
        return false;
    }
    if (m_index.chunkCount() != m_trailer.chunkCount) {
        error = "chunk count differs between index and trailer";
        return false;
    }
    return m_index.validate(m_header, m_trailer.indexOffset, error);
}

void ImageReader::readChunk(size_t chunk, ChunkWork& work) const
{
    work.entry = m_index.chunk(chunk);
    if (isStoreImage()) {
        work.key = m_index.key(chunk);
        readStoreChunk(work);
    } else if (!work.isPlain() && !work.stored.reserve(work.entry.storedLength)) {
        work.fail("out of memory");
    } else if (!FileIo::readAt(m_fd.get(), work.storedTarget(), work.entry.storedLength, work.entry.fileOffset)) {
        work.fail("cannot read chunk " + std::to_string(chunk) + " of the image: " + FileIo::errorText(errno));
    }
}

void ImageReader::readStoreChunk(ChunkWork& work) const
{
    // From here on the chunk is handled as if its bytes were in the image: the store file's header says how they
    // are stored, the index keeps the checksum of what they must decompress to.
    ChunkEntry& entry = work.entry;
    entry.compression = ChunkIndex::kStoredPlain;
    entry.storedLength = 0;
    entry.storedChecksum = entry.rawChecksum;
    if (entry.rawLength == 0) {
        return;
    }
    if (!m_store.isOpen()) {
        work.fail("the chunk store cannot be used: " + m_storeError);
        return;
    }
    std::string error;
    StoreChunkHeader header;
    UniqueFd fd(m_store.openChunk(work.key, entry.rawLength, header, error));
    if (!fd.valid()) {
        work.fail(error);
        return;
    }
    entry.compression = header.compression;
    entry.storedLength = header.storedLength;
    entry.storedChecksum = header.storedChecksum;
    if (!work.isPlain() && !work.stored.reserve(entry.storedLength)) {
        work.fail("out of memory");
    } else if (!FileIo::readAt(fd.get(), work.storedTarget(), entry.storedLength, StoreChunkHeader::kSize)) {
        work.fail("cannot read chunk " + ChunkStore::relativeName(work.key) +
                  " of the store: " + FileIo::errorText(errno));
    }
}
