#include "camera_api/transport/stream_buffer.h"

#include <new>

namespace orvo {

bool CStreamBuffer::Allocate(uint32_t blockSize, uint32_t blockCount) {
    if (m_data) return true;
    m_blockSize = blockSize;
    m_blockCount = blockCount;
    if (blockSize == 0 || blockCount == 0) return false;
    const uint64_t total = uint64_t(blockSize) * blockCount;
    if (total > SIZE_MAX) return false;
    m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    return m_data != nullptr;
}

void CStreamBuffer::Free() { m_data.reset(); }

uint8_t* CStreamBuffer::GetBlock(uint32_t index) const {
    if (!m_data || index >= m_blockCount) return nullptr;
    return m_data.get() + size_t(index) * m_blockSize;
}

uint8_t* CStreamBuffer::GetBlockAndSize(uint32_t index, uint32_t* size) const {
    uint8_t* block = GetBlock(index);
    if (size) *size = m_blockSize;
    return block;
}

}  // namespace orvo
