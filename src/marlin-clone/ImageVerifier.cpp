#include "ImageVerifier.h"

#include "AlignedBuffer.h"
#include "Checksum.h"
#include "FileIo.h"

#include <fcntl.h>

#include <cerrno>

bool ImageVerifier::verify(const ImageReader& image, ProgressReporter& progress, std::string& error)
{
    const ChunkIndex& index = image.index();
    ::posix_fadvise(image.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    AlignedBuffer buffer;
    for (size_t i = 0; i < index.chunkCount(); ++i) {
        const ChunkEntry chunk = index.chunk(i);
        if (!buffer.reserve(chunk.storedLength)) {
            error = "out of memory";
            return false;
        }
        if (!FileIo::readAt(image.fd(), buffer.data(), chunk.storedLength, chunk.fileOffset)) {
            error = "cannot read chunk " + std::to_string(i) + " of the image: " + FileIo::errorText(errno);
            return false;
        }
        if (Checksum::of(buffer.data(), chunk.storedLength) != chunk.storedChecksum) {
            error = "the image is damaged: chunk " + std::to_string(i) + " at image offset " +
                    std::to_string(chunk.fileOffset) + " has a wrong checksum";
            return false;
        }
        progress.advance(chunk.storedLength);
    }
    return true;
}
