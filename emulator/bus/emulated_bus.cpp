#include "emulator/bus/emulated_bus.h"

#include <dbt.h>
#include <objbase.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <vector>

#include "emulator/bus/dosdevices_link.h"
#include "win32/unique_dev_info.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::emu {
namespace {

const wchar_t kDeviceClassesKey[] = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";
// Where the descriptions of plugged devices live, and the list of them.
const wchar_t kBusKey[] = L"Software\\OrvoEmulatedUsb";

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = wchar_t(std::towlower(c));
    return text;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Setting(const DeviceSettings& settings, const char* key, const char* fallback) {
    auto it = settings.find(key);
    return it == settings.end() ? fallback : it->second;
}

// "\\?\usb#..." -> "usb#...": the name Wine looks up in dosdevices.
std::wstring DosName(const std::wstring& path) {
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

// The dosdevices entry: the first component of the path after "\\?\".
std::wstring LinkName(const std::wstring& path) {
    const std::wstring name = DosName(path);
    return name.substr(0, name.find(L'\\'));
}

// The interface's key under DeviceClasses: "##?#" + the path tail.
std::wstring InterfaceKey(const GUID& interfaceClass, const std::wstring& path) {
    return std::wstring(kDeviceClassesKey) + GuidText(interfaceClass) + L"\\##?#" + DosName(path);
}

bool SetLinked(const GUID& interfaceClass, const std::wstring& path, DWORD linked) {
    win32::UniqueRegKey key;
    const std::wstring name = InterfaceKey(interfaceClass, path) + L"\\#\\Control";
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExW(key.get(), L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                            sizeof(linked)) == ERROR_SUCCESS;
}

std::wstring DescriptionFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH);
    std::wstring result = (n && n < MAX_PATH) ? std::wstring(folder) : std::wstring(L"C:\\ProgramData");
    result += L"\\OrvoEmulatedUsb";
    ::CreateDirectoryW(result.c_str(), nullptr);
    return result;
}

uint32_t InstanceHash(const std::wstring& instanceId) {
    uint32_t hash = 2166136261u;
    for (wchar_t c : Lower(instanceId)) hash = (hash ^ uint32_t(c)) * 16777619u;
    return hash;
}

// Named by a hash of the instance id: ids may be longer than a file name.
std::wstring DescriptionFile(const std::wstring& instanceId) {
    wchar_t name[32];
    std::swprintf(name, 32, L"\\%08x.usb", InstanceHash(instanceId));
    return DescriptionFolder() + name;
}

// Set when the device is pulled out: the emulated WinUsb.dll of every
// process that has the device open watches it, so that transfers fail at
// once, before the removal broadcast, as with real hardware.
std::wstring UnplugEventName(const std::wstring& instanceId) {
    wchar_t name[48];
    std::swprintf(name, 48, L"OrvoEmulatedUsb_Unplugged_%08x", InstanceHash(instanceId));
    return name;
}

void SetUnplugged(const std::wstring& instanceId, bool unplugged) {
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, UnplugEventName(instanceId).c_str()));
    if (!event) return;
    if (unplugged) ::SetEvent(event.get());
    else ::ResetEvent(event.get());
}

}  // namespace

bool CEmulatedUsbBus::Fail(const std::wstring& what) {
    m_error = what + L" (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
}

std::wstring CEmulatedUsbBus::BroadcastSpelling(const std::wstring& path) {
    std::wstring spelled = path;
    const size_t guid = spelled.rfind(L"#{");
    const size_t end = guid == std::wstring::npos ? spelled.size() : guid;
    for (size_t i = 0; i < end; ++i) spelled[i] = wchar_t(std::towupper(spelled[i]));
    return spelled;
}

