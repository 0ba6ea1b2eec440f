#include "emulator/model_device.h"

#include <algorithm>
#include <cstring>

#include "camera_api/transport/usb_descriptors.h"

namespace orvo::emu {
namespace {

constexpr uint32_t kMaxPacketGap = 5;
constexpr int32_t kXactError = int32_t(0xC0000011);

}  // namespace

CModelDevice::CModelDevice(IUsbDeviceModel& model, bool winUsb)
    : m_model(model), m_winUsb(winUsb), m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (m_wake) m_model.AddWaker(m_wake.get());
}

CModelDevice::~CModelDevice() {
    if (m_wake) m_model.RemoveWaker(m_wake.get());
}

int32_t CModelDevice::OpenDevice(const wchar_t*) {
    std::fill(std::begin(m_descriptor), std::end(m_descriptor), uint8_t(0));
    if (!m_model.IsConnected()) return 0;
    m_model.DeviceDescriptor(m_descriptor);
    const ChunkFlags flags = ChunkFlagsFromSubClass(m_descriptor[kDeviceSubClassOffset]);
    m_commandChunk = flags.commandChunk;
    m_responseChunk = flags.responseChunk;
    m_opened = true;
    return 1;
}

int32_t CModelDevice::GetVendorId() { return DescriptorWord(m_descriptor, kVendorIdOffset); }
int32_t CModelDevice::GetProductId() { return DescriptorWord(m_descriptor, kProductIdOffset); }
int32_t CModelDevice::GetReleaseMajor() { return m_descriptor[kBcdDeviceOffset + 1]; }
int32_t CModelDevice::GetReleaseMinor() { return m_descriptor[kBcdDeviceOffset]; }

int32_t CModelDevice::GetProductString(uint32_t maxChars, wchar_t* out) {
    std::vector<uint8_t> d;
    const uint8_t index = m_descriptor[kProductIndexOffset];
    if (!m_opened || !index || !m_model.StringDescriptor(index, kLanguageEnglishUs, d)) return 0;
    return CopyStringDescriptor(d.data(), uint32_t(std::min<size_t>(d.size(), 64)), std::min(maxChars, 31u), out);
}

int32_t CModelDevice::GetSerialNumber(uint32_t maxChars, wchar_t* out) {
    std::vector<uint8_t> d;
    const uint8_t index = m_descriptor[kSerialIndexOffset];
    if (!m_opened || !index || !m_model.StringDescriptor(index, kLanguageEnglishUs, d)) return 0;
    return CopyStringDescriptor(d.data(), uint32_t(std::min<size_t>(d.size(), 64)), std::min(maxChars, 31u), out);
}

int32_t CModelDevice::Open(const wchar_t* path, IDeviceListener* listener) {
    if (m_commandPipe != kNoPipe || m_responsePipe != kNoPipe || m_dataPipe != kNoPipe) return 0;
    m_failed = 0;
    if (!m_opened && !OpenDevice(path)) return 0;
    const std::vector<InterfaceSetting> settings = m_model.Settings();
    if (settings.empty()) return 0;
    // The streaming setting, as the WinUSB transport selects it.
    const InterfaceSetting& setting = settings.size() > 1 ? settings[1] : settings[0];
    for (size_t i = 0; i < setting.endpoints.size(); ++i) {
        const EndpointInfo& endpoint = setting.endpoints[i];
        const bool in = (endpoint.address & 0x80) != 0;
        if (i < 2) {
            (in ? m_responsePipe : m_commandPipe) = endpoint.address;
            continue;
        }
        if (!in) break;
        if (endpoint.type == kPipeIsochronous) {
            if (endpoint.bytesPerInterval == 0 || endpoint.interval == 0 || 8 / endpoint.interval == 0) return 0;
            m_isochronous = true;
            m_packetSize = endpoint.bytesPerInterval;
        } else if (endpoint.type != kPipeBulk) {
            return 0;
        }
        m_dataPipe = endpoint.address;
        break;
    }
    m_listener = listener;
    if (m_listener) m_listener->OnOpened();
    return 1;
}

