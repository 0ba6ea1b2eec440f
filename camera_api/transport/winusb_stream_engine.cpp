#include "camera_api/transport/winusb_stream_engine.h"

#include "win32/pinned_thread.h"

namespace orvo {
namespace {

constexpr uint32_t kRingBlocks = 4;
constexpr uint32_t kIsochMsPerBlock = 50;
// Rings beyond this are a pipe description no camera has.
constexpr uint64_t kMaxBlockSize = 64u << 20;
constexpr DWORD kStopWaitMs = 500;
constexpr DWORD kThreadJoinMs = 10000;

}  // namespace

uint32_t IsochBlockSize(uint8_t interval, uint32_t maxBytesPerInterval) noexcept {
    if (interval == 0 || maxBytesPerInterval == 0) return 0;
    const uint64_t size = uint64_t(8 / interval) * maxBytesPerInterval * kIsochMsPerBlock;
    return size > kMaxBlockSize ? 0 : uint32_t(size);
}

uint32_t BulkBlockSize(uint32_t maxTransferSize, uint32_t maxPacketSize) noexcept {
    if (maxPacketSize == 0) return 0;
    const uint64_t size = uint64_t(maxPacketSize) * ((maxTransferSize / maxPacketSize) / kRingBlocks);
    return size > kMaxBlockSize ? 0 : uint32_t(size);
}

CWinUsbStreamEngine::~CWinUsbStreamEngine() { StopThreads(); }

bool CWinUsbStreamEngine::SetupIsochronous(WINUSB_INTERFACE_HANDLE interfaceHandle,
                                           const WINUSB_PIPE_INFORMATION_EX& pipe) {
    if (m_setUp) return m_isochronous != 0;
    const uint32_t blockSize = IsochBlockSize(pipe.Interval, pipe.MaximumBytesPerInterval);
    if (!m_isochBuffer.Allocate(blockSize, kRingBlocks)) return false;
    if (!m_isochBuffer.BindPipe(interfaceHandle, pipe.PipeId)) return false;
    if (!m_isochStream.AttachBuffer(&m_isochBuffer)) return false;
    if (!m_isochStream.Setup(interfaceHandle, pipe.MaximumBytesPerInterval)) return false;
    m_isochronous = ConnectSockets(m_isochStream) ? 1 : 0;
    m_setUp = m_isochronous != 0;
    return m_setUp;
}

bool CWinUsbStreamEngine::SetupBulk(WINUSB_INTERFACE_HANDLE interfaceHandle, uint8_t pipeId,
                                    uint16_t maxPacketSize) {
    if (m_setUp) return m_isochronous == 0;
    ULONG maxTransfer = 0;
    ULONG valueLength = sizeof(maxTransfer);
    if (!m_api.GetPipePolicy(interfaceHandle, pipeId, MAXIMUM_TRANSFER_SIZE, &valueLength, &maxTransfer)) return false;
    const uint32_t blockSize = BulkBlockSize(maxTransfer, maxPacketSize);
    if (!m_bulkBuffer.Allocate(blockSize, kRingBlocks)) return false;
    if (!m_bulkBuffer.BindPipe(interfaceHandle, pipeId)) return false;
    if (!m_bulkStream.AttachBuffer(&m_bulkBuffer)) return false;
    if (!m_bulkStream.Setup(interfaceHandle, maxPacketSize)) return false;
    ULONG rawIo = 1;
    if (!m_api.SetPipePolicy(interfaceHandle, pipeId, RAW_IO, sizeof(ULONG), &rawIo)) return false;
    m_setUp = ConnectSockets(m_bulkStream);
    return m_setUp;
}

bool CWinUsbStreamEngine::ConnectSockets(CWinUsbStream& stream) {
    if (!m_source.Attach(&stream) || !m_sink.Attach(&stream)) return false;
    m_requestEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_doneEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_quitEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_stoppedEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return m_requestEvent && m_doneEvent && m_quitEvent && m_stoppedEvent && m_source.GetEvent() &&
           m_sink.GetEvent();
}

CWinUsbStream& CWinUsbStreamEngine::ActiveStream() noexcept {
    if (m_isochronous) return m_isochStream;
    return m_bulkStream;
}

const CWinUsbBuffer& CWinUsbStreamEngine::ActiveBuffer() const noexcept {
    if (m_isochronous) return m_isochBuffer;
    return m_bulkBuffer;
}

bool CWinUsbStreamEngine::StartThread(win32::UniqueHandle& thread, LPTHREAD_START_ROUTINE proc) {
    thread.reset(win32::CreatePinnedThread(proc, this, CREATE_SUSPENDED));
    if (!thread) return false;
    const bool prioritised = ::SetThreadPriority(thread.get(), THREAD_PRIORITY_HIGHEST) != FALSE;
    // A thread that could not be prioritised still runs, so it can be joined.
    const bool resumed = ::ResumeThread(thread.get()) != DWORD(-1);
    return prioritised && resumed;
}

bool CWinUsbStreamEngine::EnsureThreads() {
    if (m_sinkThread && m_sourceThread) return true;
    m_quit = 0;
    ::ResetEvent(m_quitEvent.get());
    if (!m_sinkThread && !StartThread(m_sinkThread, &SinkThread)) return false;
    if (!m_sourceThread && !StartThread(m_sourceThread, &SourceThread)) return false;
    return true;
}

bool CWinUsbStreamEngine::StartFill(uint8_t* buffer, uint32_t length) {
    if (!m_setUp || !buffer || length == 0) return false;
    if (!EnsureThreads()) return false;
    CWinUsbStream& stream = ActiveStream();
    if (!m_isochronous) {
        // The source submits no read beyond the frame.
        m_source.SetTotal(0);
        m_source.SetEndPosition(length);
    }
    stream.Start();
    {
        CLockGuard fill(m_fillLock);
        m_sink.SetTotal(0);
        m_sink.SetEndPosition(length);
        m_sink.SetDestination(buffer);
        ::ResetEvent(m_doneEvent.get());
    }
    ::SetEvent(m_requestEvent.get());
    return true;
}

bool CWinUsbStreamEngine::FinishFill(uint32_t* bytesRead, DWORD timeoutMs) {
    const bool done = ::WaitForSingleObject(m_doneEvent.get(), timeoutMs) == WAIT_OBJECT_0;
    {
        CLockGuard fill(m_fillLock);
        m_sink.SetDestination(nullptr);
        *bytesRead = m_sink.Total();
    }
    if (!m_isochronous) m_bulkStream.Stop();
    return done;
}

void CWinUsbStreamEngine::Abort() {
    if (!m_setUp) return;
    CWinUsbStream& stream = ActiveStream();
    if (!stream.IsStopped()) {
        ::ResetEvent(m_stoppedEvent.get());
        stream.Stop();
        if (m_sourceThread) ::WaitForSingleObject(m_stoppedEvent.get(), kStopWaitMs);
    }
    // Not while the sink is inside a block.
    CLockGuard fill(m_fillLock);
    stream.Flush();
}

void CWinUsbStreamEngine::StopThreads() {
    Abort();
    m_quit = 1;
    if (m_quitEvent) ::SetEvent(m_quitEvent.get());
    for (win32::UniqueHandle* thread : {&m_sinkThread, &m_sourceThread}) {
        if (!*thread) continue;
        if (::WaitForSingleObject(thread->get(), kThreadJoinMs) == WAIT_OBJECT_0) {
            thread->reset();
        } else {
            thread->release();  // still running: its handle is not ours to close under it
        }
    }
}

void CWinUsbStreamEngine::Release() {
    StopThreads();
    m_isochBuffer.UnbindPipe();
    m_isochStream.Release();
    m_bulkStream.Release();
}

DWORD WINAPI CWinUsbStreamEngine::SinkThread(void* self) {
    static_cast<CWinUsbStreamEngine*>(self)->RunSink();
    return 0;
}

DWORD WINAPI CWinUsbStreamEngine::SourceThread(void* self) {
    static_cast<CWinUsbStreamEngine*>(self)->RunSource();
    return 0;
}

bool CWinUsbStreamEngine::SinkReachedEnd() const noexcept {
    const uint32_t end = m_sink.EndPosition();
    return (end != 0 && m_sink.Total() >= end) || m_sink.Ended();
}

void CWinUsbStreamEngine::RunSink() {
    bool active = false;
    for (;;) {
        HANDLE waits[3] = {m_quitEvent.get(), m_requestEvent.get(), m_sink.GetEvent()};
        const DWORD wait = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 || wait > WAIT_OBJECT_0 + 2) {
            ::ResetEvent(m_requestEvent.get());
            ::ResetEvent(m_sink.GetEvent());
            return;
        }
        if (wait == WAIT_OBJECT_0 + 1) active = true;
        if (!active) continue;
        CLockGuard fill(m_fillLock);
        if (!m_sink.HasDestination()) {
            active = false;
            continue;
        }
        while (!SinkReachedEnd() && m_quit == 0 && m_sink.HasReadBlock()) {
            m_sink.Advance();
            if (m_sink.Error()) break;
        }
        if (SinkReachedEnd() || m_sink.Error()) {
            active = false;
            ::SetEvent(m_doneEvent.get());
        }
    }
}

