// A feeder's side of the kernel-streaming proxy: the control device, the
// registration of its virtual camera, and that camera's device and events.
// The owning feeder serialises every call under its lock.
#pragma once
#include <windows.h>
#include <string>

#include "win32/unique_handle.h"

namespace orvo::watchdog {

// ADD and REMOVE of a proxy that does not answer end after this long.
constexpr DWORD kProxyControlTimeoutMs = 2000;

class ProxyBinding {
public:
    HRESULT OpenControl() noexcept;
    // ADD_CAMERA once; the display name is name + " " + string 103.
    HRESULT Register(const GUID& feederGuid, DWORD deviceInstance, const std::wstring& name, int outputWidth,
                     int outputHeight) noexcept;
    // 0 opened (or open already), 1 no device carries the GUID yet, negative on failure.
    HRESULT FindDevice(const GUID& feederGuid) noexcept;
    // REMOVE_CAMERA when registered.
    HRESULT Remove(const GUID& feederGuid) noexcept;
    void CloseAll() noexcept;

    bool Registered() const noexcept { return m_registered; }
    HANDLE CameraDevice() const noexcept { return m_cameraDevice.get(); }
    HANDLE ActiveEvent() const noexcept { return m_activeEvent.get(); }
    HANDLE InactiveEvent() const noexcept { return m_inactiveEvent.get(); }

private:
    win32::UniqueFileHandle m_control;
    win32::UniqueFileHandle m_cameraDevice;
    win32::UniqueHandle m_activeEvent;
    win32::UniqueHandle m_inactiveEvent;
    bool m_registered = false;
};

// The device instance ID of a DEVINST (empty on failure, traced).
std::wstring DeviceInstanceId(DWORD deviceInstance) noexcept;
// The first present KSCATEGORY_CAPTURE interface path of a device instance.
std::wstring FirstCaptureInterface(const std::wstring& instanceId) noexcept;

}  // namespace orvo::watchdog
