#pragma once

// The images made into a chunk store, found as the backup layout keeps them: every *.rbk in the store's parent
// directory and in that directory's subdirectories (one level). Prune keeps what they reference; --rbk-info tells
// from them what one image alone holds.

#include "ChunkStore.h"
#include "Sha256.h"

#include <string>
#include <unordered_set>

class StoreImages
{
public:
    using KeySet = std::unordered_set<Sha256::Digest, Sha256::DigestHash>;

    // Adds the keys of every image of the store's layout that uses this store, except the image skip (may be empty).
    // False when an image cannot be read or names a store that cannot be found: then nobody knows what is still used.
    static bool referencedKeys(const ChunkStore& store, const std::string& skip, KeySet& keys, std::string& error);
};
