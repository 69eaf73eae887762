#pragma once

// Reads every stored chunk of an image once and compares it with the checksum in the index, so a damaged image is
// refused before a restore writes its first byte. No decompression: the pass costs little more than reading the file.

#include "ImageReader.h"
#include "ProgressReporter.h"

#include <string>

class ImageVerifier
{
public:
    static bool verify(const ImageReader& image, ProgressReporter& progress, std::string& error);
};
