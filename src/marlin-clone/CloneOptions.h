#pragma once

// The options of --tui; a restore ignores them.

struct CloneOptions
{
    // Back up a source that is mounted read-write instead of refusing it.
    bool allowMounted = false;
    // Unreadable source sectors do not fail a backup: they are recorded in the image and read as zeros.
    bool rescue = false;
};
