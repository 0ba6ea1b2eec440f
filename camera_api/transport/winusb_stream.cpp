#include "camera_api/transport/winusb_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvo {
namespace {

constexpr DWORD kReadWaitMs = 5000;
// How long a restart waits for an aborted read to come back.
constexpr DWORD kRetireWaitMs = 5000;
constexpr DWORD kRetryDelayMs = 10;
constexpr LONG kUsbdStatusXactError = static_cast<LONG>(0xC0000011);
// More empty packets than this after data end the camera's burst.
constexpr uint32_t kMaxPacketGap = 5;

}  // namespace

CWinUsbStream::CWinUsbStream() : m_halt(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) { BindWinUsb(m_api); }

CWinUsbStream::~CWinUsbStream() { Release(); }

bool CWinUsbStream::Setup(WINUSB_INTERFACE_HANDLE interfaceHandle, uint32_t packetSize) {
    (void)packetSize;
    const uint32_t count = BlockCount();
    if (count < 1 || count > kMaxStreamBlocks || !m_halt) return false;
    for (uint32_t i = 0; i < count; ++i) {
        m_overlapped[i] = OVERLAPPED{};
        m_events[i].reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_events[i]) return false;
    }
    m_interface = interfaceHandle;
    return true;
}

void CWinUsbStream::Release() {
    Stop();
    {
        CLockGuard io(m_ioLock);
        RetireReads();
        // A read that never came back keeps its event: closing it under a
        // read the pipe may still complete would be worse than the leak.
        for (uint32_t i = 0; i < kMaxStreamBlocks; ++i) {
            if (!m_inFlight[i]) m_events[i].reset();
        }
    }
    m_interface = nullptr;
}

void CWinUsbStream::RetireReads() {
    bool any = false;
    for (bool inFlight : m_inFlight) any = any || inFlight;
    if (!any) return;
    CWinUsbBuffer* buffer = WinUsbBuffer();
    if (m_api.AbortPipe && buffer) m_api.AbortPipe(m_interface, buffer->PipeId());
    for (uint32_t i = 0; i < kMaxStreamBlocks; ++i) {
        if (!m_inFlight[i]) continue;
        if (::WaitForSingleObject(m_events[i].get(), kRetireWaitMs) != WAIT_OBJECT_0) continue;
        DWORD bytes = 0;
        if (m_api.GetOverlappedResult(m_interface, &m_overlapped[i], &bytes, FALSE) ||
            ::GetLastError() != ERROR_IO_INCOMPLETE) {
            m_inFlight[i] = false;
        }
    }
}

void CWinUsbStream::Start() {
    if (!IsValid() || !IsStopped()) return;
    CLockGuard io(m_ioLock);
    RetireReads();
    ++m_generation;
    m_restart = 1;
    if (m_halt) ::ResetEvent(m_halt.get());
    CAsyncIoStream::Start();
}

void CWinUsbStream::Stop() {
    CAsyncIoStream::Stop();
    if (m_halt) ::SetEvent(m_halt.get());
}

bool CWinUsbStream::Flush() {
    if (!IsValid()) return false;
    Stop();
    CLockGuard io(m_ioLock);
    RetireReads();
    ++m_generation;
    return CAsyncIoStream::Flush();
}

BOOL CWinUsbStream::IssueRead(uint8_t*, uint32_t, uint32_t) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

bool CWinUsbStream::CopyOut(uint8_t*, uint8_t*, uint32_t, uint32_t*) { return false; }

