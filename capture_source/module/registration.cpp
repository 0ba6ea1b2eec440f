#include "capture_source/module/registration.h"

#include <new>
#include <string>

#include "capture_source/dshow/dshow.h"
#include "capture_source/module/capture_module.h"
#include "capture_source/module/capture_results.h"
#include "capture_source/module/class_factory.h"
#include "capture_source/module/own_folder.h"
#include "support/trace/zel_trace.h"
#include "win32/com_ptr.h"
#include "win32/mutex_lock.h"
#include "win32/unique_reg_key.h"

namespace orvo::capture {
namespace {

constexpr DWORD kModulePathChars = MAX_PATH;

HRESULT FromWin32(LONG error) noexcept { return HRESULT_FROM_WIN32(static_cast<DWORD>(error) & 0xFFFF); }

// StringFromCLSID into a std::wstring; false on failure.
bool ClsidString(const CLSID& clsid, std::wstring* text) noexcept {
    LPOLESTR s = nullptr;
    if (FAILED(::StringFromCLSID(clsid, &s)) || !s) return false;
    try {
        *text = s;
    } catch (...) {
        ::CoTaskMemFree(s);
        return false;
    }
    ::CoTaskMemFree(s);
    return true;
}

HRESULT RemoveClassKeys(const std::wstring& clsidText) noexcept {
    const std::wstring key = L"CLSID\\" + clsidText;
    const LONG error = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_HANDLE) return S_OK;
    return FromWin32(error);
}

HRESULT SetString(HKEY key, const wchar_t* valueName, const std::wstring& value) noexcept {
    const LONG error = ::RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return error == ERROR_SUCCESS ? S_OK : FromWin32(error);
}

HRESULT WriteClassKeys(const std::wstring& clsidText, const wchar_t* name, const std::wstring& path) noexcept {
    if (clsidText.empty() || !name || path.empty()) return E_INVALIDARG;
    HRESULT hr = RemoveClassKeys(clsidText);
    if (FAILED(hr)) return hr;
    win32::UniqueRegKey classKey, serverKey;
    LONG error = ::RegCreateKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsidText).c_str(), classKey.put());
    if (error != ERROR_SUCCESS) return FromWin32(error);
    hr = SetString(classKey.get(), nullptr, name);
    if (FAILED(hr)) return hr;
    error = ::RegCreateKeyW(classKey.get(), L"InprocServer32", serverKey.put());
    if (error != ERROR_SUCCESS) return FromWin32(error);
    hr = SetString(serverKey.get(), nullptr, path);
    if (SUCCEEDED(hr)) hr = SetString(serverKey.get(), L"ThreadingModel", L"Both");
    return hr;
}

win32::ComPtr<IFilterMapper2> CreateMapper(HRESULT* hr) noexcept {
    win32::ComPtr<IFilterMapper2> mapper;
    *hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.put_void());
    return mapper;
}

// Table part of a registration, under the table lock.
HRESULT AddToTable(const CLSID& clsid, const GUID& kind, uint32_t deviceId) noexcept {
    CCameraTableMap& map = CCaptureModule::Instance().Table();
    win32::MutexLock lock(map.Mutex(), kCameraTableLockMs);
    if (!lock) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableLock);
        return kErrTableLock;
    }
    if (!map.IsMapped()) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableNotMapped);
        return kErrTableNotMapped;
    }
    CameraTable& table = *map.Table();
    const int index = FindEntry(table, clsid);
    if (index >= 0) {
        const CameraTableEntry stored = table.entries[index];
        if (stored.kind == kind && stored.deviceId == deviceId) return S_OK;
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrCameraConflict, kind, deviceId, stored.kind,
                  stored.deviceId);
        return kErrCameraConflict;
    }
    if (!AddEntry(table, CameraTableEntry{clsid, kind, deviceId})) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, kCameraTableCapacity);
        return E_FAIL;
    }
    map.Flush();
    return S_OK;
}

}  // namespace

HRESULT InitializeTable() noexcept {
    CCameraTableMap& map = CCaptureModule::Instance().Table();
    win32::MutexLock lock(map.Mutex(), kCameraTableLockMs);
    if (!lock) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableLock);
        return kErrTableLock;
    }
    return map.Map();
}

