#pragma once

// A large read buffer whose pages are all mapped in one system call. Touching fresh memory page by page costs a
// fault per 4 KiB, which for a multi-megabyte index is most of what --rbk-info would spend.

#include <cstddef>
#include <cstdint>

class MappedBuffer
{
public:
    MappedBuffer() = default;
    ~MappedBuffer();
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    bool allocate(size_t size);
    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};
