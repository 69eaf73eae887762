#pragma once

// --write-custom-file and --read-custom-file: a small named file stored in, or taken out of, an existing image.

#include <string>

class CustomFileCommand
{
public:
    // Splits rbk:///abs/path/image.rbk/NAME into the image path and the name.
    static bool parseUrl(const std::string& url, std::string& imagePath, std::string& name);

    static int write(const std::string& url, const std::string& file);
    static int read(const std::string& url, const std::string& file);
};
