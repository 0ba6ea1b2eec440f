// Walks the present device interfaces of one interface class and, for the
// interface it stands on, opens a device object just far enough to read the
// descriptors that identify a camera.
#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>

#include "camera_api/transport/device.h"
#include "win32/unique_dev_info.h"

namespace orvo {

class CUsbEnumerator {
public:
    CUsbEnumerator() = default;
    virtual ~CUsbEnumerator() = default;
    CUsbEnumerator(const CUsbEnumerator&) = delete;
    CUsbEnumerator& operator=(const CUsbEnumerator&) = delete;

    bool Begin(const GUID* interfaceClass);
    // Steps to the next interface: its path (at most maxChars characters with
    // the terminator) and the device-instance handle of its device element.
    // An interface whose path does not fit is skipped.
    bool Next(uint32_t maxChars, DWORD* deviceInstance, wchar_t* path);
    bool CreateDevice();

    int32_t GetVendorId();
    int32_t GetProductId();
    int32_t GetReleaseMajor();
    int32_t GetReleaseMinor();
    int32_t GetProductString(uint32_t maxChars, wchar_t* out);
    int32_t GetSerialNumber(uint32_t maxChars, wchar_t* out);

    CDevice* Device() const noexcept { return m_device.get(); }
    // Hands over the enumeration's set. The device-instance handles Next gave
    // name their devices only while that set lives on some platforms, so the
    // caller keeps it as long as it hands those handles out.
    win32::UniqueDevInfo TakeSet() noexcept;

private:
    bool FetchDetail(SP_DEVICE_INTERFACE_DATA& interfaceData);

    uint32_t m_memberIndex = 0;
    std::unique_ptr<CDevice> m_device;
    win32::UniqueDevInfo m_deviceInfoSet;
    GUID m_interfaceClass = {};
    bool m_hasClass = false;
    std::unique_ptr<uint8_t[]> m_detail;
};

}  // namespace orvo
