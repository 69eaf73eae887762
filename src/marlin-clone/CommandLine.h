#pragma once

// The tool's few exact invocations, --tui with its options; anything else is a usage error.

#include "CloneOptions.h"

#include <string>
#include <vector>

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
        VerifyRestore,
        Verify,
        Prune,
        WriteCustomFile,
        ReadCustomFile,
        Mount,
        Unmount,
    };

    static CommandLine parse(int argc, const char* const* argv);
    static std::string usage();

    Command command = Command::Invalid;
    std::string first;
    std::string second;
    std::string error;
    CloneOptions options;

private:
    // --tui, --verify and --mount: options, then the given number of operands.
    static CommandLine parseWithOptions(const std::vector<std::string>& args, Command command, size_t operands);
};
