#include "camera_api/transport/winusb_sockets.h"

namespace orvo {

// Collects the oldest read, or returns as soon as the sink gives a block back
// so that it goes under a read at once. The read's block went to the pipe
// when it was submitted; a block still held here is one whose submission was
// refused, so the read's bytes are not credited to it, and it waits for its
// retry.
void CWinUsbSource::Advance() {
    CWinUsbStream* stream = UsbStream();
    if (stream && stream->HasPending()) {
        uint32_t bytes = 0;
        stream->CompleteRead(&bytes, GetEvent());
    }
    m_blockLength = 0;
}

bool CWinUsbSource::Submit() {
    CWinUsbStream* stream = UsbStream();
    if (!stream || !CanWrite()) return false;
    m_blockLength = 0;
    if (!stream->SubmitRead(m_block)) return false;
    m_block = nullptr;
    return true;
}

bool CWinUsbSource::HasPendingReads() const {
    CWinUsbStream* stream = UsbStream();
    return stream && stream->HasPending();
}

void CWinUsbSink::Advance() {
    m_blockLength = 0;
    CWinUsbStream* stream = UsbStream();
    uint8_t* destination = m_destination.load();
    const uint32_t end = m_endPosition;
    bool ended = false;
    // A fill always names its length; without one there is no room to copy to.
    if (stream && destination && end != 0 && m_total < end) {
        uint32_t copied = 0;
        if (!stream->CopyBlock(m_block, destination + m_total, end - m_total, &copied)) m_error = 1;
        m_blockLength = copied;
        ended = stream->TransferEnded();
    }
    CReadSocket::Advance();
    if (ended) m_ended = true;
}

bool CWinUsbSink::SetDestination(uint8_t* destination) {
    m_destination = destination;
    if (destination) {
        m_error = 0;
        m_ended = false;
        if (CWinUsbStream* stream = UsbStream()) stream->OnFillStart();
    }
    return destination != nullptr;
}

}  // namespace orvo
