#include "emulator/models/command_status_usb_model.h"

#include <algorithm>
#include <cstring>

#include "emulator/models/video_modes.h"

namespace orvo::emu {

namespace {

constexpr uint8_t kRequestTypeMask = 0x60;
constexpr uint8_t kRequestTypeVendor = 0x40;
constexpr uint8_t kRecipientMask = 0x1F;

}  // namespace

CCommandStatusUsbModel::CCommandStatusUsbModel(Family family, DeviceIdentity identity, PipeLayout layout)
    : CUsbModelBase(std::move(identity), layout), m_firmware(family) {}

std::unique_ptr<CCommandStatusUsbModel> CCommandStatusUsbModel::FromSettings(Family family,
                                                                             const DeviceSettings& settings) {
    DeviceIdentity identity = IdentityFromSettings(settings);
    if (identity.product.empty()) identity.product = family == Family::Alder ? L"Alder camera" : L"Birch camera";
    auto model = std::make_unique<CCommandStatusUsbModel>(family, identity, LayoutFromSettings(settings));
    const uint32_t width = SettingNumber(settings, "width", 0);
    const uint32_t height = SettingNumber(settings, "height", 0);
    if (width && height && width <= 0xFFFF && height <= 0xFFFF) {
        model->m_firmware.SetFrameSize(uint16_t(width), uint16_t(height));
    }
    const uint32_t rate = SettingNumber(settings, "rate", 0);
    if (rate > 0 && rate <= 255) model->m_firmware.SetFrameRate(uint8_t(rate));
    VideoModes modes;
    auto text = settings.find("modes");
    if (text != settings.end() && VideoModes::Parse(text->second, modes)) {
        model->m_firmware.SetModes(modes.sizes, modes.rates);
    }
    return model;
}

UsbStatus CCommandStatusUsbModel::Control(const SetupPacket& setup, uint8_t* data, uint32_t length,
                                          uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    // The firmware answers vendor requests to the device only.
    if ((setup.requestType & kRequestTypeMask) != kRequestTypeVendor || (setup.requestType & kRecipientMask) != 0) {
        return UsbStatus::Stall;
    }
    win32::CriticalSectionLock lock(m_lock);
    if (setup.requestType & 0x80) {
        *moved = std::min(length, m_firmware.ControlIn(setup.request, setup.value, setup.index, data, length));
        return UsbStatus::Ok;
    }
    if (!m_firmware.ControlOut(setup.request, setup.value, setup.index, data, length)) return UsbStatus::Stall;
    *moved = length;
    return UsbStatus::Ok;
}

UsbStatus CCommandStatusUsbModel::WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length,
                                           uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kCommandEndpoint) return UsbStatus::Stall;
    bool news;
    {
        win32::CriticalSectionLock lock(m_lock);
        const size_t before = m_firmware.WaitingFrameRequests();
        m_firmware.OnCommand(data, length);
        // The data pipe serves each request with as many bytes as it asked for.
        if (m_firmware.WaitingFrameRequests() > before) {
            m_frameSizes.push_back(m_firmware.Commands().back().dataSize);
            const double now = PacingClockSeconds();
            m_frameReady.push_back(m_paced ? m_pacer.Schedule(now, m_firmware.FramePeriod()) : now);
        }
        news = m_firmware.WaitingStatus() > 0 || m_firmware.WaitingFrameRequests() > 0;
    }
    *moved = length;
    if (news) Wake();
    return UsbStatus::Ok;
}

UsbStatus CCommandStatusUsbModel::ReadPiece(Transfer& transfer, uint8_t* data, uint32_t length, uint32_t* moved) {
    const uint32_t n = uint32_t(std::min<size_t>(length, transfer.end - transfer.offset));
    if (n) std::memcpy(data, transfer.bytes.data() + transfer.offset, n);
    transfer.offset += n;
    if (transfer.offset >= transfer.end) transfer.active = false;
    *moved = n;
    return UsbStatus::Ok;
}

void CCommandStatusUsbModel::SetPaced(bool paced) {
    win32::CriticalSectionLock lock(m_lock);
    m_paced = paced;
}

bool CCommandStatusUsbModel::NextFrameLocked() {
    while (m_firmware.WaitingFrameRequests() > 0 && !m_frameSizes.empty()) {
        if (!m_frameReady.empty() && m_frameReady.front() > PacingClockSeconds()) {
            WakeAt(m_frameReady.front());
            return false;
        }
        if (!m_frameReady.empty()) m_frameReady.pop_front();
        const size_t waiting = m_firmware.WaitingFrameRequests();
        const uint32_t size = std::min(m_frameSizes.front(), kMaxFrameBytes);
        if (m_frame.bytes.size() < size) m_frame.bytes.resize(size);
        uint32_t bytes = 0;
        const bool sent = m_firmware.NextFrame(m_frame.bytes.data(), size, &bytes);
        if (m_firmware.WaitingFrameRequests() < waiting) m_frameSizes.pop_front();
        if (sent) {
            m_frame.end = bytes;
            m_frame.offset = 0;
            m_frame.active = true;
            return true;
        }
        // A request the firmware left unanswered: the next one, if any.
    }
    return false;
}

UsbStatus CCommandStatusUsbModel::ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    win32::CriticalSectionLock lock(m_lock);
    if (endpoint == kResponseEndpoint) {
        if (!m_status.active) {
            if (!m_firmware.NextStatus(m_status.bytes)) return UsbStatus::Pending;
            m_status.end = m_status.bytes.size();
            m_status.offset = 0;
            m_status.active = true;
        }
        return ReadPiece(m_status, data, length, moved);
    }
    if (endpoint == kDataEndpoint && Layout().endpointCount >= 3 && Layout().dataType == kPipeBulk) {
        if (!m_frame.active && !NextFrameLocked()) return UsbStatus::Pending;
        return ReadPiece(m_frame, data, length, moved);
    }
    return UsbStatus::Stall;
}

UsbStatus CCommandStatusUsbModel::ReadIsoch(uint8_t, uint8_t*, uint32_t, uint32_t, IsoPacket*) {
    // These cameras send their frames over bulk only.
    return IsConnected() ? UsbStatus::Stall : UsbStatus::NoDevice;
}

}  // namespace orvo::emu