void CWinUsbStreamEngine::RunSource() {
    for (;;) {
        HANDLE waits[2] = {m_quitEvent.get(), m_source.GetEvent()};
        const DWORD wait = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (wait != WAIT_OBJECT_0 + 1) {
            ::ResetEvent(m_source.GetEvent());
            return;
        }
        CWinUsbStream& stream = ActiveStream();
        if (m_source.IsStopped()) {
            ::SetEvent(m_stoppedEvent.get());
            continue;
        }
        PumpReads(stream);
        if (stream.IsStopped()) ::SetEvent(m_stoppedEvent.get());
    }
}

// Every block the sink gives back goes under a read again at once, also while
// the source waits for a completion: the depth lost while the sink held
// blocks comes back, and the isochronous stream keeps continuing instead of
// restarting at every block. A read that cannot be issued is retried 10 ms
// later (the failed submission waited that long), but never ahead of
// collecting the reads in flight.
void CWinUsbStreamEngine::PumpReads(CWinUsbStream& stream) {
    while (m_quit == 0 && !stream.IsStopped()) {
        bool refused = false;
        while (m_quit == 0 && !stream.IsStopped() && m_source.CanWrite()) {
            if (!m_source.Submit()) {
                refused = true;
                break;
            }
        }
        if (!m_source.HasPendingReads()) {
            if (refused) continue;
            return;
        }
        m_source.Advance();
    }
}

}  // namespace orvo
