// Block rings of a WinUSB data pipe. The bulk ring remembers the pipe and
// what each block's read returned; the isochronous ring is also registered
// with WinUSB, which reads into it by offset.
#pragma once
#include <windows.h>
#include <winusb.h>
#include <cstdint>
#include <memory>

#include "camera_api/transport/stream_buffer.h"
#include "camera_api/transport/winusb_api.h"

namespace orvo {

class CWinUsbBuffer : public CStreamBuffer {
public:
    CWinUsbBuffer() { BindWinUsb(m_api); }

    bool Allocate(uint32_t blockSize, uint32_t blockCount) override;
    void Free() override;
    int SetBlockLength(uint32_t index, uint32_t length) override;
    virtual bool BindPipe(WINUSB_INTERFACE_HANDLE interfaceHandle, uint8_t pipeId);
    virtual bool UnbindPipe() { return true; }

    uint8_t PipeId() const noexcept { return m_pipeId; }
    // Bytes the last read of block index delivered.
    uint32_t BlockLength(uint32_t index) const noexcept;

protected:
    WinUsbApi m_api;
    uint8_t m_pipeId = 0xFF;

private:
    std::unique_ptr<uint32_t[]> m_lengths;
};

class CWinUsbIsochBuffer : public CWinUsbBuffer {
public:
    ~CWinUsbIsochBuffer() override;
    bool BindPipe(WINUSB_INTERFACE_HANDLE interfaceHandle, uint8_t pipeId) override;
    bool UnbindPipe() override;

    WINUSB_ISOCH_BUFFER_HANDLE IsochHandle() const noexcept { return m_isochHandle; }
    bool IsRegistered() const noexcept { return m_isochHandle != kUnregistered; }

private:
    static inline const WINUSB_ISOCH_BUFFER_HANDLE kUnregistered = reinterpret_cast<WINUSB_ISOCH_BUFFER_HANDLE>(-1);
    WINUSB_ISOCH_BUFFER_HANDLE m_isochHandle = kUnregistered;
};

}  // namespace orvo
