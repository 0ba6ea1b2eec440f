// A device object that carries a camera's traffic straight to an emulated
// USB model in the same process: commands to the command endpoint, reads
// from the response and data endpoints, vendor requests to the model.
#pragma once
#include <windows.h>
#include <atomic>

#include "camera_api/transport/device.h"
#include "emulator/usb_model.h"
#include "win32/critical_section.h"

namespace orvo::emu {

class CModelUsbDevice final : public CDevice {
public:
    explicit CModelUsbDevice(IUsbDeviceModel& model, uint16_t release = 0x0100) : m_model(model), m_release(release) {}

    int32_t IsUsbDevice() override { return 1; }
    int32_t OpenDevice(const wchar_t*) override { return 1; }
    int32_t GetVendorId() override { return 0; }
    int32_t GetProductId() override { return 0; }
    int32_t GetReleaseMajor() override { return m_release >> 8; }
    int32_t GetReleaseMinor() override { return m_release & 0xFF; }
    int32_t GetProductString(uint32_t, wchar_t*) override { return 0; }
    int32_t GetSerialNumber(uint32_t, wchar_t*) override { return 0; }
    int32_t Open(const wchar_t*, IDeviceListener*) override { return 1; }
    void Close() override {}
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

    uint32_t Aborts() const { return m_aborts.load(); }

private:
    struct Pending {
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        HANDLE event = nullptr;
    };
    int32_t Read(uint8_t endpoint, uint8_t* buffer, uint32_t length, uint32_t* bytesRead, DWORD timeoutMs);
    int32_t Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* buffer,
                    uint32_t length, uint32_t* moved);

    IUsbDeviceModel& m_model;
    uint16_t m_release;
    Pending m_response;
    Pending m_data;
    std::atomic<uint32_t> m_aborts{0};
};

}  // namespace orvo::emu
