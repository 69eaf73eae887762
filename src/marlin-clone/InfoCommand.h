#pragma once

// --rbk-info: the image's description as key=value lines, or exactly "invalid file" on both output streams.

#include <string>

class InfoCommand
{
public:
    static int run(const std::string& imagePath);
    // Escapes '%', '=' and control characters, so that no value can forge a key (callers look for "UUID=").
    static std::string escapeValue(const std::string& value);
};
