#pragma once

// --prune: removes the chunks of a store that no image of its layout references, and what cut-off backups left at
// temporary names. It holds the store's lock exclusively, so no backup or restore is using the store meanwhile.

#include <string>

class PruneCommand
{
public:
    // 0 done, 1 refused or failed (nothing removed when refused).
    static int run(const std::string& storeDir);
};
