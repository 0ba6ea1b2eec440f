#include "emulator/sensor/sensor_model.h"

#include "emulator/device_settings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvo::emu {
namespace {

constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kVendorOut = 0x40;
// Registers whose value the host cannot change.
bool ReadOnly(int r) { return r == kRegChipVersion || r == kRegChipVersionMirror; }

void Put32(std::vector<uint8_t>& m, uint32_t at, uint32_t v) { std::memcpy(m.data() + at, &v, 4); }

}  // namespace

CSensorUsbModel::CSensorUsbModel(DeviceIdentity identity, PipeLayout layout)
    : CUsbModelBase(std::move(identity), layout),
      m_regs(CSensorScene::PowerOnRegisters()),
      m_memory(kSensorMemorySize, 0xFF) {}

std::unique_ptr<CSensorUsbModel> CSensorUsbModel::FromSettings(const std::map<std::string, std::string>& settings) {
    DeviceIdentity identity = IdentityFromSettings(settings);
    if (identity.product.empty()) identity.product = L"Sensor camera";
    auto model = std::make_unique<CSensorUsbModel>(identity, LayoutFromSettings(settings));
    SceneLight light;
    light.illumination = SettingNumber(settings, "illumination", 1000) / 1000.0;
    light.colourTemperature = static_cast<int32_t>(SettingNumber(settings, "temperature", 5500));
    model->SetLight(light);
    return model;
}

void CSensorUsbModel::SetLight(SceneLight light) {
    win32::CriticalSectionLock lock(m_lock);
    m_scene.light = light;
}

void CSensorUsbModel::SetPreset1(int32_t red, int32_t blue) {
    win32::CriticalSectionLock lock(m_lock);
    std::memcpy(m_memory.data() + 0x3000, "LiWb", 4);
    Put32(m_memory, 0x3004, static_cast<uint32_t>(red));
    Put32(m_memory, 0x3008, static_cast<uint32_t>(blue));
}

void CSensorUsbModel::SetBadPixels(const std::vector<uint32_t>& entries, uint32_t declaredCount) {
    win32::CriticalSectionLock lock(m_lock);
    std::memcpy(m_memory.data() + 0x3040, "BadP", 4);
    Put32(m_memory, 0x3044, declaredCount);
    const size_t room = (kSensorMemorySize - 0x3048) / 4;
    for (size_t i = 0; i < entries.size() && i < room; ++i) Put32(m_memory, static_cast<uint32_t>(0x3048 + 4 * i), entries[i]);
}

void CSensorUsbModel::SetStuckPixels(std::vector<uint32_t> pixels) {
    win32::CriticalSectionLock lock(m_lock);
    m_scene.stuckPixels = std::move(pixels);
}

std::vector<uint8_t> CSensorUsbModel::Memory(uint32_t address, uint32_t length) {
    win32::CriticalSectionLock lock(m_lock);
    if (address >= kSensorMemorySize) return {};
    length = std::min(length, kSensorMemorySize - address);
    return {m_memory.begin() + address, m_memory.begin() + address + length};
}

void CSensorUsbModel::CorruptNextEchoes(uint32_t count) {
    win32::CriticalSectionLock lock(m_lock);
    m_corruptEchoes = count;
}

void CSensorUsbModel::ShortenNextFrames(uint32_t count) {
    win32::CriticalSectionLock lock(m_lock);
    m_shortFrames = count;
}

void CSensorUsbModel::SetChipVersion(uint16_t version) {
    win32::CriticalSectionLock lock(m_lock);
    m_regs.value[kRegChipVersion] = version;
    m_regs.value[kRegChipVersionMirror] = version;
}

SensorRegisters CSensorUsbModel::Registers() {
    win32::CriticalSectionLock lock(m_lock);
    return m_regs;
}

SensorRegisters CSensorUsbModel::FrameRegisters() {
    win32::CriticalSectionLock lock(m_lock);
    return m_frameRegs;
}

uint32_t CSensorUsbModel::FramesSent() {
    win32::CriticalSectionLock lock(m_lock);
    return m_framesSent;
}

uint32_t CSensorUsbModel::PacketsWithOpcode(uint8_t opcode) {
    win32::CriticalSectionLock lock(m_lock);
    return m_opcodeCounts[opcode];
}

void CSensorUsbModel::WriteMemory(uint32_t address, const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length && address + i < kSensorMemorySize; ++i) m_memory[address + i] = data[i];
    m_memoryPosition = std::min(address + length, kSensorMemorySize);
}

UsbStatus CSensorUsbModel::Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (setup.value != kSensorMemoryValue) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    if (setup.requestType == kVendorIn && (setup.request == kMemoryReadAt || setup.request == kMemoryReadOn)) {
        if (length > 255) return UsbStatus::Stall;
        const uint32_t start = setup.request == kMemoryReadAt ? setup.index : m_memoryPosition;
        if (start >= kSensorMemorySize) return UsbStatus::Stall;
        const uint32_t n = std::min(length, kSensorMemorySize - start);
        std::memcpy(data, m_memory.data() + start, n);
        m_memoryPosition = start + n;
        *moved = n;
        return UsbStatus::Ok;
    }
    if (setup.requestType == kVendorOut && setup.request == kMemoryWrite) {
        if (length < 2 || length > 255) return UsbStatus::Stall;
        const uint32_t address = uint32_t{data[0]} << 8 | data[1];
        if (address >= kSensorMemorySize) return UsbStatus::Stall;
        WriteMemory(address, data + 2, length - 2);
        *moved = length;
        return UsbStatus::Ok;
    }
    return UsbStatus::Stall;
}

