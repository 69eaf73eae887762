#include "StoreImages.h"

#include "FileIo.h"
#include "ImageReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace {
bool isImageName(const std::string& name)
{
    const std::string suffix = ".rbk";
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Entries of directory by kind, links left out: a link could lead prune to images of somewhere else.
bool listDirectory(const std::string& directory, std::vector<std::string>& images, std::vector<std::string>* subdirs)
{
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat status
        {
        };
        if (name == "." || name == ".." || ::fstatat(::dirfd(dir), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISREG(status.st_mode) && isImageName(name)) {
            images.push_back(directory + "/" + name);
        } else if (S_ISDIR(status.st_mode) && subdirs) {
            subdirs->push_back(directory + "/" + name);
        }
    }
    ::closedir(dir);
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

bool StoreImages::referencedKeys(const ChunkStore& store, const std::string& skip, KeySet& keys, std::string& error)
{
    struct stat storeStatus
    {
    };
    struct stat skipStatus
    {
    };
    if (::fstat(store.fd(), &storeStatus) != 0) {
        error = "cannot look at the chunk store: " + FileIo::errorText(errno);
        return false;
    }
    const bool skipping = !skip.empty() && ::stat(skip.c_str(), &skipStatus) == 0;
    char resolved[PATH_MAX];
    if (!::realpath(store.path().c_str(), resolved)) {
        error = "cannot resolve the chunk store " + store.path() + ": " + FileIo::errorText(errno);
        return false;
    }
    const std::string parent = FileIo::parentDirectory(resolved);
    std::vector<std::string> images;
    std::vector<std::string> subdirs;
    if (!listDirectory(parent, images, &subdirs)) {
        error = "cannot list " + parent + ": " + FileIo::errorText(errno);
        return false;
    }
    for (const std::string& subdir : subdirs) {
        if (!listDirectory(subdir, images, nullptr)) {
            error = "cannot list " + subdir + ": " + FileIo::errorText(errno);
            return false;
        }
    }
    for (const std::string& path : images) {
        ImageReader image;
        struct stat imageStatus
        {
        };
        if (!image.open(path, false, error)) {
            error = path + " cannot be read (" + error + ")";
            return false;
        }
        if (!image.isStoreImage() ||
            (skipping && ::fstat(image.fd(), &imageStatus) == 0 && sameFile(imageStatus, skipStatus))) {
            continue;
        }
        struct stat usedStatus
        {
        };
        if (::stat(image.storeDirectory().c_str(), &usedStatus) != 0) {
            error = path + " names a chunk store that cannot be found (" + image.storeDirectory() + ")";
            return false;
        }
        if (!sameFile(usedStatus, storeStatus)) {
            continue;
        }
        const ChunkIndex& index = image.index();
        for (size_t i = 0; i < index.chunkCount(); ++i) {
            if (index.chunk(i).rawLength > 0) {
                keys.insert(index.key(i));
            }
        }
    }
    return true;
}
