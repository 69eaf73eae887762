#pragma once

// Whole-buffer positional I/O: the kernel may return short counts or EINTR and callers must never see either.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class FileIo
{
public:
    // Reads exactly size bytes at offset; false on error or early end of file (errno is set, ENODATA for the latter).
    static bool readAt(int fd, void* buffer, size_t size, uint64_t offset);
    static bool writeAt(int fd, const void* buffer, size_t size, uint64_t offset);
    // Writes all bytes to a stream such as stdout; used for lines that must arrive whole.
    static bool writeAll(int fd, const void* buffer, size_t size);
    // Flushes the directory entry of path's parent so a rename survives a power cut.
    static bool syncParentDirectory(const std::string& path);
    static std::string errorText(int error);
    static std::string parentDirectory(const std::string& path);
    static std::string baseName(const std::string& path);
    // The path of target relative to the directory fromDirectory, both resolved first; empty when either cannot be.
    static std::string relativePath(const std::string& fromDirectory, const std::string& target);
    static bool readWholeFile(const std::string& path, std::string& content, size_t maxSize);
};