void CModelDevice::Close() {
    m_commandPipe = m_responsePipe = m_dataPipe = kNoPipe;
    m_responseEvent = m_dataEvent = nullptr;
    m_leftover.clear();
    m_listener = nullptr;
}

void CModelDevice::MarkFailed() {
    if (m_failed == 0 && m_listener) m_listener->OnDeviceLost();
    m_failed = 1;
}

bool CModelDevice::Transfer(uint8_t endpoint, bool in, uint8_t* data, uint32_t length, uint32_t* moved,
                            ULONGLONG deadline) {
    *moved = 0;
    const Fault fault = m_model.Faults().Take(endpoint);
    switch (fault.kind) {
    case FaultKind::Stall: return false;
    case FaultKind::Timeout: {
        const ULONGLONG now = ::GetTickCount64();
        if (deadline > now) ::Sleep(DWORD(deadline - now));
        return false;
    }
    case FaultKind::Late: ::Sleep(fault.value); break;
    case FaultKind::Short: length = std::min(length, fault.value); break;
    default: break;
    }
    for (;;) {
        const UsbStatus status =
            in ? m_model.ReadIn(endpoint, data, length, moved) : m_model.WriteOut(endpoint, data, length, moved);
        if (fault.kind == FaultKind::Unplug) {
            *moved = std::min(*moved, fault.value);
            m_model.Unplug();
            return false;
        }
        if (status == UsbStatus::Ok) return true;
        if (status != UsbStatus::Pending) return false;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline || !m_wake) return false;
        ::WaitForSingleObject(m_wake.get(), DWORD(std::min<ULONGLONG>(deadline - now, 50)));
    }
}

int32_t CModelDevice::Write(const uint8_t* data, uint32_t length) {
    if (m_commandPipe == kNoPipe || m_failed || (!data && length) || m_failWrites) return 0;
    const ULONGLONG deadline = ::GetTickCount64() + kTransferTimeoutMs;
    uint32_t offset = 0, sent = 0;
    bool ok = true;
    while (ok && offset < length) {
        const uint32_t piece = (m_commandChunk == 0 || m_commandChunk > length - offset) ? length - offset : m_commandChunk;
        uint32_t moved = 0;
        ok = Transfer(m_commandPipe, false, const_cast<uint8_t*>(data + offset), piece, &moved, deadline);
        sent += std::min(moved, piece);
        offset += piece;
    }
    if (ok && sent == length) return 1;
    MarkFailed();
    return 0;
}

int32_t CModelDevice::BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) {
    if (m_responsePipe == kNoPipe || m_failed || !event || !buffer || !length) return 0;
    m_responseBuffer = buffer;
    m_responseLength = length;
    m_responseEvent = event;
    ::ResetEvent(event);
    return 1;
}

int32_t CModelDevice::WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!bytesRead || !m_responseEvent) return 0;
    m_responseEvent = nullptr;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    uint32_t total = 0;
    uint32_t asked = m_responseLength;
    for (;;) {
        uint32_t got = 0;
        if (!Transfer(m_responsePipe, true, m_responseBuffer + total, asked, &got, deadline)) return 0;
        total += std::min(got, asked);
        if (total >= m_responseLength || m_responseChunk == 0 || got != m_responseChunk) break;
        asked = std::min(m_responseChunk, m_responseLength - total);
    }
    *bytesRead = total;
    return 1;
}

int32_t CModelDevice::ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (bytesRead) *bytesRead = 0;
    if (!event || !BeginReadResponse(buffer, length, event.get())) return 0;
    return WaitResponse(bytesRead, m_syncTimeoutMs);
}

int32_t CModelDevice::BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) {
    if (m_dataPipe == kNoPipe || m_failed || !event || !buffer || !length) return 0;
    m_dataBuffer = buffer;
    m_dataLength = length;
    m_dataEvent = event;
    ::ResetEvent(event);
    return 1;
}

