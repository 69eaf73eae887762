#pragma once

// Opens an image and accepts it only when header, trailer, index and custom-file table are complete and intact.
// It reads nothing of the chunk data, so it answers in milliseconds however large the image is.

#include "ChunkIndex.h"
#include "ChunkWork.h"
#include "CustomFileStore.h"
#include "ImageHeader.h"
#include "ImageTrailer.h"
#include "MappedBuffer.h"
#include "UniqueFd.h"

#include <cstdint>
#include <string>

class ImageReader
{
public:
    bool open(const std::string& path, bool writable, std::string& error);

    int fd() const { return m_fd.get(); }
    uint64_t fileSize() const { return m_fileSize; }
    const ImageHeader& header() const { return m_header; }
    const ImageTrailer& trailer() const { return m_trailer; }
    const ChunkIndex& index() const { return m_index; }
    // Sets work.entry to the given chunk and reads its stored bytes; failures are recorded with work.fail.
    void readChunk(size_t chunk, ChunkWork& work) const;
    CustomFileStore& customFiles() { return m_customFiles; }
    const CustomFileStore& customFiles() const { return m_customFiles; }

private:
    bool readHeaderAndTrailer(std::string& error);
    bool readIndex(std::string& error);

    UniqueFd m_fd;
    uint64_t m_fileSize = 0;
    ImageHeader m_header;
    ImageTrailer m_trailer;
    MappedBuffer m_indexBytes;
    ChunkIndex m_index;
    CustomFileStore m_customFiles;
};
