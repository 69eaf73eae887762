#include "core/ToolTimeout.h"

#include "core/ToolPath.h"

namespace {

// The tools whose time grows with the data: checks and repairs, formatting, copies, removals, images. A name
// ending in '*' stands for every name it begins; "tool sub" for one sub-command of a tool.
const QStringList LongTools{
    "btrfs check", "btrfs scrub", "chattr", "cp",           "create-data-info",     "dd",       "dosfsck",
    "e2fsck",      "fsck",        "fsck.*", "marlin-clone", "marlin-repair-pkexec", "md5sum",   "mkfs",
    "mkfs.*",      "mkswap",      "mv",     "ntfsfix",      "ntfsresize",           "resetEFI", "resize2fs",
    "rm",          "sync",        "tar",    "xfs_repair",
};

bool listed(const QString& name)
{
    for (const QString& entry : LongTools) {
        if (entry == name || (entry.endsWith('*') && name.startsWith(entry.chopped(1)))) {
            return true;
        }
    }
    return false;
}

} // namespace

std::chrono::seconds ToolTimeout::of(const QString& tool, const QStringList& args)
{
    const QString name = ToolPath::toolName(tool);
    const bool isLong = listed(name) || (!args.isEmpty() && listed(name + ' ' + args.constFirst()));
    return isLong ? Long : Quick;
}
