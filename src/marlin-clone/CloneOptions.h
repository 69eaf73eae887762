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
};
