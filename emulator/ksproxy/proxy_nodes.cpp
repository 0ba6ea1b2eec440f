#include "emulator/ksproxy/proxy_nodes.h"

#include <dbt.h>
#include <devpropdef.h>
#include <setupapi.h>
#include <cwctype>
#include <cstdio>

#include "win32/unique_dev_info.h"
#include "win32/unique_reg_key.h"

// setupapi exports it; MinGW's header declares only the reading twin.
extern "C" WINSETUPAPI WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                                const DEVPROPKEY* key, DEVPROPTYPE type,
                                                                const BYTE* buffer, DWORD bytes, DWORD flags);

namespace orvo::emu {
namespace {

const GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kCaptureCategory = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const DEVPROPKEY kProxyCameraId = {{0x5C09147E, 0x4CA1, 0x423D, {0x83, 0x15, 0x1C, 0x67, 0xEA, 0xA1, 0x93, 0xFC}}, 0};

std::wstring GuidText(const GUID& g) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::wstring Tail(const std::wstring& path) { return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path; }

std::wstring InterfaceKey(const std::wstring& path) {
    return L"System\\CurrentControlSet\\Control\\DeviceClasses\\" + GuidText(kCaptureCategory) + L"\\##?#" +
           Tail(path);
}

bool SetLinked(const std::wstring& path, DWORD linked) {
    win32::UniqueRegKey key;
    const std::wstring name = InterfaceKey(path) + L"\\#\\Control";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                          sizeof(linked)) == ERROR_SUCCESS;
}

std::wstring InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return {};
    std::vector<uint8_t> storage(needed + sizeof(wchar_t));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) return {};
    return detail->DevicePath;
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t id[512] = L"";
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 512, nullptr)) return {};
    return id;
}

}  // namespace

std::wstring BroadcastPath(const std::wstring& path) {
    std::wstring spelled = path;
    const size_t guid = spelled.rfind(L"#{");
    const size_t end = guid == std::wstring::npos ? spelled.size() : guid;
    for (size_t i = 0; i < end; ++i) spelled[i] = wchar_t(std::towupper(spelled[i]));
    return spelled;
}

void BroadcastInterface(WPARAM event, const std::wstring& path) {
    const std::wstring name = BroadcastPath(path);
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> storage(size);
    auto* message = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    message->dbcc_size = DWORD(size);
    message->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    message->dbcc_classguid = kCaptureCategory;
    std::copy(name.begin(), name.end(), message->dbcc_name);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(message), SMTO_ABORTIFHUNG,
                        5000, &result);
}

bool CreateProxyNode(const GUID& camera, const std::wstring& friendlyName, ProxyNode& node, std::wstring& error) {
    win32::UniqueDevInfo set(SetupDiCreateDeviceInfoList(&kMediaClass, nullptr));
    if (!set) return error = L"SetupDiCreateDeviceInfoList", false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoW(set.get(), L"ZELKSPROXY", &kMediaClass, friendlyName.c_str(), nullptr,
                                  DICD_GENERATE_ID, &device) ||
        !SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr)) {
        return error = L"SetupDiCreateDeviceInfoW " + std::to_wstring(GetLastError()), false;
    }
    if (!SetupDiSetDevicePropertyW(set.get(), &device, &kProxyCameraId, DEVPROP_TYPE_GUID,
                                   reinterpret_cast<const BYTE*>(&camera), sizeof(camera), 0)) {
        return error = L"SetupDiSetDevicePropertyW " + std::to_wstring(GetLastError()), false;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiCreateDeviceInterfaceW(set.get(), &device, &kCaptureCategory, nullptr, 0, &data)) {
        return error = L"SetupDiCreateDeviceInterfaceW " + std::to_wstring(GetLastError()), false;
    }
    node.interfacePath = InterfacePath(set.get(), data);
    node.instanceId = InstanceId(set.get(), device);
    node.camera = camera;
    if (node.interfacePath.empty() || !SetLinked(node.interfacePath, 1)) return error = L"interface path", false;
    return true;
}

std::vector<ProxyNode> ListProxyNodes() {
    std::vector<ProxyNode> nodes;
    win32::UniqueDevInfo set(SetupDiGetClassDevsW(&kMediaClass, nullptr, nullptr, 0));
    if (!set) return nodes;
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set.get(), i, &device)) break;
        ProxyNode node;
        DEVPROPTYPE type = 0;
        DWORD size = 0;
        if (!SetupDiGetDevicePropertyW(set.get(), &device, &kProxyCameraId, &type,
                                       reinterpret_cast<BYTE*>(&node.camera), sizeof(node.camera), &size, 0) ||
            type != DEVPROP_TYPE_GUID || size != sizeof(GUID)) {
            continue;
        }
        node.instanceId = InstanceId(set.get(), device);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (SetupDiEnumDeviceInterfaces(set.get(), &device, &kCaptureCategory, 0, &data))
            node.interfacePath = InterfacePath(set.get(), data);
        nodes.push_back(node);
    }
    return nodes;
}

bool RemoveProxyNode(const GUID& camera, ProxyNode* removed) {
    for (const ProxyNode& node : ListProxyNodes()) {
        if (!IsEqualGUID(node.camera, camera)) continue;
        if (!node.interfacePath.empty()) {
            SetLinked(node.interfacePath, 0);
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, InterfaceKey(node.interfacePath).c_str());
        }
        win32::UniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof(data);
        if (set && SetupDiOpenDeviceInfoW(set.get(), node.instanceId.c_str(), nullptr, 0, &data))
            SetupDiRemoveDevice(set.get(), &data);
        if (removed) *removed = node;
        return true;
    }
    return false;
}

}  // namespace orvo::emu
