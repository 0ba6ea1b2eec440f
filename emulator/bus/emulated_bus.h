// The emulated USB bus: plugging a device makes it appear to the product
// exactly as a real one would, through SetupAPI, the interface's "Linked"
// value, a dosdevices link that CreateFileW follows to the file describing
// the device, and a WM_DEVICECHANGE broadcast. Unplugging undoes each step.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "emulator/device_settings.h"

namespace orvo::emu {

struct PluggedDevice {
    std::wstring path;        // as SetupAPI reports it (lower case)
    std::wstring instanceId;  // USB\VID_xxxx&PID_xxxx\<serial>
    GUID interfaceClass = {};
};

class CEmulatedUsbBus {
public:
    // Plugs a device described by settings (vid, pid, serial, ... see
    // emulator/README.md) under an interface class.
    bool Plug(const GUID& interfaceClass, const DeviceSettings& settings, PluggedDevice* plugged);
    // Unplugs the device with this interface path (any case).
    bool Unplug(const std::wstring& path);
    // Devices this bus plugged that are still present, from the registry.
    std::vector<PluggedDevice> List();

    // The path as Windows spells it in a broadcast: upper case up to the
    // interface class GUID, which stays lower case.
    static std::wstring BroadcastSpelling(const std::wstring& path);
    static bool Broadcast(WPARAM event, const GUID& interfaceClass, const std::wstring& path);

    const std::wstring& LastError() const noexcept { return m_error; }

private:
    bool Fail(const std::wstring& what);

    std::wstring m_error;
};

}  // namespace orvo::emu
