#pragma once

// The small named files kept inside an image (the product's "DiskInfo"), and their encoding in one custom-file slot.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class CustomFileTable
{
public:
    struct File
    {
        std::string name;
        std::string data;
    };

    static constexpr size_t kHeaderSize = 32;
    static constexpr size_t kMaxNameLength = 64;

    // Names are one path component of plain characters, so they print safely in key=value output.
    static bool isValidName(const std::string& name);

    // Adds the file or replaces the one with the same name.
    void set(const std::string& name, const std::string& data);
    const File* find(const std::string& name) const;
    const std::vector<File>& files() const { return m_files; }
    size_t encodedSize() const;

    std::vector<uint8_t> encode(uint64_t sequence) const;
    // Reads the slot's fixed header: the sequence number and how many bytes the whole encoding has.
    static bool peek(const uint8_t* data, size_t size, uint64_t& sequence, size_t& encodedSize);
    bool decode(const uint8_t* data, size_t size, uint64_t& sequence);

private:
    // Adds a file whose name is not in the table yet.
    void append(File file);

    std::vector<File> m_files;
    // Name to position in m_files: a table of tens of thousands of tiny files is still checked in linear time.
    std::unordered_map<std::string, size_t> m_positions;
};
