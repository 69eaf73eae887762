#pragma once

// Opens an image and accepts it only when header, trailer, index and custom-file table are complete and intact.
// It reads nothing of the chunk data, so it answers in milliseconds however large the image is.

#include "ChunkIndex.h"
#include "ChunkStore.h"
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
    // Before open: a store image then also opens its chunk store (overrideDir instead of the one the image names,
    // when given), locked shared when asked so that no prune removes a chunk while it is read. A store that cannot
    // be opened does not fail open(); storeError() says why and reading a chunk fails.
    void useStore(const std::string& overrideDir, bool lockShared);
    bool open(const std::string& path, bool writable, std::string& error);

    bool isStoreImage() const { return (m_header.flags & ImageHeader::kFlagStore) != 0; }
    // Where the image's store is: the override, or the image's directory joined with the path it records.
    std::string storeDirectory() const;
    const ChunkStore& store() const { return m_store; }
    const std::string& storeError() const { return m_storeError; }

    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
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
    void openStore();
    void readStoreChunk(ChunkWork& work) const;

    UniqueFd m_fd;
    std::string m_path;
    uint64_t m_fileSize = 0;
    bool m_useStore = false;
    bool m_lockStore = false;
    std::string m_storeOverride;
    ChunkStore m_store;
    std::string m_storeError;
    ImageHeader m_header;
    ImageTrailer m_trailer;
    MappedBuffer m_indexBytes;
    ChunkIndex m_index;
    CustomFileStore m_customFiles;
};
