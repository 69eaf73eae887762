#include "ChunkStore.h"

#include "FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {
// A batch of new chunks is made durable with one syncfs before any gets its name: far cheaper than an fsync per file.
constexpr uint64_t kMaxPendingBytes = 256ull << 20;
constexpr size_t kMaxPendingFiles = 8192;
constexpr char kMarkerText[] = "marlin-clone chunk store, format 1\n";

// Calls each with every name in the directory fd (which stays open); false when it cannot be read.
bool forEachName(int fd, const std::function<void(const char*)>& each)
{
    const int copy = fd < 0 ? -1 : ::dup(fd);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (dir == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        each(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

bool isEmptyDirectory(int fd)
{
    bool empty = true;
    const bool read = forEachName(
        fd, [&](const char* name) { empty = empty && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0); });
    return read && empty;
}

int openDirectoryAt(int parent, const std::string& name, bool create)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT && create && (::mkdirat(parent, name.c_str(), 0700) == 0 || errno == EEXIST)) {
        fd = ::openat(parent, name.c_str(), flags);
    }
    return fd;
}
} // namespace

std::string ChunkStore::relativeName(const Sha256::Digest& key)
{
    const std::string hex = Sha256::hex(key);
    return hex.substr(0, 2) + "/" + hex;
}

bool ChunkStore::openFanOuts(bool create, std::string& error)
{
    static const char digits[] = "0123456789abcdef";
    m_fanOuts.clear();
    for (size_t i = 0; i < kFanOut; ++i) {
        const std::string name = {digits[i >> 4], digits[i & 15]};
        m_fanOuts.emplace_back(openDirectoryAt(m_dir.get(), name, create));
        // A reader takes a missing directory for missing chunks; a writer needs them all.
        if (create && !m_fanOuts.back().valid()) {
            error = "cannot make " + m_path + "/" + name + ": " + FileIo::errorText(errno);
            return false;
        }
    }
    return true;
}

