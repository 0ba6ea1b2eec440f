// A ring's memory: one allocation of blockCount equal blocks, made once.
#pragma once
#include <cstdint>
#include <memory>

namespace orvo {

class CStreamBuffer {
public:
    CStreamBuffer() = default;
    virtual ~CStreamBuffer() = default;
    CStreamBuffer(const CStreamBuffer&) = delete;
    CStreamBuffer& operator=(const CStreamBuffer&) = delete;

    // Keeps the first geometry: a second call on an allocated buffer changes
    // nothing and reports success.
    virtual bool Allocate(uint32_t blockSize, uint32_t blockCount);
    virtual void Free();
    // Hook run when the stream is flushed.
    virtual int Clear() { return 0; }
    virtual uint8_t* GetBlock(uint32_t index) const;
    // Hook run when a block is committed with the byte count its fill gave.
    virtual int SetBlockLength(uint32_t, uint32_t) { return 0; }
    virtual uint8_t* GetBlockAndSize(uint32_t index, uint32_t* size) const;

    uint8_t* Data() const noexcept { return m_data.get(); }
    uint32_t BlockSize() const noexcept { return m_blockSize; }
    uint32_t BlockCount() const noexcept { return m_blockCount; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    uint32_t m_blockSize = 0;
    uint32_t m_blockCount = 0;
};

}  // namespace orvo
