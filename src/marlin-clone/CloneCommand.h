#pragma once

// --tui FROM TO: decides from the two paths whether this is a backup (block device into a file) or a restore
// (file onto a block device).

#include "CloneOptions.h"

#include <string>

class CloneCommand
{
public:
    enum class Direction
    {
        Backup,
        Restore,
        Unclear,
    };

    static Direction directionOf(const std::string& from, const std::string& to, std::string& why);
    static int run(const std::string& from, const std::string& to, const CloneOptions& options);
};
