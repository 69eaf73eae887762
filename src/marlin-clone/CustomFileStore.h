#pragma once

// Keeps the custom files of an image in two fixed slots after the header and writes a new version only into the slot
// not in use, then syncs. A write cut short leaves that slot with a bad checksum and the other one, the last
// complete version, still current; the chunk data, index and trailer are never touched.

#include "CustomFileTable.h"
#include "ImageHeader.h"

#include <cstdint>
#include <string>

class CustomFileStore
{
public:
    // Writes the empty table into the first slot of a new image (the second one stays unwritten, so invalid).
    static bool writeInitial(int fd, const ImageHeader& header, std::string& error);

    // Picks the valid slot with the highest sequence number; false when neither slot is valid.
    bool load(int fd, const ImageHeader& header, std::string& error);
    // Writes the table into the other slot with the next sequence number and makes it durable.
    bool save(int fd, const ImageHeader& header, const CustomFileTable& table, std::string& error);

    const CustomFileTable& table() const { return m_table; }
    int currentSlot() const { return m_slot; }
    uint64_t sequence() const { return m_sequence; }

private:
    static bool readSlot(int fd, const ImageHeader& header, int slot, CustomFileTable& table, uint64_t& sequence);

    CustomFileTable m_table;
    int m_slot = -1;
    uint64_t m_sequence = 0;
};
