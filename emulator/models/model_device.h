// A device object that carries a camera's traffic to an emulated camera in
// the same process: commands to the model, status packets and frames back,
// vendor control transfers to its memory. Reads complete as soon as the model
// has something, from whichever thread fed it.
#pragma once
#include <vector>

#include "camera_api/transport/device.h"
#include "emulator/models/command_status_model.h"
#include "win32/critical_section.h"

namespace orvo::emu {

class ModelDevice final : public CDevice {
public:
    explicit ModelDevice(CommandStatusModel& model, bool winUsb = false) : m_model(model), m_winUsb(winUsb) {}

    // Runs f on the model under the device's lock, then completes any read
    // the model can now answer. For tests that change the camera meanwhile.
    template <class F>
    auto WithModel(F f) {
        win32::CriticalSectionLock lock(m_lock);
        struct Complete {
            ModelDevice& device;
            ~Complete() { device.CompleteReads(); }
        } complete{*this};
        return f(m_model);
    }
    // After this every transfer fails, as with a camera pulled out.
    void Unplug();
    // Bound of the synchronous reads (the real ones wait 5000 ms).
    void SetSyncReadTimeout(DWORD ms) { m_syncTimeoutMs = ms; }
    void FailWrites(bool fail) { m_failWrites = fail; }

    int32_t IsUsbDevice() override { return 1; }
    int32_t IsWinUsb() override { return m_winUsb ? 1 : 0; }
    int32_t OpenDevice(const wchar_t*) override { return 1; }
    int32_t GetVendorId() override { return 0; }
    int32_t GetProductId() override { return 0; }
    int32_t GetReleaseMajor() override { return 1; }
    int32_t GetReleaseMinor() override { return 0; }
    int32_t GetProductString(uint32_t, wchar_t*) override { return 0; }
    int32_t GetSerialNumber(uint32_t, wchar_t*) override { return 0; }
    int32_t Open(const wchar_t*, IDeviceListener*) override { return 1; }
    void Close() override {}
    int32_t StartListener() override { return 0; }
    int32_t StopThreads() override { return 1; }
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

private:
    struct PendingRead {
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        HANDLE event = nullptr;
        bool done = false;
        uint32_t bytes = 0;
    };
    void CompleteReads();
    int32_t Begin(PendingRead& read, uint8_t* buffer, uint32_t length, HANDLE event);
    int32_t Wait(PendingRead& read, uint32_t* bytesRead, DWORD timeoutMs);
    int32_t ReadSync(bool data, uint8_t* buffer, uint32_t length, uint32_t* bytesRead);

    win32::CriticalSection m_lock;
    CommandStatusModel& m_model;
    bool m_winUsb;
    bool m_unplugged = false;
    bool m_failWrites = false;
    DWORD m_syncTimeoutMs = kTransferTimeoutMs;
    PendingRead m_response;
    PendingRead m_data;
    std::vector<uint8_t> m_packet;
};

}  // namespace orvo::emu
