#include "CustomFileStore.h"

#include "FileIo.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

bool CustomFileStore::writeInitial(int fd, const ImageHeader& header, std::string& error)
{
    const std::vector<uint8_t> bytes = CustomFileTable().encode(1);
    if (!FileIo::writeAt(fd, bytes.data(), bytes.size(), header.customSlotOffset[0])) {
        error = "cannot write the custom file table: " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

bool CustomFileStore::load(int fd, const ImageHeader& header, std::string& error)
{
    m_slot = -1;
    for (int slot = 0; slot < 2; ++slot) {
        CustomFileTable table;
        uint64_t sequence = 0;
        if (readSlot(fd, header, slot, table, sequence) && (m_slot < 0 || sequence > m_sequence)) {
            m_table = std::move(table);
            m_slot = slot;
            m_sequence = sequence;
        }
    }
    if (m_slot < 0) {
        error = "no intact custom file table";
        return false;
    }
    return true;
}

bool CustomFileStore::save(int fd, const ImageHeader& header, const CustomFileTable& table, std::string& error)
{
    if (m_slot < 0) {
        error = "custom file table not loaded";
        return false;
    }
    const int target = 1 - m_slot;
    const std::vector<uint8_t> bytes = table.encode(m_sequence + 1);
    if (bytes.size() > header.customSlotSize) {
        error = "custom files too large: " + std::to_string(bytes.size()) + " bytes, room for " +
                std::to_string(header.customSlotSize);
        return false;
    }
    const bool written = FileIo::writeAt(fd, bytes.data(), bytes.size(), header.customSlotOffset[target]);
    if (!written || ::fdatasync(fd) != 0) {
        error = "cannot write the custom file table: " + FileIo::errorText(errno);
        return false;
    }
    m_table = table;
    m_slot = target;
    m_sequence += 1;
    return true;
}

bool CustomFileStore::readSlot(int fd, const ImageHeader& header, int slot, CustomFileTable& table, uint64_t& sequence)
{
    uint8_t head[CustomFileTable::kHeaderSize];
    size_t encodedSize = 0;
    const uint64_t offset = header.customSlotOffset[slot];
    if (!FileIo::readAt(fd, head, sizeof head, offset) ||
        !CustomFileTable::peek(head, sizeof head, sequence, encodedSize)) {
        return false;
    }
    if (encodedSize > header.customSlotSize) {
        return false;
    }
    std::vector<uint8_t> bytes(encodedSize);
    return FileIo::readAt(fd, bytes.data(), bytes.size(), offset) && table.decode(bytes.data(), bytes.size(), sequence);
}
