#pragma once

// A page-aligned byte buffer: chunk data moves through O_DIRECT reads and zstd without extra copies.

#include <cstddef>
#include <cstdint>

class AlignedBuffer
{
public:
    AlignedBuffer() = default;
    explicit AlignedBuffer(size_t capacity);
    ~AlignedBuffer();
    AlignedBuffer(AlignedBuffer&& other) noexcept;
    AlignedBuffer& operator=(AlignedBuffer&& other) noexcept;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    // Grows (never shrinks) to at least the given capacity; false when memory is exhausted.
    bool reserve(size_t capacity);
    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t capacity() const { return m_capacity; }

private:
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
};
