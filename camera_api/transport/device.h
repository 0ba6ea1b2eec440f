// A camera's USB device, whichever transport carries it. Operations report
// failure as 0 and never throw; callers serialise calls on one object.
#pragma once
#include <windows.h>
#include <cstdint>

namespace orvo {

// Optional observer of a device object (the library's camera holder passes
// none).
class IDeviceListener {
public:
    virtual void OnData(const uint8_t* data, uint32_t length) = 0;
    virtual void OnDeviceLost() = 0;
    virtual void OnOpened() = 0;

protected:
    ~IDeviceListener() = default;
};

// Control-transfer types and recipients.
enum : uint8_t { kControlStandard = 0, kControlClass = 1, kControlVendor = 2 };
enum : uint8_t { kRecipientDevice = 0, kRecipientInterface = 1, kRecipientEndpoint = 2, kRecipientOther = 3 };

constexpr uint32_t kDeviceDescriptorLength = 18;
constexpr uint32_t kMaxDevicePathChars = 260;
constexpr DWORD kTransferTimeoutMs = 5000;

class CDevice {
public:
    virtual ~CDevice() = default;
    virtual int32_t IsUsbDevice() { return 0; }
    virtual int32_t IsIsochronous() { return 0; }
    virtual int32_t IsWinUsb() { return 0; }
    virtual int32_t OpenDevice(const wchar_t* path) = 0;
    virtual int32_t GetVendorId() = 0;
    virtual int32_t GetProductId() = 0;
    virtual int32_t GetReleaseMajor() = 0;
    virtual int32_t GetReleaseMinor() = 0;
    virtual int32_t GetProductString(uint32_t maxChars, wchar_t* out) = 0;
    virtual int32_t GetSerialNumber(uint32_t maxChars, wchar_t* out) = 0;
    virtual int32_t Open(const wchar_t* path, IDeviceListener* listener) = 0;
    virtual void Close() = 0;
    virtual int32_t StartListener() = 0;
    virtual int32_t StopThreads() = 0;
    virtual int32_t Write(const uint8_t* data, uint32_t length) = 0;
    virtual int32_t AbortStream() = 0;
    virtual int32_t ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) = 0;
    virtual int32_t BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) = 0;
    virtual int32_t WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) = 0;
    virtual int32_t ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) = 0;
    virtual int32_t BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) = 0;
    virtual int32_t WaitData(uint32_t* bytesRead, DWORD timeoutMs) = 0;
    virtual int32_t ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                              uint8_t* buffer, uint32_t length) = 0;
    virtual int32_t ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                   uint8_t* buffer, uint32_t length) = 0;
    virtual int32_t ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                               uint8_t* buffer, uint32_t length) = 0;
};

}  // namespace orvo
