#pragma once

// The tool's few exact invocations; anything else is a usage error.

#include <string>

class CommandLine
{
public:
    enum class Command
    {
        Invalid,
        Help,
        Version,
        Clone,
        Info,
        WriteCustomFile,
        ReadCustomFile,
    };

    static CommandLine parse(int argc, const char* const* argv);
    static std::string usage();

    Command command = Command::Invalid;
    std::string first;
    std::string second;
    std::string error;
};
