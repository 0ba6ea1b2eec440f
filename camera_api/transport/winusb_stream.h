// Rings of overlapped reads on a WinUSB data pipe, one read per block, in
// flight at most blockCount at a time and completed in submission order.
#pragma once
#include <windows.h>
#include <winusb.h>
#include <cstdint>
#include <memory>

#include "camera_api/transport/data_stream.h"
#include "camera_api/transport/winusb_api.h"
#include "camera_api/transport/winusb_buffer.h"
#include "win32/unique_handle.h"

namespace orvo {

constexpr uint32_t kMaxStreamBlocks = 4;

class CWinUsbStream : public CAsyncIoStream {
public:
    CWinUsbStream();
    ~CWinUsbStream() override;

    // Restarting retires every read still in flight first, so that no block
    // or OVERLAPPED is handed out again while the pipe may still complete
    // into it.
    void Start() override;
    void Stop() override;
    bool Flush() override;

    virtual bool Setup(WINUSB_INTERFACE_HANDLE interfaceHandle, uint32_t packetSize);
    virtual void Release();
    virtual void OnIdleSubmit() { m_restart = 1; }
    virtual BOOL IssueRead(uint8_t* block, uint32_t index, uint32_t length);
    virtual bool CopyOut(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* copied);
    // A new fill begins: copy state that spans blocks starts over.
    virtual void OnFillStart() {}

    bool SubmitRead(uint8_t* block);
    // Waits for the oldest read and commits it; gives up early, committing
    // nothing, when wake is set meanwhile.
    bool CompleteRead(uint32_t* bytes, HANDLE wake = nullptr);
    bool CopyBlock(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* accumulated);

    // True when the last block copied out ended the device's transfer early.
    bool TransferEnded() const noexcept { return m_transferEnded; }
    const WinUsbApi& Api() const noexcept { return m_api; }

protected:
    CWinUsbBuffer* WinUsbBuffer() const noexcept { return dynamic_cast<CWinUsbBuffer*>(m_buffer); }
    void RetireReads();  // with m_ioLock held

    WINUSB_INTERFACE_HANDLE m_interface = nullptr;
    OVERLAPPED m_overlapped[kMaxStreamBlocks] = {};
    win32::UniqueHandle m_events[kMaxStreamBlocks];
    int32_t m_restart = 1;
    WinUsbApi m_api;
    bool m_transferEnded = false;

private:
    // Serialises submission and collection of reads (source thread) with the
    // restart, stop and flush of the camera thread. Taken before m_lock.
    CLock m_ioLock;
    bool m_inFlight[kMaxStreamBlocks] = {};
    uint32_t m_slotGeneration[kMaxStreamBlocks] = {};
    uint32_t m_generation = 0;
    // Set while stopped, so that a wait for a read does not outlast a stop.
    win32::UniqueHandle m_halt;
};

class CWinUsbBulkStream : public CWinUsbStream {
public:
    BOOL IssueRead(uint8_t* block, uint32_t index, uint32_t length) override;
    bool CopyOut(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* copied) override;
};

class CWinUsbIsochStream : public CWinUsbStream {
public:
    bool Setup(WINUSB_INTERFACE_HANDLE interfaceHandle, uint32_t packetSize) override;
    void Release() override;
    void Reset() override;
    void OnIdleSubmit() override;
    BOOL IssueRead(uint8_t* block, uint32_t index, uint32_t length) override;
    bool CopyOut(uint8_t* block, uint8_t* destination, uint32_t maxLength, uint32_t* copied) override;
    void OnFillStart() override;

    uint32_t PacketsPerBlock() const noexcept { return m_packetsPerBlock; }
    uint32_t PacketCursor() const noexcept { return m_packetCursor; }

private:
    std::unique_ptr<USBD_ISO_PACKET_DESCRIPTOR[]> m_descriptors[kMaxStreamBlocks];
    uint32_t m_packetCursor = 0;
    uint32_t m_packetsPerBlock = 0;
    // The run of empty packets and whether the fill has data yet span block
    // boundaries, so a frame that ends near the end of a block still ends.
    uint32_t m_gap = 0;
    bool m_fillHasData = false;
};

}  // namespace orvo