bool CWinUsbStream::SubmitRead(uint8_t* block) {
    if (!block) return true;
    {
        CLockGuard io(m_ioLock);
        if (IsStopped()) return false;
        const uint32_t index = SubmitIndex();
        const uint32_t length = BlockSize();
        if (index >= kMaxStreamBlocks || !m_events[index]) return false;
        if (m_inFlight[index]) {
            // An aborted read that has not come back yet still owns the slot.
            DWORD bytes = 0;
            if (::WaitForSingleObject(m_events[index].get(), 0) == WAIT_OBJECT_0 &&
                (m_api.GetOverlappedResult(m_interface, &m_overlapped[index], &bytes, FALSE) ||
                 ::GetLastError() != ERROR_IO_INCOMPLETE)) {
                m_inFlight[index] = false;
            }
        }
        if (!m_inFlight[index]) {
            m_overlapped[index] = OVERLAPPED{};
            m_overlapped[index].hEvent = m_events[index].get();
            ::ResetEvent(m_events[index].get());
            if (!HasPending()) OnIdleSubmit();
            if (IssueRead(block, index, length) || ::GetLastError() == ERROR_IO_PENDING) {
                m_inFlight[index] = true;
                m_slotGeneration[index] = m_generation;
                m_restart = 0;
                MarkSubmitted();
                return true;
            }
        }
    }
    ::Sleep(kRetryDelayMs);
    return false;
}

bool CWinUsbStream::CompleteRead(uint32_t* bytes, HANDLE wake) {
    *bytes = 0;
    const uint32_t index = WriteIndex();
    if (index >= kMaxStreamBlocks || !m_events[index]) return false;
    HANDLE waits[3] = {m_events[index].get(), m_halt.get(), wake};
    const DWORD wait = ::WaitForMultipleObjects(wake ? 3 : 2, waits, FALSE, kReadWaitMs);
    if (wait == WAIT_OBJECT_0 + 1) return false;  // stopped: the restart retires it
    if (wait == WAIT_OBJECT_0 + 2) return false;  // woken: the caller has reads to submit first
    if (wait != WAIT_OBJECT_0) {
        ::Sleep(kRetryDelayMs);
        return false;
    }
    bool ok = false;
    DWORD error = 0;
    {
        CLockGuard io(m_ioLock);
        // Retired by a restart or flush meanwhile: not ours to commit.
        if (!m_inFlight[index] || m_slotGeneration[index] != m_generation || IsStopped()) return false;
        DWORD transferred = 0;
        ok = m_api.GetOverlappedResult(m_interface, &m_overlapped[index], &transferred, FALSE) != FALSE;
        error = ok ? 0 : ::GetLastError();
        if (!ok && error == ERROR_IO_INCOMPLETE) return false;
        m_inFlight[index] = false;
        *bytes = transferred;
        CommitWrite(transferred);
        if (!HasPending()) m_restart = 1;
    }
    if (ok || error == ERROR_GEN_FAILURE) return true;
    ::Sleep(kRetryDelayMs);
    return false;
}

bool CWinUsbStream::CopyBlock(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* accumulated) {
    if (!block) return true;
    uint32_t copied = 0;
    const bool ok = CopyOut(block, destination, maxLength, &copied);
    *accumulated += copied;
    return ok;
}

// --- bulk -------------------------------------------------------------------

BOOL CWinUsbBulkStream::IssueRead(uint8_t* block, uint32_t index, uint32_t length) {
    CWinUsbBuffer* buffer = WinUsbBuffer();
    if (!buffer) return FALSE;
    return m_api.ReadPipe(m_interface, buffer->PipeId(), block, length, nullptr, &m_overlapped[index]);
}

// Copies what the block's read delivered; a short read is the end of the
// device's transfer, so it ends the fill instead of padding the frame with
// whatever the block held before.
bool CWinUsbBulkStream::CopyOut(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* copied) {
    CWinUsbBuffer* buffer = WinUsbBuffer();
    const uint32_t delivered = buffer ? buffer->BlockLength(ReadIndex()) : 0;
    const uint32_t n = std::min(maxLength, delivered);
    if (n) std::memcpy(destination, block, n);
    *copied = n;
    m_transferEnded = delivered < BlockSize() && n == delivered;
    ReleaseRead();
    return true;
}

// --- isochronous ------------------------------------------------------------

