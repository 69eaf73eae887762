#pragma once

// Writes a new image under a temporary name beside the target and renames it into place only once it is complete and
// on disk, so an interrupted backup never leaves a file that passes as an image and never harms an older one.

#include "ChunkIndex.h"
#include "ImageHeader.h"
#include "UniqueFd.h"

#include <cstdint>
#include <string>
#include <vector>

class ImageWriter
{
public:
    ImageWriter() = default;
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    // Removes partial files that dead backups left for the same target, then starts the temporary file.
    bool create(const std::string& finalPath, const ImageHeader& header, std::string& error);
    // Appends one chunk's stored bytes; entry.fileOffset is filled in here.
    bool append(ChunkEntry entry, const std::vector<Extent>& extents, const uint8_t* stored, std::string& error);
    // A store image's chunk: only its reference goes into the index; its bytes are the store's.
    void appendReference(ChunkEntry entry, const std::vector<Extent>& extents, const Sha256::Digest& key);
    // Records the source ranges that could not be read (rescue mode); the header then carries the flag for them.
    void setUnreadable(const std::vector<Extent>& ranges);
    // Index, trailer, fsync, rename over the target, fsync of the directory.
    bool commit(std::string& error);
    // Drops the temporary file (also done by the destructor and by a termination signal).
    void discard();

    const std::string& temporaryPath() const { return m_tempPath; }
    uint64_t bytesWritten() const { return m_offset; }

    static std::string partialPrefix(const std::string& finalPath);

private:
    static void removeStalePartials(const std::string& finalPath);
    static void installSignalCleanup(const std::string& path);
    static void clearSignalCleanup();
    void pushWriteback();

    UniqueFd m_fd;
    std::string m_finalPath;
    std::string m_tempPath;
    ImageHeader m_header;
    ChunkIndex m_index;
    uint64_t m_offset = 0;
    uint64_t m_writebackStarted = 0;
    uint64_t m_writebackWaited = 0;
    bool m_committed = false;
};
