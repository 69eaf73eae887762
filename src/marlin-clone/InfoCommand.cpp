#include "InfoCommand.h"

#include "Console.h"
#include "FileIo.h"
#include "ImageReader.h"
#include "StoreImages.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {
std::string isoTime(int64_t seconds)
{
    const time_t value = static_cast<time_t>(seconds);
    struct tm parts
    {
    };
    char text[32] = "";
    if (::gmtime_r(&value, &parts)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    }
    return text;
}

std::string customNames(const CustomFileTable& table)
{
    std::string names;
    for (const CustomFileTable::File& file : table.files()) {
        names += (names.empty() ? "" : ",") + file.name;
    }
    return names;
}
// "offset+length,offset+length...", in bytes.
std::string rangeList(const std::vector<Extent>& ranges)
{
    std::string list;
    for (const Extent& range : ranges) {
        list += (list.empty() ? "" : ",") + std::to_string(range.offset) + "+" + std::to_string(range.length);
    }
    return list;
}

// What a store image holds in its store: the chunks it references, their bytes there, and the bytes of those no
// other image of the store's layout references (what deleting this image and pruning would free).
std::vector<std::pair<const char*, std::string>> storeLines(const ImageReader& image)
{
    const ChunkIndex& index = image.index();
    const ChunkStore& store = image.store();
    StoreImages::KeySet mine;
    for (size_t i = 0; i < index.chunkCount(); ++i) {
        if (index.chunk(i).rawLength > 0) {
            mine.insert(index.key(i));
        }
    }
    uint64_t bytes = 0;
    uint64_t missing = 0;
    for (const Sha256::Digest& key : mine) {
        const uint64_t size = store.isOpen() ? store.fileSize(key) : 0;
        bytes += size;
        missing += size == 0 ? 1 : 0;
    }
    std::string own = "unknown";
    std::string shared = "unknown";
    StoreImages::KeySet others;
    std::string error;
    if (store.isOpen() && StoreImages::referencedKeys(store, image.path(), others, error)) {
        uint64_t ownBytes = 0;
        for (const Sha256::Digest& key : mine) {
            ownBytes += others.count(key) == 0 ? store.fileSize(key) : 0;
        }
        own = std::to_string(ownBytes);
        shared = std::to_string(bytes - ownBytes);
    }
    return {
        {"store", image.header().storePath},
        {"store-found", store.isOpen() ? "yes" : "no"},
        {"store-chunks", std::to_string(mine.size())},
        {"store-chunks-missing", std::to_string(missing)},
        {"store-bytes", std::to_string(bytes)},
        {"store-bytes-own", own},
        {"store-bytes-shared", shared},
    };
}
} // namespace

std::string InfoCommand::escapeValue(const std::string& value)
{
    std::string escaped;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        // Spaces too: no value (a label "invalid file", say) can then read like the verdict line.
        if (c == '%' || c == '=' || c == ' ' || byte < 0x20 || byte == 0x7f) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

int InfoCommand::run(const std::string& imagePath)
{
    ImageReader image;
    image.useStore(std::string(), false);
    std::string error;
    if (!image.open(imagePath, false, error)) {
        const std::string text = "invalid file\n";
        FileIo::writeAll(STDOUT_FILENO, text.data(), text.size());
        FileIo::writeAll(STDERR_FILENO, text.data(), text.size());
        return 1;
    }
    const ImageHeader& header = image.header();
    const ChunkIndex& index = image.index();
    std::vector<std::pair<const char*, std::string>> lines = {
        {"format-version", std::to_string(header.formatVersion)},
        {"source-size", std::to_string(header.sourceSize)},
        {"fs-type", header.fsType},
        {"block-size", std::to_string(header.blockSize)},
        {"used-bytes", std::to_string(header.usedBytes)},
        {"data-bytes", std::to_string(index.rawBytes())},
        {"image-size", std::to_string(image.fileSize())},
        {"chunk-count", std::to_string(index.chunkCount())},
        {"copy-mode", header.zerosUnlisted() ? "whole-device" : "used-blocks"},
        {"creation-time", isoTime(header.creationTime)},
        {"creation-time-unix", std::to_string(header.creationTime)},
        {"compression", "zstd"},
        {"compression-level", std::to_string(header.compressionLevel)},
        {"source-fs-id", header.fsId},
        {"source-fs-label", header.fsLabel},
        {"source-device", header.sourceDevice},
        {"source-was-mounted", (header.flags & ImageHeader::kFlagSourceWasMounted) ? "yes" : "no"},
        {"custom-files", customNames(image.customFiles().table())},
        {"unreadable-bytes", std::to_string(index.unreadableBytes())},
        {"unreadable-ranges", std::to_string(index.unreadable().size())},
        {"unreadable-list", rangeList(index.unreadable())},
    };
    if (image.isStoreImage()) {
        const auto more = storeLines(image);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    std::string text;
    for (const auto& [key, value] : lines) {
        text += std::string(key) + "=" + escapeValue(value) + "\n";
    }
    Console::out(text);
    return 0;
}
