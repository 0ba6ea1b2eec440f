// The data-pipe engine of a WinUSB device: a ring of four blocks kept under
// reads by a source thread, and a sink thread that copies committed blocks
// into the buffer of the fill the camera started.
#pragma once
#include <windows.h>
#include <winusb.h>
#include <atomic>
#include <cstdint>

#include "camera_api/transport/lock.h"
#include "camera_api/transport/winusb_api.h"
#include "camera_api/transport/winusb_buffer.h"
#include "camera_api/transport/winusb_sockets.h"
#include "camera_api/transport/winusb_stream.h"
#include "win32/unique_handle.h"

namespace orvo {

// Ring geometry, exposed for the set-up arithmetic's tests.
uint32_t IsochBlockSize(uint8_t interval, uint32_t maxBytesPerInterval) noexcept;
uint32_t BulkBlockSize(uint32_t maxTransferSize, uint32_t maxPacketSize) noexcept;

class CWinUsbStreamEngine {
public:
    CWinUsbStreamEngine() { BindWinUsb(m_api); }
    ~CWinUsbStreamEngine();
    CWinUsbStreamEngine(const CWinUsbStreamEngine&) = delete;
    CWinUsbStreamEngine& operator=(const CWinUsbStreamEngine&) = delete;

    bool SetupIsochronous(WINUSB_INTERFACE_HANDLE interfaceHandle, const WINUSB_PIPE_INFORMATION_EX& pipe);
    bool SetupBulk(WINUSB_INTERFACE_HANDLE interfaceHandle, uint8_t pipeId, uint16_t maxPacketSize);
    bool IsSetUp() const noexcept { return m_setUp; }
    bool IsIsochronous() const noexcept { return m_isochronous != 0; }

    bool StartFill(uint8_t* buffer, uint32_t length);
    bool FinishFill(uint32_t* bytesRead, DWORD timeoutMs);
    void Abort();
    void StopThreads();
    // Unregisters the isochronous ring and releases both streams; the
    // interface handle must still be open.
    void Release();

    CWinUsbStream& ActiveStream() noexcept;
    const CWinUsbBuffer& ActiveBuffer() const noexcept;

private:
    bool ConnectSockets(CWinUsbStream& stream);
    bool EnsureThreads();
    bool StartThread(win32::UniqueHandle& thread, LPTHREAD_START_ROUTINE proc);
    static DWORD WINAPI SinkThread(void* self);
    static DWORD WINAPI SourceThread(void* self);
    void RunSink();
    void RunSource();
    void PumpReads(CWinUsbStream& stream);
    bool SinkReachedEnd() const noexcept;

    WinUsbApi m_api;
    CWinUsbIsochBuffer m_isochBuffer;
    CWinUsbIsochStream m_isochStream;
    CWinUsbBuffer m_bulkBuffer;
    CWinUsbBulkStream m_bulkStream;
    CWinUsbSource m_source;
    CWinUsbSink m_sink;
    win32::UniqueHandle m_sourceThread;
    win32::UniqueHandle m_sinkThread;
    win32::UniqueHandle m_requestEvent;  // auto-reset: a fill was started
    win32::UniqueHandle m_doneEvent;     // auto-reset: the fill ended
    win32::UniqueHandle m_quitEvent;     // manual-reset: threads end
    win32::UniqueHandle m_stoppedEvent;  // auto-reset: the source saw the stop
    std::atomic<int32_t> m_quit{0};
    int32_t m_isochronous = 0;
    bool m_setUp = false;
    // Held by the sink thread while it copies, and by the camera thread while
    // it hands a buffer in or takes it back: once FinishFill returns, no copy
    // touches the caller's buffer.
    CLock m_fillLock;
};

}  // namespace orvo
