// A camera reached through WinUSB. Commands and responses go through the
// pipes directly; image data goes through the stream engine.
#pragma once
#include <windows.h>
#include <winusb.h>
#include <cstdint>

#include "camera_api/transport/device.h"
#include "camera_api/transport/winusb_api.h"
#include "camera_api/transport/winusb_stream_engine.h"
#include "win32/unique_handle.h"

namespace orvo {

class CWinUsbDevice : public CDevice {
public:
    CWinUsbDevice();
    ~CWinUsbDevice() override;
    CWinUsbDevice(const CWinUsbDevice&) = delete;
    CWinUsbDevice& operator=(const CWinUsbDevice&) = delete;

    int32_t IsUsbDevice() override { return 1; }
    int32_t IsIsochronous() override;
    int32_t IsWinUsb() override { return 1; }
    int32_t OpenDevice(const wchar_t* path) override;
    int32_t GetVendorId() override;
    int32_t GetProductId() override;
    int32_t GetReleaseMajor() override;
    int32_t GetReleaseMinor() override;
    int32_t GetProductString(uint32_t maxChars, wchar_t* out) override;
    int32_t GetSerialNumber(uint32_t maxChars, wchar_t* out) override;
    int32_t Open(const wchar_t* path, IDeviceListener* listener) override;
    void Close() override;
    int32_t StartListener() override { return 0; }
    int32_t StopThreads() override;
    int32_t Write(const uint8_t* data, uint32_t length) override;
    int32_t AbortStream() override;
    int32_t ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) override;
    int32_t BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) override;
    int32_t WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) override;
    int32_t ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) override;
    int32_t BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) override;
    int32_t WaitData(uint32_t* bytesRead, DWORD timeoutMs) override;
    int32_t ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* buffer, uint32_t length) override;
    int32_t ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                           uint8_t* buffer, uint32_t length) override;
    int32_t ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                       uint8_t* buffer, uint32_t length) override;

    // What the last Open found, for the tests of the pipe walk.
    uint8_t CommandPipeId() const noexcept { return m_commandPipeId; }
    uint8_t ResponsePipeId() const noexcept { return m_responsePipeId; }
    uint8_t DataPipeId() const noexcept { return m_dataPipeId; }
    uint32_t CommandChunk() const noexcept { return m_commandChunk; }
    uint32_t ResponseChunk() const noexcept { return m_responseChunk; }
    const CWinUsbStreamEngine& Engine() const noexcept { return m_engine; }

private:
    static constexpr uint8_t kNoPipe = 0xFF;
    static bool ValidPipe(uint8_t pipeId) noexcept { return pipeId != kNoPipe && (pipeId & 0x0F) == (pipeId & 0x7F); }

    bool SelectInterface(USB_INTERFACE_DESCRIPTOR& setting);
    bool WalkPipes(const USB_INTERFACE_DESCRIPTOR& setting);
    bool SetupDataPipe(const WINUSB_PIPE_INFORMATION_EX& pipe);
    bool GetString(uint8_t index, uint32_t maxChars, wchar_t* out);
    int32_t Control(bool in, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                    uint8_t* buffer, uint32_t length, uint32_t* moved);
    bool WaitPipe(OVERLAPPED& overlapped, uint8_t pipeId, DWORD timeoutMs, DWORD* bytes);
    void MarkFailed();

    int32_t m_failed = 0;
    win32::UniqueFileHandle m_file;
    WINUSB_INTERFACE_HANDLE m_interface = nullptr;
    uint8_t m_commandPipeId = kNoPipe;
    uint8_t m_responsePipeId = kNoPipe;
    uint8_t m_dataPipeId = kNoPipe;
    OVERLAPPED m_dataOverlapped = {};
    OVERLAPPED m_responseOverlapped = {};
    uint8_t* m_responseCursor = nullptr;
    uint32_t m_responseLength = 0;
    uint32_t m_commandChunk = 0;
    uint32_t m_responseChunk = 0;
    IDeviceListener* m_listener = nullptr;
    wchar_t m_path[kMaxDevicePathChars + 1] = {};
    uint8_t m_deviceDescriptor[kDeviceDescriptorLength] = {};
    CWinUsbStreamEngine m_engine;
    WinUsbApi m_winUsb;
};

}  // namespace orvo
