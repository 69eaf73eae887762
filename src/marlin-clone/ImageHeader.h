#pragma once

// The fixed first block of an image: what was copied, how it was stored, and where the other regions of the file are.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ImageHeader
{
public:
    static constexpr uint32_t kFormatVersion = 1;
    // Images whose chunks live in a chunk store; only they carry this version, so self-contained images stay readable
    // by every reader of version 1.
    static constexpr uint32_t kStoreFormatVersion = 2;
    static constexpr size_t kSize = 4096;
    // Regions that no chunk lists were zero on the source and must be zeroed on restore (whole-device copies).
    // Without it they were free space of the file system and are left alone.
    static constexpr uint32_t kFlagZeroUnlisted = 1u << 0;
    // The source was mounted while it was read, so the copy may not be consistent.
    static constexpr uint32_t kFlagSourceWasMounted = 1u << 1;
    // Made in rescue mode with read errors: the index ends with the source ranges that could not be read (zeros in
    // the image).
    static constexpr uint32_t kFlagUnreadable = 1u << 2;
    // The chunks are in a chunk store (storePath); set exactly in version 2.
    static constexpr uint32_t kFlagStore = 1u << 3;
    static constexpr uint32_t kKnownFlags = kFlagZeroUnlisted | kFlagSourceWasMounted | kFlagUnreadable | kFlagStore;
    static constexpr uint32_t kCompressionZstd = 1;
    static constexpr uint32_t kMaxChunkLimit = 64u << 20;
    static constexpr size_t kMaxTypeLength = 32;
    static constexpr size_t kMaxIdLength = 128;
    static constexpr size_t kMaxLabelLength = 256;
    static constexpr size_t kMaxDeviceLength = 1024;
    static constexpr size_t kMaxStorePathLength = 1024;

    // A header with the standard layout: custom-file slots after the header, data from 1 MiB.
    static ImageHeader withDefaultLayout();

    // A whole-device copy: what no chunk lists is zeros to be written on restore.
    bool zerosUnlisted() const { return (flags & kFlagZeroUnlisted) != 0; }

    std::vector<uint8_t> encode() const;
    // Accepts exactly kSize bytes with our magic, a version we read, an intact checksum and a sane layout.
    bool decode(const uint8_t* data, size_t size, std::string& error);
    // The checksum stored in (or, after encode, computed for) the header; the trailer repeats it.
    uint64_t checksum() const { return m_checksum; }

    uint32_t formatVersion = kFormatVersion;
    uint32_t flags = 0;
    uint32_t compression = kCompressionZstd;
    int32_t compressionLevel = 1;
    uint32_t blockSize = 4096;
    uint32_t maxChunkBytes = 0;
    uint64_t sourceSize = 0;
    uint64_t usedBytes = 0;
    int64_t creationTime = 0;
    uint64_t customSlotOffset[2] = {0, 0};
    uint64_t customSlotSize = 0;
    uint64_t dataOffset = 0;
    std::string fsType;
    std::string fsId;
    std::string fsLabel;
    std::string sourceDevice;
    // Store images: the store's directory, relative to the image's directory (so both can move together).
    std::string storePath;

private:
    bool layoutIsSane(std::string& error) const;

    mutable uint64_t m_checksum = 0;
};
