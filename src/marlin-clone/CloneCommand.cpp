#include "CloneCommand.h"

#include "BackupJob.h"
#include "BlockDevice.h"
#include "Console.h"
#include "RestoreJob.h"

CloneCommand::Direction CloneCommand::directionOf(const std::string& from, const std::string& to, std::string& why)
{
    const bool fromDevice = BlockDevice::isBlockDevice(from);
    const bool toDevice = BlockDevice::isBlockDevice(to);
    if (fromDevice && !toDevice) {
        return Direction::Backup;
    }
    if (!fromDevice && toDevice) {
        return Direction::Restore;
    }
    why = fromDevice ? "both " + from + " and " + to + " are block devices; device-to-device copies are not supported"
                     : "neither " + from + " nor " + to + " is a block device";
    return Direction::Unclear;
}

int CloneCommand::run(const std::string& from, const std::string& to, const CloneOptions& options)
{
    std::string why;
    switch (directionOf(from, to, why)) {
    case Direction::Backup:
        return BackupJob(from, to, options).run();
    case Direction::Restore: {
        RestoreJob job(from, to);
        job.setOptions(options);
        return job.run();
    }
    case Direction::Unclear:
        break;
    }
    Console::error(why);
    return 2;
}
