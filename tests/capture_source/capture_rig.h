// Shared pieces of the capture source's suites: the real OrvoVistrel.dll
// and orvoApi.dll loaded from the build's bin folder, emulated cameras on
// the bus, registrations, and checks on delivered samples.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camera_api/api/orvo_api_client.h"
#include "camera_api/transport/orvo_usb_ioctl.h"
#include "emulator/bus/emulated_bus.h"
#include "emulator/models/frame_pattern.h"
#include "support/child_process.h"
#include "win32/message_wait.h"
#include "win32/unique_module.h"
#include "win32/unique_reg_key.h"

namespace orvo::test {

// {0A4EF99C-E934-4641-A831-58E390EE5A29}, {37A6A792-3296-491B-AA8A-7D4C2E8DC48D}
constexpr GUID kKindGeneral = {0x0A4EF99C, 0xE934, 0x4641, {0xA8, 0x31, 0x58, 0xE3, 0x90, 0xEE, 0x5A, 0x29}};
constexpr GUID kKindCedar = {0x37A6A792, 0x3296, 0x491B, {0xAA, 0x8A, 0x7D, 0x4C, 0x2E, 0x8D, 0xC4, 0x8D}};
constexpr HRESULT kErrTableLock = static_cast<HRESULT>(0x838D0000);
constexpr HRESULT kErrNotMapped = static_cast<HRESULT>(0x838D0003);
constexpr HRESULT kErrConflict = static_cast<HRESULT>(0x838D0004);
constexpr wchar_t kTableMappingName[] = L"Kavrim_{D2E9CF2A-154C-48F0-B139-017ED4057D02}";
constexpr wchar_t kTableMutexName[] = L"Kavrim_{94FCC833-C565-4939-8E81-FABC47B1FEC1}";
constexpr wchar_t kVideoCategoryInstances[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";

// The build's bin folder: beside the test, or its parent for programs that
// run from a folder of their own.
inline std::wstring BinFolder() {
    std::wstring folder = ExeFolder();
    if (::GetFileAttributesW((folder + L"OrvoVistrel.dll").c_str()) == INVALID_FILE_ATTRIBUTES) {
        folder.pop_back();
        folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);
    }
    return folder;
}

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[40] = L"";
    ::StringFromGUID2(clsid, text, 40);
    return text;
}

inline CLSID NewClsid() {
    CLSID clsid{};
    ::CoCreateGuid(&clsid);
    return clsid;
}

// The capture source's exports, from the DLL in bin/.
struct SourceDll {
    using VoidFn = HRESULT(STDAPICALLTYPE*)();
    using RegisterFn = HRESULT(STDAPICALLTYPE*)(const CLSID*, const GUID*, uint32_t, const wchar_t*);
    using UnregisterFn = HRESULT(STDAPICALLTYPE*)(const CLSID*);
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

    bool Load() {
        module.reset(::LoadLibraryW((BinFolder() + L"OrvoVistrel.dll").c_str()));
        Initialize = module.proc<VoidFn>("Initialize");
        RegisterCamera = module.proc<RegisterFn>("RegisterCamera");
        UnregisterCamera = module.proc<UnregisterFn>("UnregisterCamera");
        DllGetClassObject = module.proc<GetClassObjectFn>("DllGetClassObject");
        DllCanUnloadNow = module.proc<VoidFn>("DllCanUnloadNow");
        DllRegisterServer = module.proc<VoidFn>("DllRegisterServer");
        DllUnregisterServer = module.proc<VoidFn>("DllUnregisterServer");
        return Initialize && RegisterCamera && UnregisterCamera && DllGetClassObject && DllCanUnloadNow &&
               DllRegisterServer && DllUnregisterServer;
    }

