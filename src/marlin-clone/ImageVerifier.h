#pragma once

// Checks every chunk of an image the way a restore will use it, so a damaged image is refused before a restore writes
// its first byte: the stored bytes against their checksum, then decompressed and compared with the data checksum.
// Chunks are read in order and checked on every core, so the pass costs little more than reading the file. A store
// image's chunks are read from the store, and their bytes must also hash to their keys.

#include "ImageReader.h"
#include "ProgressReporter.h"

#include <string>

class ImageVerifier
{
public:
    static bool verify(const ImageReader& image, ProgressReporter& progress, std::string& error);
    // The progress the pass reports in all: the bytes it reads.
    static uint64_t progressUnits(const ImageReader& image);
};
