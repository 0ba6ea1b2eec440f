#include "emulator/usb_model_base.h"

#include <algorithm>

namespace orvo::emu {

std::vector<uint8_t> MakeStringDescriptor(const std::wstring& text) {
    const size_t chars = std::min<size_t>(text.size(), 126);
    std::vector<uint8_t> out(2 + 2 * chars);
    out[0] = uint8_t(out.size());
    out[1] = 3;
    for (size_t i = 0; i < chars; ++i) {
        out[2 + 2 * i] = uint8_t(text[i] & 0xFF);
        out[3 + 2 * i] = uint8_t(text[i] >> 8);
    }
    return out;
}

CUsbModelBase::CUsbModelBase(DeviceIdentity identity, PipeLayout layout)
    : m_identity(std::move(identity)), m_layout(layout) {}

void CUsbModelBase::DeviceDescriptor(uint8_t out[18]) {
    const uint8_t d[18] = {18, 1, 0x00, 0x02, 0xFF, m_identity.subClass, 0xFF, 64,
                           uint8_t(m_identity.vendorId), uint8_t(m_identity.vendorId >> 8),
                           uint8_t(m_identity.productId), uint8_t(m_identity.productId >> 8),
                           uint8_t(m_identity.release), uint8_t(m_identity.release >> 8),
                           uint8_t(m_identity.manufacturer.empty() ? 0 : 1),
                           uint8_t(m_identity.product.empty() ? 0 : 2),
                           uint8_t(m_identity.serial.empty() ? 0 : 3), 1};
    std::copy(d, d + 18, out);
}

bool CUsbModelBase::StringDescriptor(uint8_t index, uint16_t language, std::vector<uint8_t>& out) {
    if (index == 0) {
        out = {4, 3, 0x09, 0x04};
        return true;
    }
    if (language != 0x0409) return false;
    const std::wstring* text = index == 1 ? &m_identity.manufacturer
                               : index == 2 ? &m_identity.product
                               : index == 3 ? &m_identity.serial
                                            : nullptr;
    if (!text || text->empty()) return false;
    out = MakeStringDescriptor(*text);
    return true;
}

std::vector<InterfaceSetting> CUsbModelBase::Settings() {
    // Alternate setting 0 reserves no isochronous bandwidth; setting 1 is the
    // streaming one. Bulk cameras describe both alike.
    std::vector<InterfaceSetting> settings;
    for (uint8_t alternate = 0; alternate < 2; ++alternate) {
        InterfaceSetting setting;
        setting.alternate = alternate;
        EndpointInfo command;
        command.address = kCommandEndpoint;
        command.maxPacketSize = m_layout.bulkPacketSize;
        EndpointInfo response;
        response.address = kResponseEndpoint;
        response.maxPacketSize = m_layout.bulkPacketSize;
        setting.endpoints = {command, response};
        if (m_layout.endpointCount >= 3) {
            EndpointInfo data;
            data.address = kDataEndpoint;
            data.type = m_layout.dataType;
            if (data.type == kPipeIsochronous) {
                data.maxPacketSize = uint16_t(std::min<uint32_t>(m_layout.bytesPerInterval, 1024));
                data.interval = m_layout.interval;
                data.bytesPerInterval = alternate == 0 ? 0 : m_layout.bytesPerInterval;
            } else {
                data.maxPacketSize = m_layout.bulkPacketSize;
            }
            setting.endpoints.push_back(data);
        }
        settings.push_back(setting);
    }
    return settings;
}

uint32_t CUsbModelBase::MaxTransferSize(uint8_t) { return m_layout.maxTransferSize; }

void CUsbModelBase::Unplug() {
    m_connected = false;
    Wake();
}

void CUsbModelBase::AddWaker(HANDLE event) {
    win32::CriticalSectionLock lock(m_wakerLock);
    m_wakers.push_back(event);
}

void CUsbModelBase::RemoveWaker(HANDLE event) {
    win32::CriticalSectionLock lock(m_wakerLock);
    m_wakers.erase(std::remove(m_wakers.begin(), m_wakers.end(), event), m_wakers.end());
}

void CUsbModelBase::OnTransferCount(uint8_t endpoint, int delta) {
    win32::CriticalSectionLock lock(m_wakerLock);
    if (delta > 0) m_queued[endpoint] += delta;
    m_inFlight[endpoint] += delta;
}

uint32_t CUsbModelBase::TransfersQueued(uint8_t endpoint) {
    win32::CriticalSectionLock lock(m_wakerLock);
    return m_queued[endpoint];
}

uint32_t CUsbModelBase::TransfersInFlight(uint8_t endpoint) {
    win32::CriticalSectionLock lock(m_wakerLock);
    return uint32_t(std::max(0, m_inFlight[endpoint]));
}

void CUsbModelBase::OnHostError(const char* what) {
    win32::CriticalSectionLock lock(m_wakerLock);
    m_hostErrors.emplace_back(what ? what : "");
}

void CUsbModelBase::OnIsochRead(uint8_t endpoint, bool continueStream) {
    win32::CriticalSectionLock lock(m_wakerLock);
    m_isochContinue[endpoint].push_back(continueStream);
}

std::vector<bool> CUsbModelBase::IsochContinueFlags(uint8_t endpoint) {
    win32::CriticalSectionLock lock(m_wakerLock);
    return m_isochContinue[endpoint];
}

std::vector<std::string> CUsbModelBase::HostErrors() {
    win32::CriticalSectionLock lock(m_wakerLock);
    return m_hostErrors;
}

void CUsbModelBase::Wake() {
    win32::CriticalSectionLock lock(m_wakerLock);
    for (HANDLE event : m_wakers) ::SetEvent(event);
}

}  // namespace orvo::emu
