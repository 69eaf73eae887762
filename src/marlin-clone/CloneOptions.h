#pragma once

// The options of --tui; a restore ignores them but the store.

#include <string>

struct CloneOptions
{
    // A backup puts its chunks into this chunk store; a restore reads them from it instead of the image's own.
    std::string storeDir;
    // Back up a source that is mounted read-write instead of refusing it.
    bool allowMounted = false;
    // Unreadable source sectors do not fail a backup: they are recorded in the image and read as zeros.
    bool rescue = false;
    // Restore of a whole-device image: the target may be smaller than the source, down to this many bytes; nothing
    // at or past the target's end is written. The caller knows that only free space lies past it (the end of the last
    // partition); 0: the target must be as large as the source.
    uint64_t fitBytes = 0;
};
