// A ring of equal blocks between one producer and one consumer. The stream
// owns the indices and counters; the buffer owns the memory; the sockets
// attached as writer and reader are told when the other side has acted.
#pragma once
#include <atomic>
#include <cstdint>

#include "camera_api/transport/lock.h"
#include "camera_api/transport/stream_buffer.h"
#include "camera_api/transport/stream_socket.h"

namespace orvo {

class CDataStream {
public:
    CDataStream() = default;
    virtual ~CDataStream() = default;
    CDataStream(const CDataStream&) = delete;
    CDataStream& operator=(const CDataStream&) = delete;

    virtual void Start();
    virtual void Stop();
    virtual bool Flush();
    virtual uint8_t* GetWriteBlock();
    virtual void CommitWrite(uint32_t length);
    virtual uint8_t* GetReadBlock(uint32_t* length);
    virtual void ReleaseRead();
    virtual int32_t GetBytesSubmitted() const;
    virtual void Reset();
    virtual bool IsValid() const;
    virtual void OnBlockFilled();
    virtual void OnBlockReleased();

    bool AttachBuffer(CStreamBuffer* buffer) noexcept;
    bool SetWriter(IStreamSocket* socket) noexcept;
    bool SetReader(IStreamSocket* socket) noexcept;
    bool RemoveWriter(IStreamSocket* socket) noexcept;
    bool RemoveReader(IStreamSocket* socket) noexcept;

    bool IsStopped() const noexcept { return m_stopped.load() != 0; }
    CStreamBuffer* Buffer() const noexcept { return m_buffer; }
    int32_t FilledCount() const;

protected:
    void NotifyBoth(int32_t code);
    void NotifyReader(int32_t code);
    void NotifyWriter(int32_t code);

    IStreamSocket* m_writer = nullptr;
    IStreamSocket* m_reader = nullptr;
    CStreamBuffer* m_buffer = nullptr;
    int32_t m_bytesSubmitted = 0;
    uint32_t m_readIndex = 0;
    uint32_t m_writeIndex = 0;
    int32_t m_filledCount = 0;
    mutable CLock m_lock;
    std::atomic<int32_t> m_stopped{1};
};

// A producer that hands blocks to asynchronous reads which complete in the
// order they were issued: submitIndex runs ahead of writeIndex.
class CAsyncIoStream : public CDataStream {
public:
    void Start() override;
    uint8_t* GetWriteBlock() override;
    void CommitWrite(uint32_t length) override;
    void Reset() override;
    void OnBlockReleased() override;

    void MarkSubmitted();
    bool HasPending() const;
    uint32_t BlockCount() const noexcept { return m_buffer ? m_buffer->BlockCount() : 0; }
    uint32_t BlockSize() const noexcept { return m_buffer ? m_buffer->BlockSize() : 0; }
    uint32_t SubmitIndex() const noexcept { return m_submitIndex; }
    uint32_t WriteIndex() const noexcept { return m_writeIndex; }
    uint32_t ReadIndex() const noexcept { return m_readIndex; }

protected:
    uint32_t m_submitIndex = 0;
    int32_t m_freeSlots = 0;
    int32_t m_pending = 0;
};

}  // namespace orvo
