#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {
bool parseBytes(const std::string& text, uint64_t& bytes)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || value == 0) {
        return false;
    }
    bytes = value;
    return true;
}
} // namespace

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
        {"--verify", 1, Command::Verify},
        {"--prune", 1, Command::Prune},
        {"--write-custom-file", 2, Command::WriteCustomFile},
        {"--read-custom-file", 2, Command::ReadCustomFile},
        {"--mount", 2, Command::Mount},
        {"--unmount", 1, Command::Unmount},
    };
    for (const Form& form : forms) {
        if (args.empty() || args[0] != form.option) {
            continue;
        }
        if (form.command == Command::Clone || form.command == Command::Verify ||
            form.command == Command::VerifyRestore || form.command == Command::Mount) {
            return parseWithOptions(args, form.command, form.operands);
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

CommandLine CommandLine::parseWithOptions(const std::vector<std::string>& args, Command command, size_t count)
{
    CommandLine line;
    std::vector<std::string> operands;
    const bool clone = command == Command::Clone;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--store" && i + 1 < args.size() && !args[i + 1].empty()) {
            line.options.storeDir = args[++i];
        } else if (clone && args[i] == "--allow-mounted") {
            line.options.allowMounted = true;
        } else if (clone && args[i] == "--rescue") {
            line.options.rescue = true;
        } else if (args[i] == "--fit" && i + 1 < args.size() && (clone || command == Command::VerifyRestore)) {
            if (!parseBytes(args[++i], line.options.fitBytes)) {
                line.error = "--fit takes a positive number of bytes: " + args[i];
                return line;
            }
        } else if (args[i].compare(0, 2, "--") == 0) {
            line.error = "unknown option for " + args[0] + ": " + args[i];
            return line;
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() != count) {
        line.error = args[0] + " takes " + std::to_string(count) + " argument(s)";
        return line;
    }
    line.command = command;
    line.first = operands[0];
    line.second = count == 2 ? operands[1] : std::string();
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
           "    --fit BYTES       restore of a whole-disk image: the target may be smaller than the disk the image\n"
           "                      was made of, down to BYTES (the caller's word that only free space and the\n"
           "                      partition table's backup lie past it); nothing past the target's end is written.\n"
           "    --store DIR       backup: keep the chunks in the chunk store DIR (made when missing), shared by\n"
           "                      every image made into it: only chunks it lacks are compressed and written.\n"
           "                      Restore: read the image's chunks from DIR instead of the store it names.\n"
           "                  Exit status: 0 done, 1 failed or refused, 2 usage error, 3 backup done with\n"
           "                  unreadable ranges (--rescue).\n"
           "  marlin-clone --rbk-info IMAGE\n"
           "                  describe an image as key=value lines, values %-escaped (%, =, space, control\n"
           "                  characters); exit status 0 exactly when the image is valid, otherwise 1 and\n"
           "                  \"invalid file\"\n"
           "  marlin-clone --verify-restore [--store DIR] [--fit BYTES] IMAGE DEVICE\n"
           "                  everything a restore of IMAGE onto DEVICE checks before writing (every chunk, the\n"
           "                  device's size, that nothing uses it), and nothing written. Exit status: 0 the\n"
           "                  restore could start, 1 the image is invalid or damaged, 4 the device is refused.\n"
           "  marlin-clone --verify [--store DIR] IMAGE\n"
           "                  check every chunk IMAGE uses (a store image's in its store) as a restore would,\n"
           "                  without restoring. Exit status: 0 intact, 1 invalid, damaged or chunks missing.\n"
           "  marlin-clone --prune DIR\n"
           "                  remove the chunks of store DIR that no image references (the *.rbk files in the\n"
           "                  store's parent directory and its subdirectories). Refused while a backup or\n"
           "                  restore uses the store or when an image cannot be read. Exit status 0 or 1.\n"
           "  marlin-clone --mount [--store DIR] IMAGE DIR\n"
           "                  show the file system of IMAGE (ext2/3/4, xfs or btrfs) read-only at DIR, an empty\n"
           "                  directory, without replaying its journal. Every chunk is checked as it is first read;\n"
           "                  reads of a damaged one fail with an I/O error. A daemon in its own session serves the\n"
           "                  image until --unmount; a store image finds its store as a restore does. Exit status 0\n"
           "                  once DIR shows the file system, otherwise 1 and nothing left mounted or running.\n"
           "  marlin-clone --unmount DIR\n"
           "                  end a --mount: the file system, its loop device and the daemon go. Exit status 0 or 1.\n"
           "  marlin-clone --write-custom-file rbk:///path/IMAGE/NAME FILE   store FILE in the image as NAME\n"
           "  marlin-clone --read-custom-file rbk:///path/IMAGE/NAME FILE    write the image's NAME to FILE\n"
           "  marlin-clone --help | --version\n";
}
