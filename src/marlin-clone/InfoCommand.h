#pragma once

// --rbk-info: the image's description as key=value lines and exit status 0, or exactly "invalid file" on both output
// streams and exit status 1. The exit status is the verdict.

#include <string>

class InfoCommand
{
public:
    static int run(const std::string& imagePath);
    // Escapes '%', '=', spaces and control characters as %XX, so that no value can forge a key (callers look for
    // "UUID=") or a line that reads like the verdict.
    static std::string escapeValue(const std::string& value);
};
