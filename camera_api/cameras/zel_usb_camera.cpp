#include "camera_api/cameras/zel_usb_camera.h"

#include <new>

#include "camera_api/cameras/model_factory.h"
#include "camera_api/transport/usb_device.h"
#include "camera_api/transport/winusb_device.h"

namespace orvo {

CZelUsbCamera::~CZelUsbCamera() {
    // The camera first: it stops its threads, which still use the device.
    m_camera.reset();
    m_device.reset();
}

bool CZelUsbCamera::OpenDevice(const wchar_t* path, const DeviceRecord& record) {
    if (!m_device) {
        if (record.transport == kTransportDriver) {
            m_device.reset(new (std::nothrow) CUsbDevice());
        } else if (record.transport == kTransportWinUsb) {
            m_device.reset(new (std::nothrow) CWinUsbDevice());
        }
        if (!m_device) return false;
    }
    return m_device->Open(path, nullptr) != 0;
}

bool CZelUsbCamera::CreateCamera(int handle, const DeviceRecord& record) {
    m_handle = handle;
    m_deviceId = record.entry.deviceId;
    m_model = record.entry.model;
    m_camera = CreateModelCamera(m_model, m_device.get());
    return m_camera && m_camera->Initialize(record);
}

CZelCamera* CZelUsbCamera::CameraFor(int handle) const noexcept {
    return handle == m_handle ? m_camera.get() : nullptr;
}

void CZelUsbCamera::DeviceGone() {
    // The camera's threads may be in the middle of an exchange on the device.
    if (m_camera) m_camera->CloseDevice();
    else if (m_device) m_device->Close();
    m_deviceId = -1;
    if (m_camera) m_camera->DeviceRemoved();
}

}  // namespace orvo
