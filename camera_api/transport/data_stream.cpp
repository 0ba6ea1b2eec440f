#include "camera_api/transport/data_stream.h"

#include <cstdint>

namespace orvo {

void CDataStream::NotifyReader(int32_t code) {
    if (m_reader) m_reader->OnStreamEvent(code);
}

void CDataStream::NotifyWriter(int32_t code) {
    if (m_writer) m_writer->OnStreamEvent(code);
}

void CDataStream::NotifyBoth(int32_t code) {
    NotifyReader(code);
    NotifyWriter(code);
}

void CDataStream::Start() {
    if (!IsValid() || !IsStopped()) return;
    m_stopped = 0;
    Reset();
    NotifyBoth(kStreamStarted);
}

void CDataStream::Stop() {
    if (!IsValid() || IsStopped()) return;
    m_stopped = 1;
    NotifyBoth(kStreamStopped);
}

bool CDataStream::Flush() {
    if (!IsValid()) return false;
    Stop();
    m_buffer->Clear();
    Reset();
    NotifyBoth(kStreamFlushed);
    return true;
}

uint8_t* CDataStream::GetWriteBlock() {
    if (!IsValid() || IsStopped()) return nullptr;
    CLockGuard guard(m_lock);
    return m_buffer->GetBlock(m_writeIndex);
}

void CDataStream::CommitWrite(uint32_t length) {
    if (!IsValid()) return;
    {
        CLockGuard guard(m_lock);
        // A commit on a full ring has no block to land in.
        if (m_filledCount >= int32_t(m_buffer->BlockCount())) return;
        m_buffer->SetBlockLength(m_writeIndex, length);
        m_writeIndex = (m_writeIndex + 1) % m_buffer->BlockCount();
        OnBlockFilled();
    }
    NotifyReader(kStreamBlockFilled);
}

uint8_t* CDataStream::GetReadBlock(uint32_t* length) {
    if (!IsValid() || IsStopped()) return nullptr;
    CLockGuard guard(m_lock);
    if (m_filledCount == 0) return nullptr;
    return m_buffer->GetBlockAndSize(m_readIndex, length);
}

void CDataStream::ReleaseRead() {
    if (!IsValid() || IsStopped()) return;
    {
        CLockGuard guard(m_lock);
        if (m_filledCount == 0) return;  // nothing taken, nothing to give back
        m_readIndex = (m_readIndex + 1) % m_buffer->BlockCount();
        OnBlockReleased();
    }
    NotifyWriter(kStreamBlockFreed);
}

int32_t CDataStream::GetBytesSubmitted() const {
    CLockGuard guard(m_lock);
    return m_bytesSubmitted;
}

void CDataStream::Reset() {
    CLockGuard guard(m_lock);
    m_readIndex = m_writeIndex = 0;
    m_filledCount = 0;
    m_bytesSubmitted = 0;
}

bool CDataStream::IsValid() const {
    return m_buffer && m_buffer->BlockCount() != 0 && m_buffer->BlockSize() != 0 && m_buffer->Data();
}

void CDataStream::OnBlockFilled() { ++m_filledCount; }
void CDataStream::OnBlockReleased() { --m_filledCount; }

int32_t CDataStream::FilledCount() const {
    CLockGuard guard(m_lock);
    return m_filledCount;
}

bool CDataStream::AttachBuffer(CStreamBuffer* buffer) noexcept {
    if (m_buffer || !buffer) return false;
    m_buffer = buffer;
    return true;
}

bool CDataStream::SetWriter(IStreamSocket* socket) noexcept {
    if (m_writer || !socket) return false;
    m_writer = socket;
    return true;
}

bool CDataStream::SetReader(IStreamSocket* socket) noexcept {
    if (m_reader || !socket) return false;
    m_reader = socket;
    return true;
}

bool CDataStream::RemoveWriter(IStreamSocket* socket) noexcept {
    if (m_writer == socket) m_writer = nullptr;
    return m_writer == nullptr;
}

bool CDataStream::RemoveReader(IStreamSocket* socket) noexcept {
    if (m_reader == socket) m_reader = nullptr;
    return m_reader == nullptr;
}

// --- CAsyncIoStream ---------------------------------------------------------

void CAsyncIoStream::Start() {
    if (!IsStopped()) return;
    {
        CLockGuard guard(m_lock);
        m_freeSlots = int32_t(BlockCount());
        m_pending = 0;
    }
    CDataStream::Start();
}

uint8_t* CAsyncIoStream::GetWriteBlock() {
    if (!IsValid() || IsStopped()) return nullptr;
    CLockGuard guard(m_lock);
    if (m_freeSlots == 0) return nullptr;
    return m_buffer->GetBlock(m_submitIndex);
}

void CAsyncIoStream::CommitWrite(uint32_t length) {
    {
        CLockGuard guard(m_lock);
        if (m_pending > 0) --m_pending;
    }
    CDataStream::CommitWrite(length);
}

void CAsyncIoStream::Reset() {
    {
        CLockGuard guard(m_lock);
        m_submitIndex = 0;
        m_freeSlots = int32_t(BlockCount());
        m_pending = 0;
    }
    CDataStream::Reset();
}

void CAsyncIoStream::OnBlockReleased() {
    CDataStream::OnBlockReleased();
    ++m_freeSlots;
}

void CAsyncIoStream::MarkSubmitted() {
    CLockGuard guard(m_lock);
    if (m_freeSlots == 0) return;
    m_submitIndex = (m_submitIndex + 1) % BlockCount();
    --m_freeSlots;
    ++m_pending;
    // A continuous stream is never reset; saturate rather than overflow (only a fill's end is compared with it).
    const int32_t block = int32_t(BlockSize());
    m_bytesSubmitted = (m_bytesSubmitted > INT32_MAX - block) ? INT32_MAX : m_bytesSubmitted + block;
}

bool CAsyncIoStream::HasPending() const {
    CLockGuard guard(m_lock);
    return m_pending != 0;
}

}  // namespace orvo