bool ChunkStore::open(const std::string& dir, bool create, std::string& error)
{
    m_path = dir;
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the chunk store " + dir + ": " + FileIo::errorText(errno);
        return false;
    }
    m_dir.reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_dir.valid()) {
        error = "cannot open the chunk store " + dir + ": " + FileIo::errorText(errno);
        return false;
    }
    if (::faccessat(m_dir.get(), kMarkerName, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
        return openFanOuts(create, error);
    }
    // Only an empty directory becomes a store: prune must never take someone's files for chunks. A backup started
    // at the same moment may have just made the marker, its first entry.
    const bool empty = create && isEmptyDirectory(m_dir.get());
    if (create && !empty && ::faccessat(m_dir.get(), kMarkerName, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
        return openFanOuts(create, error);
    }
    if (!empty) {
        error = dir + " is not a chunk store (no " + kMarkerName + " file)";
        m_dir.reset();
        return false;
    }
    UniqueFd marker(::openat(m_dir.get(), kMarkerName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!marker.valid() && errno == EEXIST) {
        return openFanOuts(create, error);
    }
    if (!marker.valid() || !FileIo::writeAll(marker.get(), kMarkerText, sizeof kMarkerText - 1) ||
        ::fsync(marker.get()) != 0 || ::fsync(m_dir.get()) != 0) {
        error = "cannot set up the chunk store " + dir + ": " + FileIo::errorText(errno);
        m_dir.reset();
        return false;
    }
    return openFanOuts(create, error);
}

bool ChunkStore::lock(bool exclusive, std::string& error)
{
    m_lock.reset(::openat(m_dir.get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_lock.valid()) {
        // A store on read-only media: nothing can prune it either.
        m_lock.reset(::openat(m_dir.get(), kLockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!m_lock.valid() && !exclusive && (errno == ENOENT || errno == EROFS)) {
            return true;
        }
    }
    int result = -1;
    do {
        result = m_lock.valid() ? ::flock(m_lock.get(), exclusive ? LOCK_EX | LOCK_NB : LOCK_SH) : -1;
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error = exclusive && errno == EWOULDBLOCK
                    ? "the chunk store " + m_path + " is in use by a backup or restore"
                    : "cannot lock the chunk store " + m_path + ": " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

int ChunkStore::openChunkFile(const Sha256::Digest& key) const
{
    if (fanOut(key) < 0) {
        errno = ENOENT;
        return -1;
    }
    return ::openat(fanOut(key), Sha256::hex(key).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

int ChunkStore::openChunk(const Sha256::Digest& key, uint32_t rawLength, StoreChunkHeader& header,
                          std::string& error) const
{
    const std::string name = relativeName(key);
    UniqueFd fd(openChunkFile(key));
    if (!fd.valid()) {
        error = "chunk " + name + " is missing from the store (" + FileIo::errorText(errno) + ")";
        return -1;
    }
    struct stat status
    {
    };
    uint8_t bytes[StoreChunkHeader::kSize];
    const bool readable = ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) &&
                          static_cast<uint64_t>(status.st_size) >= StoreChunkHeader::kSize &&
                          FileIo::readAt(fd.get(), bytes, sizeof bytes, 0);
    if (!readable || !header.decode(bytes, sizeof bytes, error)) {
        error = "chunk " + name + " of the store is damaged" + (readable ? " (" + error + ")" : "");
        return -1;
    }
    if (header.key != key || header.rawLength != rawLength ||
        static_cast<uint64_t>(status.st_size) != StoreChunkHeader::kSize + uint64_t{header.storedLength}) {
        error = "chunk " + name + " of the store is damaged (its header or size does not match)";
        return -1;
    }
    return fd.release();
}

bool ChunkStore::listNames(std::string& error)
{
    std::unordered_set<Sha256::Digest, Sha256::DigestHash> named;
    for (size_t i = 0; i < m_fanOuts.size(); ++i) {
        Sha256::Digest key{};
        const bool read = forEachName(m_fanOuts[i].get(), [&](const char* name) {
            // Temporary files, anything else that is no key and a key in the wrong directory are no chunks.
            if (Sha256::fromHex(name, key) && key[0] == i) {
                named.insert(key);
            }
        });
        if (!read) {
            error = "cannot list the chunk store " + m_path + ": " + FileIo::errorText(errno);
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_named = std::move(named);
    m_listed = true;
    return true;
}

bool ChunkStore::has(const Sha256::Digest& key, uint32_t rawLength) const
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_listed) {
            return m_named.count(key) != 0;
        }
    }
    StoreChunkHeader header;
    std::string error;
    return UniqueFd(openChunk(key, rawLength, header, error)).valid();
}

void ChunkStore::prefetch(const Sha256::Digest& key) const
{
    const UniqueFd fd(openChunkFile(key));
    if (fd.valid()) {
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_WILLNEED);
    }
}

uint64_t ChunkStore::fileSize(const Sha256::Digest& key) const
{
    struct stat status
    {
    };
    if (fanOut(key) < 0 || ::fstatat(fanOut(key), Sha256::hex(key).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<uint64_t>(status.st_size);
}

bool ChunkStore::put(const StoreChunkHeader& header, const uint8_t* stored, std::string& error)
{
    const std::string hex = Sha256::hex(header.key);
    std::string temporary;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_pendingKeys.insert(header.key).second) {
            return true;
        }
        temporary = kTemporaryPrefix + hex + "-" + std::to_string(::getpid()) + "-" + std::to_string(m_sequence++);
    }
    UniqueFd fd(
        ::openat(fanOut(header.key), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    uint8_t head[StoreChunkHeader::kSize];
    header.encode(head);
    if (!fd.valid() || !FileIo::writeAt(fd.get(), head, sizeof head, 0) ||
        !FileIo::writeAt(fd.get(), stored, header.storedLength, sizeof head)) {
        error = "cannot write a chunk into the store " + m_path + ": " + FileIo::errorText(errno);
        if (fd.valid()) {
            ::unlinkat(fanOut(header.key), temporary.c_str(), 0);
        }
        return false;
    }
    // Starts writeback now, so the batch's syncfs finds little left to do.
    ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    std::lock_guard<std::mutex> guard(m_mutex);
    m_pending.push_back({header.key, hex.substr(0, 2) + "/" + temporary});
    m_pendingBytes += sizeof head + header.storedLength;
    ++m_chunksAdded;
    m_bytesAdded += sizeof head + header.storedLength;
    if (m_pendingBytes >= kMaxPendingBytes || m_pending.size() >= kMaxPendingFiles) {
        return flushLocked(error);
    }
    return true;
}

bool ChunkStore::flush(std::string& error)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return flushLocked(error);
}

bool ChunkStore::flushLocked(std::string& error)
{
    if (m_pending.empty()) {
        return true;
    }
    if (::syncfs(m_dir.get()) != 0) {
        error = "cannot sync the chunk store " + m_path + ": " + FileIo::errorText(errno);
        return false;
    }
    for (const Pending& chunk : m_pending) {
        if (::renameat(m_dir.get(), chunk.temporary.c_str(), m_dir.get(), relativeName(chunk.key).c_str()) != 0) {
            error = "cannot name a chunk in the store " + m_path + ": " + FileIo::errorText(errno);
            return false;
        }
        if (m_listed) {
            m_named.insert(chunk.key);
        }
    }
    m_pending.clear();
    m_pendingKeys.clear();
    m_pendingBytes = 0;
    if (::syncfs(m_dir.get()) != 0) {
        error = "cannot sync the chunk store " + m_path + ": " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

void ChunkStore::discardPending()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const Pending& chunk : m_pending) {
        ::unlinkat(m_dir.get(), chunk.temporary.c_str(), 0);
    }
    m_pending.clear();
    m_pendingKeys.clear();
    m_pendingBytes = 0;
}
