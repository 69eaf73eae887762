#include "ImageVerifier.h"

#include "ChunkPipeline.h"

#include <fcntl.h>

bool ImageVerifier::verify(const ImageReader& image, ProgressReporter& progress, std::string& error)
{
    const ChunkIndex& index = image.index();
    ::posix_fadvise(image.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ChunkPipeline::Settings settings;
    settings.workers = ChunkPipeline::defaultWorkerCount();
    settings.rawCapacity = image.header().maxChunkBytes;
    size_t next = 0;
    auto produce = [&](ChunkWork& work) {
        if (next == index.chunkCount()) {
            return ChunkPipeline::Produced::End;
        }
        image.readChunk(next++, work);
        return ChunkPipeline::Produced::Chunk;
    };
    auto transform = [](ChunkCodec& codec, ChunkWork& work) { codec.check(work); };
    auto consume = [&](ChunkWork& work, std::string&) {
        progress.advance(work.entry.storedLength);
        return true;
    };
    if (!ChunkPipeline(settings).run(produce, transform, consume, error)) {
        error = "the image is damaged: " + error;
        return false;
    }
    return true;
}
