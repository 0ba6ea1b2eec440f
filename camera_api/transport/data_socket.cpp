#include "camera_api/transport/data_socket.h"

namespace orvo {

CDataSocket::CDataSocket() : m_event(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) { Clear(); }

void CDataSocket::OnStreamEvent(int32_t code) {
    ++m_eventCount;
    m_lastEvent = code;
    if (code == kStreamStarted) m_stopped = 0;
    if (code == kStreamStopped) {
        m_block = nullptr;
        m_stopped = 1;
    }
    if (m_event) ::SetEvent(m_event.get());
}

void CDataSocket::ResetTag(int32_t tag) {
    m_tag = tag;
    m_eventCount = 0;
    m_lastEvent = 0;
    m_stopped = 1;
    Clear();
}

void CDataSocket::Clear() {
    m_block = nullptr;
    m_blockLength = 0;
    m_total = 0;
    m_endPosition = 0;
}

bool CDataSocket::Attach(CDataStream* stream) {
    if (m_stream) return false;
    m_stream = stream;
    return stream != nullptr;
}

bool CDataSocket::Detach(CDataStream* stream) {
    if (!m_stream || m_stream != stream) return false;
    m_stream = nullptr;
    return true;
}

void CDataSocket::Advance() {
    if (!m_stream || !m_block) return;
    const uint32_t total = m_total + m_blockLength;
    m_total = total;
    // Without an explicit end, the first short block marks it.
    uint32_t blockSize = m_stream->Buffer() ? m_stream->Buffer()->BlockSize() : 0;
    if (m_endPosition == 0 && m_blockLength < blockSize) m_endPosition = total;
    m_block = nullptr;
}

// --- CReadSocket ------------------------------------------------------------

bool CReadSocket::Attach(CDataStream* stream) {
    if (!stream || m_stream) return false;
    if (!stream->SetReader(this)) return false;
    return CDataSocket::Attach(stream);
}

bool CReadSocket::Detach(CDataStream* stream) {
    if (!CDataSocket::Detach(stream)) return false;
    stream->RemoveReader(this);
    return true;
}

void CReadSocket::TakeReadBlock() {
    uint32_t length = 0;
    m_block = m_stream->GetReadBlock(&length);
    m_blockLength = m_block ? length : 0;
}

void CReadSocket::Advance() {
    CDataSocket::Advance();
    if (m_stream && !m_block) TakeReadBlock();
}

bool CReadSocket::HasReadBlock() {
    if (m_stream && !m_block) TakeReadBlock();
    return m_block != nullptr;
}

// --- CWriteSocket -----------------------------------------------------------

bool CWriteSocket::Attach(CDataStream* stream) {
    if (!stream || m_stream) return false;
    if (!stream->SetWriter(this)) return false;
    return CDataSocket::Attach(stream);
}

bool CWriteSocket::Detach(CDataStream* stream) {
    if (!CDataSocket::Detach(stream)) return false;
    stream->RemoveWriter(this);
    return true;
}

void CWriteSocket::TakeWriteBlock() {
    m_block = m_stream->GetWriteBlock();
    m_blockLength = 0;
}

void CWriteSocket::Advance() {
    CDataSocket::Advance();
    if (m_stream && !m_block) TakeWriteBlock();
}

bool CWriteSocket::CanWrite() {
    if (!m_stream) return false;
    const uint32_t end = m_endPosition;
    if (end != 0 && uint32_t(m_stream->GetBytesSubmitted()) >= end) return false;
    if (!m_block) TakeWriteBlock();
    return m_block != nullptr;
}

uint8_t* CWriteSocket::TakeBlock(uint32_t* size) {
    uint8_t* block = m_block;
    m_block = nullptr;
    if (size) *size = (m_stream && m_stream->Buffer()) ? m_stream->Buffer()->BlockSize() : 0;
    return block;
}

}  // namespace orvo