    win32::UniqueModule module;
    VoidFn Initialize = nullptr;
    RegisterFn RegisterCamera = nullptr;
    UnregisterFn UnregisterCamera = nullptr;
    GetClassObjectFn DllGetClassObject = nullptr;
    VoidFn DllCanUnloadNow = nullptr;
    VoidFn DllRegisterServer = nullptr;
    VoidFn DllUnregisterServer = nullptr;
};

inline bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
    win32::UniqueRegKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

inline std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* value, REGSAM view = 0) {
    wchar_t text[1024] = L"";
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return {};
    if (::RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return text;
}

// CLSIDs registered in the video capture category under this friendly name.
inline std::vector<std::wstring> CategoryEntries(const std::wstring& name, REGSAM view = 0) {
    std::vector<std::wstring> found;
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kVideoCategoryInstances, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
        return found;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t sub[80];
        DWORD chars = 80;
        if (::RegEnumKeyExW(key.get(), i, sub, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (ReadString(HKEY_CLASSES_ROOT, std::wstring(kVideoCategoryInstances) + sub, L"FriendlyName", view) == name) {
            found.push_back(sub);
        }
    }
    return found;
}

// The camera library in this process: the same module the capture source
// loads from bin/, so both share one instance.
class Library {
public:
    bool Start() {
        return api.Load((BinFolder() + L"orvoApi.dll").c_str()) && api.orvo_InitializeApi() == ORVO_OK;
    }
    int Find(const std::wstring& serial, DeviceEntry* found = nullptr) {
        DeviceEntry entries[16];
        int count = 0;
        const int32_t result = api.orvo_GetDeviceList(sizeof(entries), entries, &count);
        if (result != ORVO_OK && result != ORVO_E_MORE_DATA) return -1;
        for (int i = 0; i < count && i < 16; ++i) {
            if (serial == entries[i].serialNumber) {
                if (found) *found = entries[i];
                return entries[i].deviceId;
            }
        }
        return -1;
    }
    int WaitListed(const std::wstring& serial, DWORD ms = 15000) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        for (;;) {
            const int id = Find(serial);
            if (id >= 0 || ::GetTickCount64() > deadline) return id;
            win32::WaitPumpingMessages(nullptr, 100);
        }
    }
    OrvoApiClient api;
};

inline std::string VendorId() {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", unsigned(ORVO_VENDOR_ID));
    return text;
}

// A command-and-status camera (general kind) of this picture size.
inline emu::DeviceSettings GeneralCamera(const std::wstring& serial, const std::wstring& product, int width = 640,
                                         int height = 480) {
    return {{"model", "alder"},          {"vid", VendorId()},
            {"pid", "0x0317"},           {"serial", Narrow(serial)},
            {"product", Narrow(product)}, {"width", std::to_string(width)},
            {"height", std::to_string(height)}};
}

inline std::wstring UniqueSerial(const wchar_t* stem) {
    std::wstring name = UniqueName(stem);
    name.erase(std::remove(name.begin(), name.end(), L'_'), name.end());
    return name.substr(0, 15);
}

// A bottom-up 24-bit sample read top row first, as the pattern check wants.
inline emu::PatternCheck CheckBottomUpSample(const uint8_t* pixels, int width, int height, uint32_t* counter) {
    const size_t stride = size_t(((width * 24 + 31) / 32) * 4);
    std::vector<uint8_t> topDown(stride * size_t(height));
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels + size_t(height - 1 - y) * stride, stride, topDown.data() + size_t(y) * stride);
    }
    return emu::CheckPatternFrame(topDown.data(), uint32_t(height), stride, counter);
}

struct ResourceCounts {
    DWORD handles = 0, gdi = 0, threads = 0;
    static ResourceCounts Now() {
        ResourceCounts c;
        ::GetProcessHandleCount(::GetCurrentProcess(), &c.handles);
        c.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
        HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL ok = ::Thread32First(snapshot, &entry); ok; ok = ::Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++c.threads;
        }
        ::CloseHandle(snapshot);
        return c;
    }
};

}  // namespace orvo::test
