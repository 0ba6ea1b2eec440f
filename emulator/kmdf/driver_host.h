// The PnP manager's part for one emulated device: loads the driver (its
// DriverEntry), adds the device, prepares the hardware, brings it to D0,
// moves it through Dx and back, and removes it, orderly or by surprise. It
// owns the framework state, the emulated host controller and the I/O
// manager imitation. One host at a time per process.
#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wdf.h>

#include "emulator/kmdf/framework.h"
#include "emulator/kmdf/host_controller.h"
#include "emulator/kmdf/io_manager.h"
#include "emulator/usb_model.h"

namespace orvo::kmdf {

struct HostOptions {
    // The driver's entry point, as the PnP manager finds it in the image.
    DRIVER_INITIALIZE* driverEntry = nullptr;
    // The driver's "MaximumTransferSize" parameter; none: the value is absent.
    std::optional<ULONG> maximumTransferSize = 65536;
};

class CDriverHost {
public:
    CDriverHost(emu::IUsbDeviceModel& model, HostOptions options = {});
    ~CDriverHost();
    CDriverHost(const CDriverHost&) = delete;
    CDriverHost& operator=(const CDriverHost&) = delete;

    // Driver entry, device add, prepare-hardware and D0 entry; the first
    // failure is returned and the device is gone again.
    NTSTATUS Start();
    bool Started() const noexcept { return m_started; }
    // Leaves D0 for target (its queue stopped first), and comes back.
    NTSTATUS EnterDx(WDF_POWER_DEVICE_STATE target);
    NTSTATUS ReturnToD0();
    // The cable is pulled: surprise removal, then removal.
    void SurpriseRemove();
    // Orderly removal; objects left alive afterwards are reported as leaks.
    void Remove();

    // The device interface path user mode opens.
    const std::wstring& InterfacePath() const noexcept { return m_io.InterfacePath(); }
    CIoManager& Io() noexcept { return m_io; }
    CVerifier& Verifier() noexcept { return m_framework.verifier; }
    CHostController& Bus() noexcept { return *m_bus; }
    long LiveMdls();

private:
    void RemoveDevice();
    void StartPipes();

    Framework m_framework;
    std::unique_ptr<CHostController> m_bus;
    CIoManager m_io;
    bool m_started = false;
    DRIVER_INITIALIZE* m_entry = nullptr;
};

}  // namespace orvo::kmdf