bool CSensorUsbModel::ApplyRuns(const uint8_t* runs, size_t length, std::vector<uint8_t>& echo) {
    size_t pos = 0;
    while (pos + 2 <= length) {
        const size_t bytes = runs[pos], first = runs[pos + 1];
        if (bytes % 2 || pos + 2 + bytes > length || first + bytes / 2 > kSensorRegisterCount) return false;
        for (size_t i = 0; i < bytes / 2; ++i) {
            const int r = static_cast<int>(first + i);
            const uint8_t* v = runs + pos + 2 + 2 * i;
            if (!ReadOnly(r)) m_regs.value[r] = static_cast<uint16_t>(v[0] << 8 | v[1]);
            echo.push_back(static_cast<uint8_t>(m_regs.value[r] >> 8));
            echo.push_back(static_cast<uint8_t>(m_regs.value[r]));
        }
        pos += 2 + bytes;
    }
    return pos == length;
}

void CSensorUsbModel::QueueEcho(std::vector<uint8_t> echo) {
    if (m_corruptEchoes && !echo.empty()) {
        --m_corruptEchoes;
        echo.back() ^= 0x01;
    }
    m_responses.push_back(std::move(echo));
}

void CSensorUsbModel::QueueFrame(uint32_t requested) {
    std::vector<uint8_t> frame;
    m_scene.Capture(m_regs, frame);
    m_frameRegs = m_regs;
    // The sensor sends what its window holds; a request of another size is the host's problem.
    (void)requested;
    if (m_shortFrames && !frame.empty()) {
        --m_shortFrames;
        frame.resize(frame.size() / 2);
    }
    ++m_framesSent;
    m_frames.push_back(std::move(frame));
}

UsbStatus CSensorUsbModel::WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kCommandEndpoint) return UsbStatus::Stall;
    *moved = length;
    if (length < 5 || std::memcmp(data, "PLUM", 4) != 0) return UsbStatus::Ok;  // not a command: ignored
    const uint8_t opcode = data[4];
    const uint8_t* body = data + 5;
    const size_t bodyLength = length - 5;
    {
        win32::CriticalSectionLock lock(m_lock);
        ++m_opcodeCounts[opcode];
        std::vector<uint8_t> echo;
        switch (opcode) {
        case kOpReadRegisters:
            for (uint16_t v : m_regs.value) {
                echo.push_back(static_cast<uint8_t>(v >> 8));
                echo.push_back(static_cast<uint8_t>(v));
            }
            m_responses.push_back(std::move(echo));
            break;
        case kOpWriteRegisters:
        case kOpUpdateRegisters:
        case kOpWriteRegistersNow:
            if (ApplyRuns(body, bodyLength, echo)) QueueEcho(std::move(echo));
            break;
        case kOpLightMode:
            if (bodyLength == 6) QueueEcho({body, body + 6});
            break;
        case kOpStopStream:
            m_frames.clear();
            m_isochOffset = 0;
            break;
        case kOpFrame:
        case kOpFrameWithRegisters: {
            if (bodyLength < 4) break;
            const uint32_t count = uint32_t{body[0]} << 24 | uint32_t{body[1]} << 16 | uint32_t{body[2]} << 8 | body[3];
            // The frame already being read out keeps the old settings.
            QueueFrame(count);
            if (opcode == kOpFrameWithRegisters && ApplyRuns(body + 4, bodyLength - 4, echo)) QueueEcho(std::move(echo));
            break;
        }
        default:
            break;
        }
    }
    Wake();
    return UsbStatus::Ok;
}

UsbStatus CSensorUsbModel::ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    win32::CriticalSectionLock lock(m_lock);
    const bool bulkData = endpoint == kDataEndpoint && Layout().dataType == kPipeBulk;
    std::deque<std::vector<uint8_t>>* queue =
        endpoint == kResponseEndpoint ? &m_responses : bulkData ? &m_frames : nullptr;
    if (!queue) return UsbStatus::Stall;
    if (queue->empty()) return UsbStatus::Pending;
    std::vector<uint8_t>& front = queue->front();
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, front.size()));
    std::memcpy(data, front.data(), n);
    *moved = n;
    if (n == front.size()) queue->pop_front();
    else front.erase(front.begin(), front.begin() + n);
    return UsbStatus::Ok;
}

// Frames cut into packets of the interval's size; the last one of a frame is
// short, and no packet carries bytes of two frames.
UsbStatus CSensorUsbModel::ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                                     IsoPacket* packets) {
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kDataEndpoint || Layout().dataType != kPipeIsochronous) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    if (m_frames.empty()) return UsbStatus::Pending;
    const uint32_t size = std::min(packetSize, std::max<uint32_t>(Layout().bytesPerInterval, 1));
    for (uint32_t i = 0; i < packetCount; ++i) {
        packets[i] = IsoPacket{i * packetSize, 0, 0};
        if (m_frames.empty()) continue;
        std::vector<uint8_t>& front = m_frames.front();
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, front.size() - m_isochOffset));
        std::memcpy(data + size_t(i) * packetSize, front.data() + m_isochOffset, n);
        packets[i].length = n;
        m_isochOffset += n;
        if (m_isochOffset == front.size()) {
            m_frames.pop_front();
            m_isochOffset = 0;
        }
    }
    return UsbStatus::Ok;
}

}  // namespace orvo::emu
