#include "ImageVerifier.h"

#include "ChunkPipeline.h"
#include "StorePrefetcher.h"

#include <fcntl.h>

uint64_t ImageVerifier::progressUnits(const ImageReader& image)
{
    return image.isStoreImage() ? image.index().rawBytes() : image.index().storedBytes();
}

bool ImageVerifier::verify(const ImageReader& image, ProgressReporter& progress, std::string& error)
{
    const ChunkIndex& index = image.index();
    if (image.isStoreImage() && !image.store().isOpen()) {
        error = "the chunk store cannot be used: " + image.storeError();
        return false;
    }
    const bool store = image.isStoreImage();
    ::posix_fadvise(image.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ChunkPipeline::Settings settings;
    settings.workers = ChunkPipeline::defaultWorkerCount();
    settings.rawCapacity = image.header().maxChunkBytes;
    size_t next = 0;
    StorePrefetcher prefetcher(image);
    auto produce = [&](ChunkWork& work) {
        if (next == index.chunkCount()) {
            return ChunkPipeline::Produced::End;
        }
        prefetcher.reached(next);
        image.readChunk(next++, work);
        return ChunkPipeline::Produced::Chunk;
    };
    auto transform = [store](ChunkCodec& codec, ChunkWork& work) {
        if (codec.check(work) && store && work.entry.rawLength > 0 &&
            ChunkCodec::timedKey(work.raw.data(), work.entry.rawLength) != work.key) {
            work.fail("chunk " + ChunkStore::relativeName(work.key) + " of the store does not hash to its name");
        }
    };
    auto consume = [&](ChunkWork& work, std::string&) {
        progress.advance(store ? work.entry.rawLength : work.entry.storedLength);
        return true;
    };
    if (!ChunkPipeline(settings).run(produce, transform, consume, error)) {
        error = "the image is damaged: " + error;
        return false;
    }
    return true;
}
