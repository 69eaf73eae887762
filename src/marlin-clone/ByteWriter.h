#pragma once

// Appends little-endian fields to a byte vector, so images read the same on every architecture.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class ByteWriter
{
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void u16(uint16_t value) { put(value, 2); }
    void u32(uint32_t value) { put(value, 4); }
    void u64(uint64_t value) { put(value, 8); }
    void bytes(const void* data, size_t size)
    {
        if (size == 0) {
            return;
        }
        const size_t old = m_out.size();
        m_out.resize(old + size);
        std::memcpy(m_out.data() + old, data, size);
    }
    // A string as a 16-bit length and its bytes; callers cap the length beforehand.
    void text(const std::string& value)
    {
        u16(static_cast<uint16_t>(value.size()));
        bytes(value.data(), value.size());
    }
    void zeros(size_t count) { m_out.insert(m_out.end(), count, 0); }
    void padTo(size_t size)
    {
        if (m_out.size() < size) {
            zeros(size - m_out.size());
        }
    }
    size_t size() const { return m_out.size(); }

private:
    void put(uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i) {
            m_out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    }

    std::vector<uint8_t>& m_out;
};
