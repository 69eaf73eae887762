#pragma once

// Reads little-endian fields from untrusted bytes; any read past the end makes ok() false instead of overrunning.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class ByteReader
{
public:
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint16_t u16() { return static_cast<uint16_t>(get(2)); }
    uint32_t u32() { return static_cast<uint32_t>(get(4)); }
    uint64_t u64() { return get(8); }
    bool bytes(void* out, size_t count)
    {
        if (!take(count)) {
            return false;
        }
        std::memcpy(out, m_data + m_position - count, count);
        return true;
    }
    // The counterpart of ByteWriter::text; longer than maxSize counts as damage.
    std::string text(size_t maxSize)
    {
        const size_t length = u16();
        if (length > maxSize || !take(length)) {
            m_ok = false;
            return {};
        }
        return std::string(reinterpret_cast<const char*>(m_data + m_position - length), length);
    }
    const uint8_t* view(size_t count) { return take(count) ? m_data + m_position - count : nullptr; }
    bool ok() const { return m_ok; }
    size_t position() const { return m_position; }
    size_t remaining() const { return m_size - m_position; }

private:
    bool take(size_t count)
    {
        if (!m_ok || count > m_size - m_position) {
            m_ok = false;
            return false;
        }
        m_position += count;
        return true;
    }
    uint64_t get(int width)
    {
        if (!take(static_cast<size_t>(width))) {
            return 0;
        }
        uint64_t value = 0;
        for (int i = 0; i < width; ++i) {
            value |= static_cast<uint64_t>(m_data[m_position - static_cast<size_t>(width) + static_cast<size_t>(i)])
                     << (8 * i);
        }
        return value;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
    bool m_ok = true;
};
