// A device object that answers vendor control transfers from memory and
// records them; enough for the camera base, which only makes such transfers.
#pragma once
#include <cstring>
#include <vector>

#include "camera_api/transport/device.h"

namespace orvo::test {

class FakeDevice final : public CDevice {
public:
    struct Transfer {
        bool in;
        uint8_t type, recipient, request;
        uint16_t value, index;
        std::vector<uint8_t> data;
    };

    explicit FakeDevice(bool winUsb = false) : m_winUsb(winUsb) {}

    std::vector<Transfer> transfers;
    std::vector<uint8_t> answer;   // bytes a control-in transfer delivers
    bool fail = false;

    int32_t IsUsbDevice() override { return 1; }
    int32_t IsWinUsb() override { return m_winUsb ? 1 : 0; }
    int32_t OpenDevice(const wchar_t*) override { return 1; }
    int32_t GetVendorId() override { return 0; }
    int32_t GetProductId() override { return 0; }
    int32_t GetReleaseMajor() override { return 0; }
    int32_t GetReleaseMinor() override { return 0; }
    int32_t GetProductString(uint32_t, wchar_t*) override { return 0; }
    int32_t GetSerialNumber(uint32_t, wchar_t*) override { return 0; }
    int32_t Open(const wchar_t*, IDeviceListener*) override { return 1; }
    void Close() override {}
    int32_t StartListener() override { return 0; }
    int32_t StopThreads() override { return 1; }
    int32_t Write(const uint8_t*, uint32_t) override { return 0; }
    int32_t AbortStream() override { return 0; }
    int32_t ReadResponse(uint8_t*, uint32_t, uint32_t*) override { return 0; }
    int32_t BeginReadResponse(uint8_t*, uint32_t, HANDLE) override { return 0; }
    int32_t WaitResponse(uint32_t*, DWORD) override { return 0; }
    int32_t ReadData(uint8_t*, uint32_t, uint32_t*) override { return 0; }
    int32_t BeginReadData(uint8_t*, uint32_t, HANDLE) override { return 0; }
    int32_t WaitData(uint32_t*, DWORD) override { return 0; }
    int32_t ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* buffer, uint32_t length) override {
        transfers.push_back({true, type, recipient, request, value, index, {}});
        if (fail || answer.size() < length) return 0;
        std::memcpy(buffer, answer.data(), length);
        return 1;
    }
    int32_t ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                           uint8_t* buffer, uint32_t length) override {
        return ControlIn(type, recipient, request, value, index, buffer, length) ? static_cast<int32_t>(length) : 0;
    }
    int32_t ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                       uint8_t* buffer, uint32_t length) override {
        transfers.push_back({false, type, recipient, request, value, index, {buffer, buffer + length}});
        return fail ? 0 : 1;
    }

private:
    bool m_winUsb;
};

}  // namespace orvo::test