// Packet by packet, with the frame ends of the WinUSB stream: the length is
// full, or more than five empty packets follow data, or a packet is bad.
bool CModelDevice::FillIsoch(uint8_t* buffer, uint32_t length, uint32_t* filled, ULONGLONG deadline) {
    std::vector<uint8_t> packet(m_packetSize);
    uint32_t gap = 0;
    *filled = 0;
    if (!m_leftover.empty()) {
        const uint32_t n = std::min<uint32_t>(length, uint32_t(m_leftover.size()));
        std::memcpy(buffer, m_leftover.data(), n);
        m_leftover.erase(m_leftover.begin(), m_leftover.begin() + n);
        *filled = n;
    }
    while (*filled < length) {
        IsoPacket descriptor;
        const UsbStatus status = m_model.ReadIsoch(m_dataPipe, packet.data(), m_packetSize, 1, &descriptor);
        if (status == UsbStatus::Pending) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            ::WaitForSingleObject(m_wake.get(), DWORD(std::min<ULONGLONG>(deadline - now, 50)));
            continue;
        }
        if (status != UsbStatus::Ok) return false;
        const bool bad = descriptor.status != 0 && descriptor.status != kXactError;
        if (bad || descriptor.length == 0) {
            if (bad && *filled > 0) return true;
            if (*filled > 0 && ++gap > kMaxPacketGap) return true;
            continue;
        }
        gap = 0;
        const uint32_t size = std::min(descriptor.length, m_packetSize);
        const uint32_t n = std::min(size, length - *filled);
        std::memcpy(buffer + *filled, packet.data(), n);
        *filled += n;
        if (n < size) m_leftover.assign(packet.begin() + n, packet.begin() + size);
    }
    return true;
}

int32_t CModelDevice::WaitData(uint32_t* bytesRead, DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!bytesRead || !m_dataEvent || m_failed) return 0;
    m_dataEvent = nullptr;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    if (m_isochronous) return FillIsoch(m_dataBuffer, m_dataLength, bytesRead, deadline) ? 1 : 0;
    uint32_t total = 0;
    bool ok = true;
    while (ok && total < m_dataLength) {
        uint32_t got = 0;
        const uint32_t asked = m_dataLength - total;
        ok = Transfer(m_dataPipe, true, m_dataBuffer + total, asked, &got, deadline);
        total += std::min(got, asked);
        if (ok && got < asked) break;  // the device ended its transfer
    }
    *bytesRead = total;
    return ok ? 1 : 0;
}

int32_t CModelDevice::ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (bytesRead) *bytesRead = 0;
    if (!event || !BeginReadData(buffer, length, event.get())) return 0;
    return WaitData(bytesRead, m_syncTimeoutMs);
}

int32_t CModelDevice::AbortStream() {
    m_dataEvent = nullptr;
    m_leftover.clear();
    return 1;
}

bool CModelDevice::Control(bool in, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                           uint16_t index, uint8_t* buffer, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!m_opened || m_failed || length > 0xFFFF || (length && !buffer)) return false;
    const Fault fault = m_model.Faults().Take(0);
    if (fault.kind == FaultKind::Stall || fault.kind == FaultKind::Timeout) return false;
    if (fault.kind == FaultKind::Late) ::Sleep(fault.value);
    if (fault.kind == FaultKind::Unplug) m_model.Unplug();
    if (fault.kind == FaultKind::Short) length = std::min(length, fault.value);
    const SetupPacket setup{RequestType(in, type, recipient), request, value, index, uint16_t(length)};
    return m_model.Control(setup, buffer, length, moved) == UsbStatus::Ok;
}

int32_t CModelDevice::ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(true, type, recipient, request, value, index, buffer, length, &moved) && moved == length;
}

int32_t CModelDevice::ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                     uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(true, type, recipient, request, value, index, buffer, length, &moved) ? int32_t(moved) : 0;
}

int32_t CModelDevice::ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                 uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(false, type, recipient, request, value, index, buffer, length, &moved) && moved == length;
}

}  // namespace orvo::emu
