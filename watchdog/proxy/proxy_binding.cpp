#include "watchdog/proxy/proxy_binding.h"

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>
#include <vector>

#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"
#include "watchdog/proxy/overlapped_io.h"
#include "watchdog/proxy/proxy_contract.h"
#include "win32/unique_dev_info.h"

namespace orvo::watchdog {
namespace {

const DEVPROPKEY kProxyCameraId = {kProxyCameraIdKey, 0};

HRESULT ControlResult(DWORD code, const IoResult& io, int32_t status) noexcept {
    if (io.error != ERROR_SUCCESS) {
        WD_TRACE_ERROR(code, io.error);
        return HRESULT_FROM_WIN32(io.error);
    }
    if (io.transferred < sizeof(status)) {
        WD_TRACE_ERROR(code, io.transferred);
        return E_UNEXPECTED;
    }
    if (status < 0) {
        WD_TRACE_ERROR(code, status);
        return status;
    }
    return S_OK;
}

win32::UniqueFileHandle OpenOverlapped(const wchar_t* path) noexcept {
    return win32::UniqueFileHandle(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_OVERLAPPED, nullptr));
}

}  // namespace

std::wstring DeviceInstanceId(DWORD deviceInstance) noexcept {
    ULONG length = 0;
    CONFIGRET cr = ::CM_Get_Device_ID_Size(&length, deviceInstance, 0);
    if (cr != CR_SUCCESS) {
        WD_TRACE_ERROR(cr);
        return {};
    }
    // The size leaves out the NUL, and a buffer of exactly that size gets none.
    std::vector<wchar_t> id(length + 1, L'\0');
    cr = ::CM_Get_Device_IDW(deviceInstance, id.data(), length + 1, 0);
    if (cr != CR_SUCCESS) {
        WD_TRACE_ERROR(cr);
        return {};
    }
    return std::wstring(id.data());
}

std::wstring FirstCaptureInterface(const std::wstring& instanceId) noexcept {
    // The same answer as the configuration manager's interface list, which
    // not every platform implements.
    win32::UniqueDevInfo set(::SetupDiGetClassDevsW(&kCaptureCategory, instanceId.c_str(), nullptr,
                                                    DIGCF_DEVICEINTERFACE | DIGCF_PRESENT));
    if (!set) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kCaptureCategory, 0, &data)) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || needed > 64 * 1024) {
        WD_TRACE_ERROR(needed);
        return {};
    }
    std::vector<uint8_t> buffer(needed + sizeof(wchar_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, needed, nullptr, nullptr)) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    return std::wstring(detail->DevicePath);
}

HRESULT ProxyBinding::OpenControl() noexcept {
    // Overlapped, so that a proxy that never answers cannot hold the agent.
    win32::UniqueFileHandle control = OpenOverlapped(kProxyControlPath);
    if (!control) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    m_control = std::move(control);
    return S_OK;
}

HRESULT ProxyBinding::Register(const GUID& feederGuid, DWORD deviceInstance, const std::wstring& name,
                               int outputWidth, int outputHeight) noexcept {
    if (m_registered) return S_OK;
    const std::wstring instanceId = DeviceInstanceId(deviceInstance);
    if (instanceId.empty()) return E_FAIL;

    const wchar_t* suffix = nullptr;
    const int suffixLength = ::LoadStringW(::GetModuleHandleW(nullptr), kResourceProxyString,
                                           reinterpret_cast<LPWSTR>(&suffix), 0);
    if (suffixLength <= 0 || !suffix) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    const std::wstring displayName = name + L" " + std::wstring(suffix, static_cast<size_t>(suffixLength));
    std::vector<uint8_t> record;
    try {
        record = BuildProxyRegistration(feederGuid, outputWidth, outputHeight, instanceId, displayName);
    } catch (...) {
        WD_TRACE_ERROR(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    int32_t status = 0;
    const IoResult io = BoundedDeviceIoControl(m_control.get(), kIoctlProxyAddCamera, record.data(),
                                               static_cast<DWORD>(record.size()), &status, kProxyControlTimeoutMs);
    const HRESULT hr = ControlResult(kIoctlProxyAddCamera, io, status);
    if (SUCCEEDED(hr)) m_registered = true;
    return hr;
}

HRESULT ProxyBinding::FindDevice(const GUID& feederGuid) noexcept {
    if (m_cameraDevice) return S_OK;
    win32::UniqueDevInfo set(::SetupDiGetClassDevsW(&kMediaClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) {
        WD_TRACE_WARNING(::GetLastError());
        return S_FALSE;
    }
    std::wstring instanceId;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!::SetupDiEnumDeviceInfo(set.get(), index, &device)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) {
                WD_TRACE_WARNING(index);
                return S_FALSE;
            }
            WD_TRACE_ERROR(index, error);
            return HRESULT_FROM_WIN32(error);
        }
        GUID id{};
        DEVPROPTYPE type = 0;
        DWORD size = 0;
        if (!::SetupDiGetDevicePropertyW(set.get(), &device, &kProxyCameraId, &type, reinterpret_cast<BYTE*>(&id),
                                         sizeof(id), &size, 0) ||
            type != DEVPROP_TYPE_GUID || size != sizeof(id)) {
            WD_TRACE_WARNING(index, ::GetLastError());
            continue;
        }
        if (!::IsEqualGUID(id, feederGuid)) {
            WD_TRACE_WARNING(index, id);
            continue;
        }
        instanceId = DeviceInstanceId(device.DevInst);
        if (instanceId.empty()) return E_FAIL;
        break;
    }
    const std::wstring path = FirstCaptureInterface(instanceId);
    if (path.empty()) return E_FAIL;
    win32::UniqueFileHandle camera = OpenOverlapped(path.c_str());
    if (!camera) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    win32::UniqueHandle active(
        ::CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, feederGuid).c_str()));
    if (!active) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    win32::UniqueHandle inactive(
        ::CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Inactive, feederGuid).c_str()));
    if (!inactive) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    m_cameraDevice = std::move(camera);
    m_activeEvent = std::move(active);
    m_inactiveEvent = std::move(inactive);
    return S_OK;
}

HRESULT ProxyBinding::Remove(const GUID& feederGuid) noexcept {
    if (!m_registered) return S_OK;
    int32_t status = 0;
    const IoResult io = BoundedDeviceIoControl(m_control.get(), kIoctlProxyRemoveCamera, &feederGuid,
                                               sizeof(feederGuid), &status, kProxyControlTimeoutMs);
    const HRESULT hr = ControlResult(kIoctlProxyRemoveCamera, io, status);
    if (FAILED(hr)) return hr;
    m_cameraDevice.reset();
    m_activeEvent.reset();
    m_inactiveEvent.reset();
    m_registered = false;
    return S_OK;
}

void ProxyBinding::CloseAll() noexcept {
    m_cameraDevice.reset();
    m_activeEvent.reset();
    m_inactiveEvent.reset();
    m_control.reset();
    m_registered = false;
}

}  // namespace orvo::watchdog
