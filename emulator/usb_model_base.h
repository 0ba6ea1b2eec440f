// What every emulated device has in common: identity, strings, endpoint
// layout, connection state, wakers and faults. Camera models derive from it
// and add their control requests and pipe traffic.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emulator/usb_model.h"
#include "emulator/wake_timer.h"
#include "win32/critical_section.h"

namespace orvo::emu {

struct DeviceIdentity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0x0100;  // bcdDevice
    uint8_t subClass = 0;       // bDeviceSubClass, a flag byte for WinUSB cameras
    std::wstring manufacturer;
    std::wstring product;
    std::wstring serial;
};

// The endpoint layout of a camera: command OUT, response IN, data IN.
struct PipeLayout {
    uint32_t endpointCount = 3;  // 2: no data pipe
    uint8_t dataType = kPipeBulk;
    uint16_t bulkPacketSize = 512;
    uint32_t bytesPerInterval = 3072;  // isochronous
    uint8_t interval = 1;              // isochronous
    uint32_t maxTransferSize = 2u << 20;
};

constexpr uint8_t kCommandEndpoint = 0x01;
constexpr uint8_t kResponseEndpoint = 0x81;
constexpr uint8_t kDataEndpoint = 0x82;

class CUsbModelBase : public IUsbDeviceModel {
public:
    CUsbModelBase(DeviceIdentity identity, PipeLayout layout);

    void DeviceDescriptor(uint8_t out[18]) override;
    bool StringDescriptor(uint8_t index, uint16_t language, std::vector<uint8_t>& out) override;
    std::vector<InterfaceSetting> Settings() override;
    uint32_t MaxTransferSize(uint8_t endpoint) override;
    CFaultInjector& Faults() override { return m_faults; }
    bool IsConnected() override { return m_connected.load(); }
    void Unplug() override;
    void AddWaker(HANDLE event) override;
    void RemoveWaker(HANDLE event) override;
    void OnTransferCount(uint8_t endpoint, int delta) override;
    void OnHostError(const char* what) override;
    void OnIsochRead(uint8_t endpoint, bool continueStream) override;
    std::vector<std::string> HostErrors();
    // The stream flag of every isochronous read accepted on endpoint, in order.
    std::vector<bool> IsochContinueFlags(uint8_t endpoint);

    // Transfers on endpoint queued so far, and those not completed yet.
    uint32_t TransfersQueued(uint8_t endpoint);
    uint32_t TransfersInFlight(uint8_t endpoint);

    const DeviceIdentity& Identity() const noexcept { return m_identity; }
    const PipeLayout& Layout() const noexcept { return m_layout; }

protected:
    // Tells every waiting transfer to look again.
    void Wake();
    // The same at a time of PacingClockSeconds: when a frame becomes ready.
    void WakeAt(double seconds) { m_wakeTimer.At(seconds); }

private:
    DeviceIdentity m_identity;
    PipeLayout m_layout;
    CFaultInjector m_faults;
    std::atomic<bool> m_connected{true};
    win32::CriticalSection m_wakerLock;
    std::vector<HANDLE> m_wakers;
    std::map<uint8_t, uint32_t> m_queued;
    std::map<uint8_t, int32_t> m_inFlight;
    std::vector<std::string> m_hostErrors;
    std::map<uint8_t, std::vector<bool>> m_isochContinue;
    // Last: its thread calls Wake, so it stops before the members above go.
    CWakeTimer m_wakeTimer{[this] { Wake(); }};
};

}  // namespace orvo::emu
