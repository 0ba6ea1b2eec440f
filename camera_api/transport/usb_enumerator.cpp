#include "camera_api/transport/usb_enumerator.h"

#include <cwchar>
#include <new>
#include <utility>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/usb_device.h"
#include "camera_api/transport/winusb_device.h"

namespace orvo {

bool CUsbEnumerator::Begin(const GUID* interfaceClass) {
    if (!interfaceClass) return false;
    m_device.reset();
    m_deviceInfoSet.reset();
    m_hasClass = false;
    m_deviceInfoSet.reset(
        ::SetupDiGetClassDevsW(interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!m_deviceInfoSet) return false;
    m_interfaceClass = *interfaceClass;
    m_hasClass = true;
    m_memberIndex = 0;
    return true;
}

bool CUsbEnumerator::FetchDetail(SP_DEVICE_INTERFACE_DATA& interfaceData) {
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailW(m_deviceInfoSet.get(), &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    m_detail.reset(new (std::nothrow) uint8_t[needed + sizeof(wchar_t)]());
    if (!m_detail) return false;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(m_detail.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(m_deviceInfoSet.get(), &interfaceData, detail, needed, nullptr,
                                            nullptr)) {
        return false;
    }
    // Terminated whatever the set reported: the spare character is zero.
    return true;
}

bool CUsbEnumerator::Next(uint32_t maxChars, DWORD* deviceInstance, wchar_t* path) {
    m_device.reset();
    if (!m_deviceInfoSet || !m_hasClass || !deviceInstance || !path || maxChars == 0) return false;
    for (;;) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!::SetupDiEnumDeviceInterfaces(m_deviceInfoSet.get(), nullptr, &m_interfaceClass, m_memberIndex,
                                           &interfaceData)) {
            return false;
        }
        if (!FetchDetail(interfaceData)) return false;
        const wchar_t* found = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(m_detail.get())->DevicePath;
        const size_t length = ::wcslen(found);
        if (length >= maxChars) {
            // No camera has such a path; the interfaces after it still count.
            m_detail.reset();
            ++m_memberIndex;
            continue;
        }
        ::wmemcpy(path, found, length + 1);
        // Interfaces and device elements are paired by position.
        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof(deviceData);
        if (!::SetupDiEnumDeviceInfo(m_deviceInfoSet.get(), m_memberIndex, &deviceData)) return false;
        *deviceInstance = deviceData.DevInst;
        ++m_memberIndex;
        return true;
    }
}

bool CUsbEnumerator::CreateDevice() {
    m_device.reset();
    if (!m_detail || !m_hasClass) return false;
    if (::IsEqualGUID(m_interfaceClass, kUsbDeviceInterfaceClass)) {
        m_device.reset(new (std::nothrow) CWinUsbDevice());
    } else {
        m_device.reset(new (std::nothrow) CUsbDevice());
    }
    if (!m_device) return false;
    return m_device->OpenDevice(reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(m_detail.get())->DevicePath) != 0;
}

win32::UniqueDevInfo CUsbEnumerator::TakeSet() noexcept {
    m_device.reset();
    m_detail.reset();
    m_hasClass = false;
    return std::move(m_deviceInfoSet);
}

int32_t CUsbEnumerator::GetVendorId() { return m_device ? m_device->GetVendorId() : 0; }
int32_t CUsbEnumerator::GetProductId() { return m_device ? m_device->GetProductId() : 0; }
int32_t CUsbEnumerator::GetReleaseMajor() { return m_device ? m_device->GetReleaseMajor() : 0; }
int32_t CUsbEnumerator::GetReleaseMinor() { return m_device ? m_device->GetReleaseMinor() : 0; }
int32_t CUsbEnumerator::GetProductString(uint32_t maxChars, wchar_t* out) {
    return m_device ? m_device->GetProductString(maxChars, out) : 0;
}
int32_t CUsbEnumerator::GetSerialNumber(uint32_t maxChars, wchar_t* out) {
    return m_device ? m_device->GetSerialNumber(maxChars, out) : 0;
}

}  // namespace orvo