bool CEmulatedUsbBus::Broadcast(WPARAM event, const GUID& interfaceClass, const std::wstring& path) {
    const std::wstring name = BroadcastSpelling(path);
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> storage(size);
    auto* message = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    message->dbcc_size = DWORD(size);
    message->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    message->dbcc_classguid = interfaceClass;
    std::copy(name.begin(), name.end(), message->dbcc_name);
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(message),
                                 SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

bool CEmulatedUsbBus::Plug(const GUID& interfaceClass, const DeviceSettings& settings, PluggedDevice* plugged) {
    const unsigned vid = unsigned(std::strtoul(Setting(settings, "vid", "0").c_str(), nullptr, 0)) & 0xFFFF;
    const unsigned pid = unsigned(std::strtoul(Setting(settings, "pid", "0").c_str(), nullptr, 0)) & 0xFFFF;
    std::wstring tail = Wide(Setting(settings, "instance", Setting(settings, "serial", "0").c_str()));
    for (auto& c : tail) {
        if (!std::iswalnum(c)) c = L'_';
    }
    wchar_t id[64];
    std::swprintf(id, 64, L"USB\\VID_%04X&PID_%04X\\", vid, pid);
    const std::wstring instanceId = id + tail;

    // The description first: the link made below points at it.
    const std::wstring description = DescriptionFile(instanceId);
    SetUnplugged(instanceId, false);
    {
        DeviceSettings described = settings;
        const std::wstring unplugEvent = UnplugEventName(instanceId);
        described["unplug_event"] = std::string(unplugEvent.begin(), unplugEvent.end());
        std::ofstream file(description.c_str(), std::ios::binary | std::ios::trunc);
        file << FormatDeviceSettings(described);
        if (!file) return Fail(L"cannot write " + description);
    }

    win32::UniqueDevInfo set(::SetupDiCreateDeviceInfoList(&interfaceClass, nullptr));
    if (!set) return Fail(L"SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiCreateDeviceInfoW(set.get(), instanceId.c_str(), &interfaceClass, L"Emulated camera", nullptr, 0,
                                    &device)) {
        if (::GetLastError() != ERROR_DEVINST_ALREADY_EXISTS ||
            !::SetupDiOpenDeviceInfoW(set.get(), instanceId.c_str(), nullptr, 0, &device)) {
            return Fail(L"SetupDiCreateDeviceInfoW " + instanceId);
        }
    } else if (!::SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr)) {
        return Fail(L"SetupDiRegisterDeviceInfo");
    }
    // With a reference string the path gets a second component: the link
    // then points at a folder that holds the description under that name.
    const std::wstring reference = Wide(Setting(settings, "reference", ""));
    if (!reference.empty()) {
        const std::wstring folder = description + L".d";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        if (!::CopyFileW(description.c_str(), (folder + L"\\" + reference).c_str(), FALSE)) {
            return Fail(L"cannot write the description under " + reference);
        }
    }
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!::SetupDiCreateDeviceInterfaceW(set.get(), &device, &interfaceClass,
                                         reference.empty() ? nullptr : reference.c_str(), 0, &interfaceData)) {
        return Fail(L"SetupDiCreateDeviceInterfaceW");
    }
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &needed, nullptr);
    std::vector<uint8_t> detailStorage(needed + sizeof(wchar_t));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailStorage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (needed < sizeof(*detail) ||
        !::SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail, needed, nullptr, nullptr)) {
        return Fail(L"SetupDiGetDeviceInterfaceDetailW");
    }
    const std::wstring path = detail->DevicePath;

    const std::wstring linkName = Lower(LinkName(path));
    const std::wstring target = reference.empty() ? description : description + L".d";
    if (!MakeDosDeviceLink(linkName, target)) {
        Fail(L"dosdevices link for " + path);
        RemoveDosDeviceLink(linkName);
        return false;
    }
    if (!SetLinked(interfaceClass, path, 1)) return Fail(L"Linked value of " + path);
    {
        win32::UniqueRegKey bus;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBusKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, bus.put(),
                              nullptr) == ERROR_SUCCESS) {
            const std::wstring value = instanceId + L"|" + GuidText(interfaceClass);
            ::RegSetValueExW(bus.get(), Lower(path).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             DWORD((value.size() + 1) * sizeof(wchar_t)));
        }
    }
    Broadcast(DBT_DEVICEARRIVAL, interfaceClass, path);
    if (plugged) *plugged = PluggedDevice{path, instanceId, interfaceClass};
    return true;
}

std::vector<PluggedDevice> CEmulatedUsbBus::List() {
    std::vector<PluggedDevice> devices;
    win32::UniqueRegKey bus;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBusKey, 0, KEY_QUERY_VALUE, bus.put()) != ERROR_SUCCESS) return devices;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        wchar_t value[512];
        DWORD nameLength = 512, valueBytes = sizeof(value) - sizeof(wchar_t), type = 0;
        if (::RegEnumValueW(bus.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value),
                            &valueBytes) != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) continue;
        value[valueBytes / sizeof(wchar_t)] = L'\0';
        const std::wstring text = value;
        const size_t bar = text.find(L'|');
        if (bar == std::wstring::npos) continue;
        PluggedDevice device;
        device.path = name;
        device.instanceId = text.substr(0, bar);
        if (::CLSIDFromString(text.substr(bar + 1).c_str(), &device.interfaceClass) != NOERROR) continue;
        devices.push_back(device);
    }
    return devices;
}

bool CEmulatedUsbBus::Unplug(const std::wstring& path) {
    const std::wstring wanted = Lower(path);
    for (const PluggedDevice& device : List()) {
        if (Lower(device.path) != wanted) continue;
        SetUnplugged(device.instanceId, true);
        SetLinked(device.interfaceClass, device.path, 0);
        RemoveDosDeviceLink(Lower(LinkName(device.path)));
        {
            win32::UniqueDevInfo set(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
            SP_DEVINFO_DATA data{};
            data.cbSize = sizeof(data);
            if (set && ::SetupDiOpenDeviceInfoW(set.get(), device.instanceId.c_str(), nullptr, 0, &data)) {
                ::SetupDiRemoveDevice(set.get(), &data);
            }
        }
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, InterfaceKey(device.interfaceClass, device.path).c_str());
        win32::UniqueRegKey bus;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBusKey, 0, KEY_SET_VALUE, bus.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueW(bus.get(), wanted.c_str());
        }
        const std::wstring description = DescriptionFile(device.instanceId);
        const size_t slash = device.path.find(L'\\', 4);
        if (slash != std::wstring::npos) {
            ::DeleteFileW((description + L".d" + device.path.substr(slash)).c_str());
            ::RemoveDirectoryW((description + L".d").c_str());
        }
        ::DeleteFileW(description.c_str());
        Broadcast(DBT_DEVICEREMOVECOMPLETE, device.interfaceClass, device.path);
        return true;
    }
    ::SetLastError(ERROR_NOT_FOUND);
    return Fail(L"no emulated device " + path);
}

}  // namespace orvo::emu
