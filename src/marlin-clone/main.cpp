// marlin-clone: backs up partitions into images holding only their used blocks and restores them, for the recovery
// service. See FORMAT.md for the image layout.

#include "CloneCommand.h"
#include "CommandLine.h"
#include "Console.h"
#include "CustomFileCommand.h"
#include "ImageHeader.h"
#include "InfoCommand.h"
#include "MountCommand.h"
#include "PruneCommand.h"
#include "RestoreJob.h"
#include "VerifyCommand.h"
#include "marlin-version.h"

#include <signal.h>

int main(int argc, char** argv)
{
    // The caller may stop reading our progress; that must not kill a restore half-way.
    ::signal(SIGPIPE, SIG_IGN);
    const CommandLine line = CommandLine::parse(argc, argv);
    switch (line.command) {
    case CommandLine::Command::Help:
        Console::out(CommandLine::usage());
        return 0;
    case CommandLine::Command::Version:
        Console::out("marlin-clone " MARLIN_VERSION " (image format " + std::to_string(ImageHeader::kFormatVersion) +
                     ", " + std::to_string(ImageHeader::kStoreFormatVersion) + " with a chunk store)\n");
        return 0;
    case CommandLine::Command::Clone:
        return CloneCommand::run(line.first, line.second, line.options);
    case CommandLine::Command::Info:
        return InfoCommand::run(line.first);
    case CommandLine::Command::VerifyRestore: {
        RestoreJob job(line.first, line.second);
        job.setOptions(line.options);
        return job.verify();
    }
    case CommandLine::Command::Verify:
        return VerifyCommand::run(line.first, line.options.storeDir);
    case CommandLine::Command::Prune:
        return PruneCommand::run(line.first);
    case CommandLine::Command::WriteCustomFile:
        return CustomFileCommand::write(line.first, line.second);
    case CommandLine::Command::ReadCustomFile:
        return CustomFileCommand::read(line.first, line.second);
    case CommandLine::Command::Mount:
        return MountCommand::mount(line.first, line.second, line.options.storeDir);
    case CommandLine::Command::Unmount:
        return MountCommand::unmount(line.first);
    case CommandLine::Command::Invalid:
        break;
    }
    Console::error(line.error);
    Console::info(CommandLine::usage());
    return 2;
}
