// A device object over an emulated device in the same process, for unit
// tests of the cameras: the same operations as the WinUSB transport, served
// synchronously by the model (with its faults), no threads and no DLL. The
// one in-process adapter for every camera model.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

#include "camera_api/transport/device.h"
#include "emulator/usb_model.h"
#include "win32/unique_handle.h"

namespace orvo::emu {

class CModelDevice : public CDevice {
public:
    // winUsb: what the device reports to the camera as its kind (info 0).
    explicit CModelDevice(IUsbDeviceModel& model, bool winUsb = true);
    ~CModelDevice() override;
    CModelDevice(const CModelDevice&) = delete;
    CModelDevice& operator=(const CModelDevice&) = delete;

    int32_t IsUsbDevice() override { return 1; }
    int32_t IsIsochronous() override { return m_isochronous ? 1 : 0; }
    int32_t IsWinUsb() override { return m_winUsb ? 1 : 0; }
    // Bound of the synchronous response and data reads (the real ones wait
    // 5000 ms): a mute camera then fails its handshake quickly.
    void SetSyncReadTimeout(DWORD ms) { m_syncTimeoutMs = ms; }
    // Every command write fails while set, as with a cable that carries
    // nothing out; the device is not marked lost by it.
    void FailWrites(bool fail) { m_failWrites = fail; }
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
    int32_t StopThreads() override { return 1; }
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

private:
    static constexpr uint8_t kNoPipe = 0xFF;
    // One transfer with the model's faults applied; waits for data until the
    // deadline. Returns false on failure or time-out.
    bool Transfer(uint8_t endpoint, bool in, uint8_t* data, uint32_t length, uint32_t* moved, ULONGLONG deadline);
    bool FillIsoch(uint8_t* buffer, uint32_t length, uint32_t* filled, ULONGLONG deadline);
    bool Control(bool in, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                 uint8_t* buffer, uint32_t length, uint32_t* moved);
    void MarkFailed();

    IUsbDeviceModel& m_model;
    bool m_winUsb;
    volatile bool m_failWrites = false;
    DWORD m_syncTimeoutMs = kTransferTimeoutMs;
    win32::UniqueHandle m_wake;
    bool m_opened = false;
    int32_t m_failed = 0;
    uint8_t m_descriptor[kDeviceDescriptorLength] = {};
    uint8_t m_commandPipe = kNoPipe, m_responsePipe = kNoPipe, m_dataPipe = kNoPipe;
    uint32_t m_commandChunk = 0, m_responseChunk = 0;
    uint32_t m_packetSize = 0;
    bool m_isochronous = false;
    IDeviceListener* m_listener = nullptr;
    uint8_t* m_responseBuffer = nullptr;
    uint32_t m_responseLength = 0;
    HANDLE m_responseEvent = nullptr;
    uint8_t* m_dataBuffer = nullptr;
    uint32_t m_dataLength = 0;
    HANDLE m_dataEvent = nullptr;
    // Isochronous bytes of a packet the last frame did not take.
    std::vector<uint8_t> m_leftover;
};

}  // namespace orvo::emu
