#pragma once

// Messages for the person or program running the tool: errors and warnings on standard error, one line each.

#include <string>

class Console
{
public:
    static void error(const std::string& message);
    static void warning(const std::string& message);
    static void info(const std::string& message);
    // Standard output, written in one piece (callers parse it).
    static void out(const std::string& text);
};
