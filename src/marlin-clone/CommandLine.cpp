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
        {"--verify-restore", 2, Command::VerifyRestore},
        {"--write-custom-file", 2, Command::WriteCustomFile},
        {"--read-custom-file", 2, Command::ReadCustomFile},
    };
    for (const Form& form : forms) {
        if (args.empty() || args[0] != form.option) {
            continue;
        }
        if (form.command == Command::Clone) {
            return parseClone(args);
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

CommandLine CommandLine::parseClone(const std::vector<std::string>& args)
{
    CommandLine line;
    std::vector<std::string> operands;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--allow-mounted") {
            line.options.allowMounted = true;
        } else if (args[i] == "--rescue") {
            line.options.rescue = true;
        } else if (args[i].compare(0, 2, "--") == 0) {
            line.error = "unknown option for --tui: " + args[i];
            return line;
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() != 2) {
        line.error = "--tui takes 2 argument(s)";
        return line;
    }
    line.command = Command::Clone;
    line.first = operands[0];
    line.second = operands[1];
    return line;
}

std::string CommandLine::usage()
{
    return "Usage:\n"
           "  marlin-clone --tui [OPTIONS] FROM TO\n"
           "                  back up a block device into an image file, or restore an image file onto a block\n"
           "                  device (the block device side decides which). Backups copy the used blocks of ext2/3/4,\n"
           "                  xfs and btrfs, anything else whole. Progress lines on standard output end with the\n"
           "                  percentage done.\n"
           "    --allow-mounted   back up a source that is mounted read-write (the copy may be inconsistent);\n"
           "                      without it such a source is refused. Read-only mounts are always fine.\n"
           "    --rescue          for a failing source disk: a read error is retried once in small reads, and\n"
           "                      what stays unreadable is recorded in the image (zeros on restore) instead of\n"
           "                      failing the backup. Exit status 3 then tells such an image from a clean one.\n"
           "                  Exit status: 0 done, 1 failed or refused, 2 usage error, 3 backup done with\n"
           "                  unreadable ranges (--rescue).\n"
           "  marlin-clone --rbk-info IMAGE\n"
           "                  describe an image as key=value lines, values %-escaped (%, =, space, control\n"
           "                  characters); exit status 0 exactly when the image is valid, otherwise 1 and\n"
           "                  \"invalid file\"\n"
           "  marlin-clone --verify-restore IMAGE DEVICE\n"
           "                  everything a restore of IMAGE onto DEVICE checks before writing (every chunk, the\n"
           "                  device's size, that nothing uses it), and nothing written. Exit status: 0 the\n"
           "                  restore could start, 1 the image is invalid or damaged, 4 the device is refused.\n"
           "  marlin-clone --write-custom-file rbk:///path/IMAGE/NAME FILE   store FILE in the image as NAME\n"
           "  marlin-clone --read-custom-file rbk:///path/IMAGE/NAME FILE    write the image's NAME to FILE\n"
           "  marlin-clone --help | --version\n";
}
