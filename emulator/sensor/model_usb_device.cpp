#include "emulator/sensor/model_usb_device.h"

#include "emulator/usb_model_base.h"

namespace orvo::emu {

int32_t CModelUsbDevice::Write(const uint8_t* data, uint32_t length) {
    uint32_t moved = 0;
    return m_model.WriteOut(kCommandEndpoint, data, length, &moved) == UsbStatus::Ok && moved == length;
}

int32_t CModelUsbDevice::AbortStream() {
    ++m_aborts;
    m_data = Pending{};
    return 1;
}

int32_t CModelUsbDevice::Read(uint8_t endpoint, uint8_t* buffer, uint32_t length, uint32_t* bytesRead,
                              DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!buffer) return 0;
    const DWORD start = ::GetTickCount();
    for (;;) {
        uint32_t moved = 0;
        const UsbStatus status = m_model.ReadIn(endpoint, buffer, length, &moved);
        if (status == UsbStatus::Ok) {
            if (bytesRead) *bytesRead = moved;
            return 1;
        }
        if (status != UsbStatus::Pending || ::GetTickCount() - start >= timeoutMs) return 0;
        ::Sleep(1);
    }
}

int32_t CModelUsbDevice::ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    return Read(kResponseEndpoint, buffer, length, bytesRead, kTransferTimeoutMs);
}

int32_t CModelUsbDevice::BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) {
    m_response = {buffer, length, event};
    return 1;
}

int32_t CModelUsbDevice::WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) {
    const Pending p = m_response;
    m_response = Pending{};
    return Read(kResponseEndpoint, p.buffer, p.length, bytesRead, timeoutMs);
}

int32_t CModelUsbDevice::ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    return Read(kDataEndpoint, buffer, length, bytesRead, kTransferTimeoutMs);
}

int32_t CModelUsbDevice::BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) {
    m_data = {buffer, length, event};
    return 1;
}

int32_t CModelUsbDevice::WaitData(uint32_t* bytesRead, DWORD timeoutMs) {
    const Pending p = m_data;
    m_data = Pending{};
    return Read(kDataEndpoint, p.buffer, p.length, bytesRead, timeoutMs);
}

int32_t CModelUsbDevice::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                 uint8_t* buffer, uint32_t length, uint32_t* moved) {
    SetupPacket setup{requestType, request, value, index, static_cast<uint16_t>(length)};
    return m_model.Control(setup, buffer, length, moved) == UsbStatus::Ok;
}

int32_t CModelUsbDevice::ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                   uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(static_cast<uint8_t>(0x80 | type << 5 | recipient), request, value, index, buffer, length,
                   &moved) &&
           moved == length;
}

int32_t CModelUsbDevice::ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                                        uint16_t index, uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    if (!Control(static_cast<uint8_t>(0x80 | type << 5 | recipient), request, value, index, buffer, length, &moved))
        return 0;
    return static_cast<int32_t>(moved);
}

int32_t CModelUsbDevice::ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                                    uint16_t index, uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(static_cast<uint8_t>(type << 5 | recipient), request, value, index, buffer, length, &moved) &&
           moved == length;
}

}  // namespace orvo::emu
