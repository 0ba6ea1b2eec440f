// What the end-to-end agent suites share: the staged agents, the bookkeeping
// key as the agents left it, DirectShow's list, and cameras on the emulated
// bus that go whatever way a test ends.
#pragma once
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "system/system_rig.h"
#include "tools/vcapture/capture_graph.h"
#include "watchdog/agent/bookkeeping.h"
#include "watchdog/common/names.h"
#include "win32/unique_reg_key.h"

namespace orvo::watchdog::test_rig {

constexpr DWORD kSettleMs = 60000;

template <class Done>
bool PumpUntil(Done done, DWORD ms = kSettleMs) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        test::WaitPumping(nullptr, 100);
    }
    return true;
}

// Copies a build's agent and the DLLs it loads; without the capture source
// when `captureSource` is false.
inline bool StageAgent(const std::wstring& bin, const std::wstring& folder, bool captureSource = true) {
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file : {L"OrvoVistrelWatchdog.exe", L"orvoApi.dll", L"WinUsb.dll", L"OrvoVistrel.dll"}) {
        if (!captureSource && std::wstring(file) == L"OrvoVistrel.dll") continue;
        if (!CopyFileW((bin + file).c_str(), (folder + file).c_str(), FALSE)) return false;
    }
    return true;
}

// The bookkeeping values: CLSID text to entry.
inline std::map<std::wstring, BookkeepingEntry> Bookkeeping() {
    std::map<std::wstring, BookkeepingEntry> values;
    win32::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBookkeepingKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD chars = 64;
        if (RegEnumValueW(key.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (auto entry = ReadBookkeepingValue(key.get(), name)) values[name] = *entry;
    }
    return values;
}

// The CLSIDs of the values the native agent wrote for a session.
inline std::vector<std::wstring> NativeValues(DWORD session) {
    std::vector<std::wstring> clsids;
    for (const auto& [clsid, entry] : Bookkeeping())
        if ((entry.flags & kBookkeepingWow64Flag) == 0 && entry.sessionId == session) clsids.push_back(clsid);
    return clsids;
}

inline int TimesListed(const std::wstring& name) {
    int times = 0;
    for (const auto& device : vcapture::ListDevices()) times += device.name == name;
    return times;
}

// The process behind an agent's window, or 0.
inline DWORD WindowProcess(const wchar_t* title) {
    DWORD pid = 0;
    if (HWND window = FindWindowW(nullptr, title)) GetWindowThreadProcessId(window, &pid);
    return pid;
}

// An alder camera at 640 x 480 named `product`.
inline emu::DeviceSettings Camera(const std::wstring& product, const std::wstring& serial = test::UniqueSerial(L"wa")) {
    emu::DeviceSettings settings = test::AlderCamera(serial);
    settings["product"] = test::Narrow(product);
    settings["width"] = "640";
    settings["height"] = "480";
    return settings;
}

// Unplugs what a test plugged, however the test ends: cameras left on the
// emulated bus would be registered by every later logon.
class PluggedCameras {
public:
    ~PluggedCameras() {
        for (const auto& path : m_paths) m_bus.Unplug(path);
    }
    bool Plug(const std::wstring& product, emu::PluggedDevice* device) { return Plug(Camera(product), device); }
    bool Plug(const emu::DeviceSettings& settings, emu::PluggedDevice* device) {
        if (!m_bus.Plug(kUsbDeviceInterfaceClass, settings, device)) return false;
        m_paths.push_back(device->path);
        return true;
    }
    bool Unplug(const std::wstring& path) {
        m_paths.erase(std::remove(m_paths.begin(), m_paths.end(), path), m_paths.end());
        return m_bus.Unplug(path);
    }
    std::string LastError() { return test::Narrow(m_bus.LastError()); }

private:
    emu::CEmulatedUsbBus m_bus;
    std::vector<std::wstring> m_paths;
};

}  // namespace orvo::watchdog::test_rig
