#include "AlignedBuffer.h"

#include <cstdlib>
#include <utility>

namespace {
constexpr size_t kAlignment = 4096;
}

AlignedBuffer::AlignedBuffer(size_t capacity)
{
    reserve(capacity);
}

AlignedBuffer::~AlignedBuffer()
{
    std::free(m_data);
}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_capacity(std::exchange(other.m_capacity, 0))
{
}

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& other) noexcept
{
    if (this != &other) {
        std::free(m_data);
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

bool AlignedBuffer::reserve(size_t capacity)
{
    if (capacity <= m_capacity) {
        return true;
    }
    const size_t rounded = (capacity + kAlignment - 1) / kAlignment * kAlignment;
    void* memory = nullptr;
    if (posix_memalign(&memory, kAlignment, rounded) != 0) {
        return false;
    }
    std::free(m_data);
    m_data = static_cast<uint8_t*>(memory);
    m_capacity = rounded;
    return true;
}
