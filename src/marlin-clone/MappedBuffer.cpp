#include "MappedBuffer.h"

#include <sys/mman.h>

MappedBuffer::~MappedBuffer()
{
    if (m_data) {
        ::munmap(m_data, m_size);
    }
}

bool MappedBuffer::allocate(size_t size)
{
    if (m_data) {
        ::munmap(m_data, m_size);
        m_data = nullptr;
    }
    m_size = size == 0 ? 1 : size;
    void* memory = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED) {
        m_size = 0;
        return false;
    }
    m_data = static_cast<uint8_t*>(memory);
    return true;
}
