// The two ends of a stream. Each socket holds at most one block and counts
// the bytes that passed through it; the stream's notifications only update
// counters and wake the owning thread through the socket's event.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>

#include "camera_api/transport/data_stream.h"
#include "camera_api/transport/stream_socket.h"
#include "win32/unique_handle.h"

namespace orvo {

class CDataSocket : public IStreamSocket {
public:
    CDataSocket();
    CDataSocket(const CDataSocket&) = delete;
    CDataSocket& operator=(const CDataSocket&) = delete;

    void OnStreamEvent(int32_t code) override;
    ~CDataSocket() override = default;
    virtual void ResetTag(int32_t tag);
    virtual void Clear();
    virtual HANDLE GetEvent() const { return m_event.get(); }
    virtual bool Attach(CDataStream* stream);
    virtual bool Detach(CDataStream* stream);
    virtual void Advance();

    CDataStream* Stream() const noexcept { return m_stream; }
    uint8_t* Block() const noexcept { return m_block; }
    uint32_t BlockLength() const noexcept { return m_blockLength; }
    void SetBlockLength(uint32_t length) noexcept { m_blockLength = length; }
    uint32_t Total() const noexcept { return m_total.load(); }
    void SetTotal(uint32_t total) noexcept { m_total = total; }
    uint32_t EndPosition() const noexcept { return m_endPosition.load(); }
    void SetEndPosition(uint32_t end) noexcept { m_endPosition = end; }
    int32_t Tag() const noexcept { return m_tag; }
    uint32_t EventCount() const noexcept { return m_eventCount.load(); }
    int32_t LastEvent() const noexcept { return m_lastEvent.load(); }
    bool IsStopped() const noexcept { return m_stopped.load() != 0; }

protected:
    CDataStream* m_stream = nullptr;
    uint8_t* m_block = nullptr;
    uint32_t m_blockLength = 0;
    // Set by the camera thread before it wakes the socket's owner thread.
    std::atomic<uint32_t> m_total{0};
    std::atomic<uint32_t> m_endPosition{0};
    int32_t m_tag = -1;
    std::atomic<uint32_t> m_eventCount{0};
    std::atomic<int32_t> m_lastEvent{0};
    win32::UniqueHandle m_event;
    std::atomic<int32_t> m_stopped{1};
};

// The consumer end.
class CReadSocket : public CDataSocket {
public:
    bool Attach(CDataStream* stream) override;
    bool Detach(CDataStream* stream) override;
    void Advance() override;
    bool HasReadBlock();

private:
    void TakeReadBlock();
};

// The producer end.
class CWriteSocket : public CDataSocket {
public:
    bool Attach(CDataStream* stream) override;
    bool Detach(CDataStream* stream) override;
    void Advance() override;
    virtual bool CanWrite();
    virtual uint8_t* TakeBlock(uint32_t* size);

private:
    void TakeWriteBlock();
};

}  // namespace orvo
