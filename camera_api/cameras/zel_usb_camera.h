// A camera opened by this process: ties the client's handle and the device id
// to the USB device object and the model camera. Owned by the device manager.
#pragma once
#include <memory>

#include "camera_api/cameras/zel_camera.h"
#include "camera_api/devices/device_record.h"
#include "camera_api/transport/device.h"

namespace orvo {

class CZelUsbCamera {
public:
    CZelUsbCamera() = default;
    virtual ~CZelUsbCamera();
    CZelUsbCamera(const CZelUsbCamera&) = delete;
    CZelUsbCamera& operator=(const CZelUsbCamera&) = delete;

    // Creates the device object for the record's transport and opens it.
    bool OpenDevice(const wchar_t* path, const DeviceRecord& record);
    // Creates and initialises the model camera for the record's model code.
    bool CreateCamera(int handle, const DeviceRecord& record);
    CZelCamera* CameraFor(int handle) const noexcept;
    // The device was unplugged: close it and tell the camera.
    void DeviceGone();

    int Handle() const noexcept { return m_handle; }
    int DeviceId() const noexcept { return m_deviceId; }

private:
    // Declared first, destroyed last: the camera uses the device until it is gone.
    std::unique_ptr<CDevice> m_device;
    std::unique_ptr<CZelCamera> m_camera;
    int m_deviceId = -1;
    int m_handle = 0;
    int m_model = -1;
};

}  // namespace orvo