HRESULT RegisterCameraClass(const CLSID* clsid, const GUID* kind, uint32_t deviceId, const wchar_t* name) noexcept {
    if (!clsid || !kind || !name) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG);
        return E_INVALIDARG;
    }
    HRESULT hr = AddToTable(*clsid, *kind, deviceId);
    if (FAILED(hr)) return hr;

    auto fail = [clsid](HRESULT code, HRESULT cause) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, code, cause);
        UnregisterCameraClass(clsid);
        return code;
    };
    std::wstring clsidText;
    if (!ClsidString(*clsid, &clsidText)) return fail(kErrClsidString, E_OUTOFMEMORY);
    wchar_t path[kModulePathChars];
    const DWORD chars = ::GetModuleFileNameW(OwnModule(), path, kModulePathChars);
    // A path cut at the buffer's end would register a server nobody can load.
    if (chars == 0 || chars >= kModulePathChars) return fail(kErrModulePath, HRESULT_FROM_WIN32(::GetLastError()));
    hr = WriteClassKeys(clsidText, name, std::wstring(path, chars));
    if (FAILED(hr)) return fail(kErrWriteClassKeys, hr);
    win32::ComPtr<IFilterMapper2> mapper = CreateMapper(&hr);
    if (FAILED(hr) || !mapper) return fail(kErrFilterMapper, hr);

    REGPINTYPES type{&MEDIATYPE_Video, &GUID_NULL};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_NORMAL;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    IMoniker* moniker = nullptr;
    hr = mapper->RegisterFilter(*clsid, name, &moniker, &CLSID_VideoInputDeviceCategory, nullptr, &filter);
    if (moniker) moniker->Release();
    if (FAILED(hr)) return fail(kErrRegisterFilter, hr);
    return S_OK;
}

HRESULT UnregisterCameraClass(const CLSID* clsid) noexcept {
    if (!clsid) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG);
        return E_INVALIDARG;
    }
    {
        CCameraTableMap& map = CCaptureModule::Instance().Table();
        win32::MutexLock lock(map.Mutex(), kCameraTableLockMs);
        if (!lock) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableLock);
            return kErrTableLock;
        }
        if (map.IsMapped()) {
            RemoveEntry(*map.Table(), *clsid);
            map.Flush();
        }
    }
    std::wstring clsidText;
    if (!ClsidString(*clsid, &clsidText)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrClsidString);
        return kErrClsidString;
    }
    HRESULT hr = RemoveClassKeys(clsidText);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrRemoveClassKeys, hr);
        return kErrRemoveClassKeys;
    }
    win32::ComPtr<IFilterMapper2> mapper = CreateMapper(&hr);
    if (FAILED(hr) || !mapper) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrFilterMapper, hr);
        return kErrFilterMapper;
    }
    hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, *clsid);
    // A filter that is already gone is what was asked for.
    if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrUnregisterFilter, hr);
        return kErrUnregisterFilter;
    }
    return S_OK;
}

HRESULT GetCameraClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    CameraTableEntry entry{};
    {
        CCameraTableMap& map = CCaptureModule::Instance().Table();
        win32::MutexLock lock(map.Mutex(), kCameraTableLockMs);
        if (!lock) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_UNEXPECTED, kErrTableLock);
            return E_UNEXPECTED;
        }
        const HRESULT mapped = map.Map();
        if (FAILED(mapped)) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_UNEXPECTED, mapped);
            return E_UNEXPECTED;
        }
        const int index = FindEntry(*map.Table(), clsid);
        if (index < 0) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, CLASS_E_CLASSNOTAVAILABLE, clsid);
            return CLASS_E_CLASSNOTAVAILABLE;
        }
        entry = map.Table()->entries[index];
    }
    auto* factory = new (std::nothrow) CCameraClassFactory(clsid, entry.kind, entry.deviceId);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, CLASS_E_CLASSNOTAVAILABLE, iid);
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return S_OK;
}

}  // namespace orvo::capture