bool CWinUsbIsochStream::Setup(WINUSB_INTERFACE_HANDLE interfaceHandle, uint32_t packetSize) {
    if (!m_api.isochAvailable || packetSize == 0) return false;
    const uint32_t count = BlockCount();
    if (count < 1 || count > kMaxStreamBlocks) return false;
    m_packetsPerBlock = BlockSize() / packetSize;
    if (m_packetsPerBlock == 0) return false;
    for (uint32_t i = 0; i < count; ++i) {
        m_descriptors[i].reset(new (std::nothrow) USBD_ISO_PACKET_DESCRIPTOR[m_packetsPerBlock]());
        if (!m_descriptors[i]) return false;
    }
    m_packetCursor = 0;
    return CWinUsbStream::Setup(interfaceHandle, packetSize);
}

void CWinUsbIsochStream::Release() {
    if (!m_api.isochAvailable) return;
    CWinUsbStream::Release();
    // Descriptor arrays of reads that never came back stay with them.
    for (uint32_t i = 0; i < kMaxStreamBlocks; ++i) {
        if (m_events[i]) continue;
        m_descriptors[i].reset();
    }
}

void CWinUsbIsochStream::OnFillStart() {
    m_gap = 0;
    m_fillHasData = false;
}

// The packet cursor belongs to the block the sink is reading: it restarts
// only when no committed block is waiting, or the sink would read part of a
// block twice.
void CWinUsbIsochStream::OnIdleSubmit() {
    m_restart = 1;
    if (FilledCount() == 0) m_packetCursor = 0;
}

void CWinUsbIsochStream::Reset() {
    CWinUsbStream::Reset();
    m_packetCursor = 0;
}

BOOL CWinUsbIsochStream::IssueRead(uint8_t*, uint32_t index, uint32_t length) {
    auto* buffer = dynamic_cast<CWinUsbIsochBuffer*>(m_buffer);
    if (!buffer || !buffer->IsRegistered() || !m_descriptors[index]) return FALSE;
    // A read that fails leaves the descriptors as they are: cleared, they
    // describe empty packets rather than the packets of the block's last read.
    std::fill_n(m_descriptors[index].get(), m_packetsPerBlock, USBD_ISO_PACKET_DESCRIPTOR{});
    return m_api.ReadIsochPipeAsap(buffer->IsochHandle(), index * length, length, m_restart == 0, m_packetsPerBlock,
                                   m_descriptors[index].get(), &m_overlapped[index]);
}

bool CWinUsbIsochStream::CopyOut(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* copied) {
    *copied = 0;
    m_transferEnded = false;
    USBD_ISO_PACKET_DESCRIPTOR* packets = m_descriptors[ReadIndex() % kMaxStreamBlocks].get();
    if (!packets) return false;
    const uint32_t blockSize = BlockSize();
    bool result = true;
    while (m_packetCursor < m_packetsPerBlock && maxLength > 0) {
        USBD_ISO_PACKET_DESCRIPTOR& packet = packets[m_packetCursor];
        const bool badStatus = packet.Status != 0 && packet.Status != kUsbdStatusXactError;
        // The descriptor comes from the pipe: a packet that claims bytes
        // outside the block counts as empty.
        const bool inBlock = packet.Offset <= blockSize && packet.Length <= blockSize - packet.Offset;
        if (badStatus) result = false;
        if (badStatus || packet.Length == 0 || !inBlock) {
            if (m_fillHasData && ++m_gap > kMaxPacketGap) return false;
            ++m_packetCursor;
            continue;
        }
        const uint32_t n = std::min<uint32_t>(packet.Length, maxLength);
        std::memcpy(destination, block + packet.Offset, n);
        *copied += n;
        destination += n;
        maxLength -= n;
        m_gap = 0;
        m_fillHasData = true;
        if (n < packet.Length) {
            packet.Offset += n;
            packet.Length -= n;
            return result;
        }
        ++m_packetCursor;
    }
    if (m_packetCursor >= m_packetsPerBlock) {
        ReleaseRead();
        m_packetCursor = 0;
    }
    return result;
}

}  // namespace orvo
