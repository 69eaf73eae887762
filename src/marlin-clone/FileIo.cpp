#include "FileIo.h"

#include "UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

bool FileIo::readAt(int fd, void* buffer, size_t size, uint64_t offset)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t done = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return false;
        }
        if (done == 0) {
            errno = ENODATA;
            return false;
        }
        bytes += done;
        size -= static_cast<size_t>(done);
        offset += static_cast<uint64_t>(done);
    }
    return true;
}

bool FileIo::writeAt(int fd, const void* buffer, size_t size, uint64_t offset)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t done = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            if (done == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes += done;
        size -= static_cast<size_t>(done);
        offset += static_cast<uint64_t>(done);
    }
    return true;
}

bool FileIo::writeAll(int fd, const void* buffer, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool FileIo::syncParentDirectory(const std::string& path)
{
    UniqueFd dir(::open(parentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        return false;
    }
    return ::fsync(dir.get()) == 0;
}

std::string FileIo::errorText(int error)
{
    return std::strerror(error);
}

std::string FileIo::parentDirectory(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string FileIo::baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileIo::readWholeFile(const std::string& path, std::string& content, size_t maxSize)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    content.clear();
    char buffer[65536];
    while (true) {
        const ssize_t done = ::read(fd.get(), buffer, sizeof buffer);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return false;
        }
        if (done == 0) {
            return true;
        }
        if (content.size() + static_cast<size_t>(done) > maxSize) {
            errno = EFBIG;
            return false;
        }
        content.append(buffer, static_cast<size_t>(done));
    }
}

std::string FileIo::relativePath(const std::string& fromDirectory, const std::string& target)
{
    char from[PATH_MAX];
    char to[PATH_MAX];
    if (!::realpath(fromDirectory.c_str(), from) || !::realpath(target.c_str(), to)) {
        return std::string();
    }
    auto split = [](const std::string& path) {
        std::vector<std::string> parts;
        size_t start = 1;
        while (start < path.size()) {
            const size_t end = std::min(path.find('/', start), path.size());
            parts.push_back(path.substr(start, end - start));
            start = end + 1;
        }
        return parts;
    };
    const std::vector<std::string> fromParts = split(from);
    const std::vector<std::string> toParts = split(to);
    size_t common = 0;
    while (common < fromParts.size() && common < toParts.size() && fromParts[common] == toParts[common]) {
        ++common;
    }
    std::string result;
    for (size_t i = common; i < fromParts.size(); ++i) {
        result += (result.empty() ? "" : "/") + std::string("..");
    }
    for (size_t i = common; i < toParts.size(); ++i) {
        result += (result.empty() ? "" : "/") + toParts[i];
    }
    return result.empty() ? "." : result;
}
