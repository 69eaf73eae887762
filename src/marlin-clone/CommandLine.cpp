#include "CommandLine.h"

#include <vector>

CommandLine CommandLine::parse(int argc, const char* const* argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        line.command = Command::Help;
        return line;
    }
    if (args.size() == 1 && args[0] == "--version") {
        line.command = Command::Version;
        return line;
    }
    struct Form
    {
        const char* option;
        size_t operands;
        Command command;
    };
    const Form forms[] = {
        {"--tui", 2, Command::Clone},
        {"--rbk-info", 1, Command::Info},
        {"--write-custom-file", 2, Command::WriteCustomFile},
        {"--read-custom-file", 2, Command::ReadCustomFile},
    };
    for (const Form& form : forms) {
        if (args.empty() || args[0] != form.option) {
            continue;
        }
        if (args.size() != form.operands + 1) {
            line.error = std::string(form.option) + " takes " + std::to_string(form.operands) + " argument(s)";
            return line;
        }
        line.command = form.command;
        line.first = args[1];
        line.second = form.operands == 2 ? args[2] : std::string();
        return line;
    }
    line.error = args.empty() ? "no command given" : "unknown invocation: " + args[0];
    return line;
}

std::string CommandLine::usage()
{
    return "Usage:\n"
           "  marlin-clone --tui FROM TO       back up a block device into an image file, or restore an image\n"
           "                                   file onto a block device (the block device side decides which)\n"
           "  marlin-clone --rbk-info IMAGE    describe an image as key=value lines\n"
           "  marlin-clone --write-custom-file rbk:///path/IMAGE/NAME FILE   store FILE in the image as NAME\n"
           "  marlin-clone --read-custom-file rbk:///path/IMAGE/NAME FILE    write the image's NAME to FILE\n"
           "  marlin-clone --help | --version\n";
}
