#pragma once

// A content-addressed chunk store: one plain file per chunk, named by the SHA-256 of its uncompressed bytes, under
// 256 fan-out directories (DIR/ab/abcd...), made with the store and kept open. Images made into the store reference
// chunks by key, so a chunk any image already holds costs the next image nothing. New chunks are written at a temporary
// name, made durable in batches (one syncfs for many files) and only then given their real name, so a name always
// stands for complete bytes. A lock file serialises prune (exclusive) against backups and restores (shared).

#include "Sha256.h"
#include "StoreChunkHeader.h"
#include "UniqueFd.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

class ChunkStore
{
public:
    static constexpr const char* kMarkerName = "marlin-store";
    static constexpr const char* kLockName = ".lock";
    static constexpr const char* kTemporaryPrefix = ".tmp-";

    ChunkStore() = default;
    ChunkStore(const ChunkStore&) = delete;
    ChunkStore& operator=(const ChunkStore&) = delete;

    // Opens the store at dir; create: makes the directory and its marker when missing (a backup).
    bool open(const std::string& dir, bool create, std::string& error);
    // flock on the lock file: shared for backups and restores, exclusive (never waiting) for prune.
    bool lock(bool exclusive, std::string& error);
    bool isOpen() const { return m_dir.valid(); }
    int fd() const { return m_dir.get(); }
    const std::string& path() const { return m_path; }

    // A file for key that looks complete (its header matches and its size fits); its bytes are not read. After
    // listNames(), the names listed (and those added since) answer instead: a name is only given to complete bytes.
    bool has(const Sha256::Digest& key, uint32_t rawLength) const;
    // Reads the names of every chunk once (256 directory listings), so that a backup's look-ups need no file opened:
    // thousands of random reads on a cold cache otherwise.
    bool listNames(std::string& error);
    // Opens the chunk file read-only and checks its header against key and rawLength; -1 with error otherwise.
    int openChunk(const Sha256::Digest& key, uint32_t rawLength, StoreChunkHeader& header, std::string& error) const;
    // Asks the kernel to read the chunk's file in, without waiting for it; nothing when it is missing.
    void prefetch(const Sha256::Digest& key) const;
    // Size of the chunk's file, 0 when it is missing.
    uint64_t fileSize(const Sha256::Digest& key) const;

    // Writes a new chunk at a temporary name; it gets its real name at the next flush (or when enough is pending).
    // A chunk already pending is not written again. Safe to call from several threads at once.
    bool put(const StoreChunkHeader& header, const uint8_t* stored, std::string& error);
    // Makes every pending chunk durable, renames it into place and makes the names durable.
    bool flush(std::string& error);
    // Drops pending chunks that never got their name (a failed backup).
    void discardPending();
    uint64_t chunksAdded() const { return m_chunksAdded; }
    uint64_t bytesAdded() const { return m_bytesAdded; }

    // "ab/<64 hex digits>"
    static std::string relativeName(const Sha256::Digest& key);
    static constexpr size_t kFanOut = 256;

private:
    struct Pending
    {
        Sha256::Digest key;
        std::string temporary;
    };
    // Opens every fan-out directory without following links (making the missing ones when create is set).
    bool openFanOuts(bool create, std::string& error);
    bool flushLocked(std::string& error);
    int fanOut(const Sha256::Digest& key) const { return m_fanOuts[key[0]].get(); }
    // The chunk's file opened read-only, never through a link nor blocking on a device; -1 with errno otherwise.
    int openChunkFile(const Sha256::Digest& key) const;

    UniqueFd m_dir;
    std::vector<UniqueFd> m_fanOuts;
    mutable std::mutex m_mutex;
    bool m_listed = false;
    std::unordered_set<Sha256::Digest, Sha256::DigestHash> m_named;
    UniqueFd m_lock;
    std::string m_path;
    std::vector<Pending> m_pending;
    std::unordered_set<Sha256::Digest, Sha256::DigestHash> m_pendingKeys;
    uint64_t m_pendingBytes = 0;
    uint64_t m_sequence = 0;
    uint64_t m_chunksAdded = 0;
    uint64_t m_bytesAdded = 0;
};
