#include "PruneCommand.h"

#include "ChunkStore.h"
#include "Console.h"
#include "FileIo.h"
#include "StoreImages.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {
struct Tally
{
    uint64_t removed = 0;
    uint64_t removedBytes = 0;
    uint64_t kept = 0;
    uint64_t temporaries = 0;
};

bool isFanOutName(const char* name)
{
    return std::strlen(name) == 2 && std::isxdigit(static_cast<unsigned char>(name[0])) &&
           std::isxdigit(static_cast<unsigned char>(name[1]));
}

// Calls visit for every entry of the directory name below parent that is a real directory or file, links left out.
bool eachEntry(int parent, const std::string& name,
               const std::function<void(int, const char*, const struct stat&)>& visit)
{
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat status
        {
        };
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
            ::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            visit(::dirfd(dir), entry->d_name, status);
        }
    }
    ::closedir(dir);
    return true;
}

void pruneFile(int dir, const char* name, const struct stat& status, const StoreImages::KeySet& used, Tally& tally)
{
    if (!S_ISREG(status.st_mode)) {
        return;
    }
    // Nothing writes into the store while prune holds its lock: every temporary file is left by a dead backup.
    if (std::strncmp(name, ChunkStore::kTemporaryPrefix, std::strlen(ChunkStore::kTemporaryPrefix)) == 0) {
        tally.temporaries += ::unlinkat(dir, name, 0) == 0 ? 1 : 0;
        return;
    }
    Sha256::Digest key{};
    if (!Sha256::fromHex(name, key)) {
        return;
    }
    if (used.count(key) != 0) {
        ++tally.kept;
    } else if (::unlinkat(dir, name, 0) == 0) {
        ++tally.removed;
        tally.removedBytes += static_cast<uint64_t>(status.st_size);
    }
}
} // namespace

int PruneCommand::run(const std::string& storeDir)
{
    ChunkStore store;
    std::string error;
    StoreImages::KeySet used;
    if (!store.open(storeDir, false, error) || !store.lock(true, error) ||
        !StoreImages::referencedKeys(store, std::string(), used, error)) {
        Console::error("refusing to prune: " + error + "; nothing was removed");
        return 1;
    }
    Tally tally;
    eachEntry(store.fd(), ".", [&](int top, const char* fanOut, const struct stat& fanOutStatus) {
        if (S_ISDIR(fanOutStatus.st_mode) && isFanOutName(fanOut)) {
            eachEntry(top, fanOut, [&](int dir, const char* name, const struct stat& status) {
                pruneFile(dir, name, status, used, tally);
            });
        }
    });
    if (::syncfs(store.fd()) != 0) {
        Console::error("cannot sync the chunk store " + storeDir + ": " + FileIo::errorText(errno));
        return 1;
    }
    Console::info("pruned " + storeDir + ": " + std::to_string(tally.removed) + " chunks removed (" +
                  std::to_string(tally.removedBytes) + " bytes), " + std::to_string(tally.kept) + " kept, " +
                  std::to_string(tally.temporaries) + " temporary files removed");
    return 0;
}
