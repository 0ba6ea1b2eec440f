// A camera reached through the orvoUsb driver: one file per pipe, overlapped
// reads and writes, and the driver's I/O control requests.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>

#include "camera_api/transport/device.h"
#include "win32/unique_handle.h"

namespace orvo {

// The file a pipe is opened by: the interface path, "\\.\" and "orvoUsb<n>".
std::wstring PipeFileName(const wchar_t* path, unsigned pipe);

class CUsbDevice : public CDevice {
public:
    CUsbDevice();
    ~CUsbDevice() override;
    CUsbDevice(const CUsbDevice&) = delete;
    CUsbDevice& operator=(const CUsbDevice&) = delete;

    int32_t IsUsbDevice() override { return 1; }
    int32_t IsIsochronous() override { return 0; }
    int32_t IsWinUsb() override { return 0; }
    int32_t OpenDevice(const wchar_t* path) override;
    int32_t GetVendorId() override;
    int32_t GetProductId() override;
    int32_t GetReleaseMajor() override;
    int32_t GetReleaseMinor() override;
    int32_t GetProductString(uint32_t maxChars, wchar_t* out) override;
    int32_t GetSerialNumber(uint32_t maxChars, wchar_t* out) override;
    int32_t Open(const wchar_t* path, IDeviceListener* listener) override;
    void Close() override;
    int32_t StartListener() override;
    int32_t StopThreads() override;
    int32_t Write(const uint8_t* data, uint32_t length) override;
    int32_t AbortStream() override { return 0; }
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

    bool IsFailed() const noexcept { return m_failed.load() != 0; }

protected:
    // The six calls this class makes on the driver's files, Win32's by
    // default: a seam for running the class against a stand-in of the
    // driver. GetOverlappedResult stays Win32's.
    virtual HANDLE CreateFileW(const wchar_t* name);
    virtual BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                                 DWORD* returned, OVERLAPPED* overlapped);
    virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped);
    virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped);
    virtual BOOL ReadFileEx(HANDLE file, void* buffer, DWORD length, OVERLAPPED* overlapped,
                            LPOVERLAPPED_COMPLETION_ROUTINE routine);
    virtual BOOL CancelIo(HANDLE file);

private:
    // An I/O control on an overlapped handle, waited for.
    BOOL DeviceControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                       DWORD* returned);
    bool Control(DWORD code, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                 uint8_t* buffer, uint32_t length, uint32_t* moved);
    bool GetString(uint8_t index, uint32_t maxChars, wchar_t* out);
    bool BeginRead(win32::UniqueFileHandle& pipe, OVERLAPPED& overlapped, uint8_t* buffer, uint32_t length,
                   HANDLE event);
    bool WaitRead(win32::UniqueFileHandle& pipe, OVERLAPPED& overlapped, uint32_t* bytesRead, DWORD timeoutMs);
    bool ListenerRunning() const noexcept;
    void MarkFailed();
    static DWORD WINAPI ListenerThread(void* self);
    static VOID CALLBACK ListenerReadDone(DWORD error, DWORD bytes, LPOVERLAPPED overlapped);
    void RunListener();

    std::atomic<int32_t> m_failed{0};
    win32::UniqueFileHandle m_deviceHandle;
    win32::UniqueFileHandle m_commandPipe;
    win32::UniqueFileHandle m_responsePipe;
    win32::UniqueFileHandle m_dataPipe;
    win32::UniqueHandle m_stopEvent;
    win32::UniqueHandle m_listenerThread;
    int32_t m_completionSeen = 0;
    DWORD m_completionError = 0;
    DWORD m_completionBytes = 0;
    OVERLAPPED m_dataOverlapped = {};
    OVERLAPPED m_responseOverlapped = {};
    IDeviceListener* m_listener = nullptr;
    wchar_t m_path[kMaxDevicePathChars + 1] = {};
    uint8_t m_deviceDescriptor[kDeviceDescriptorLength] = {};
};

}  // namespace orvo
