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
bool ReadOnly(int r) { return r == plum::kChipId || r == plum::kChipIdCopy; }

void Put32(std::vector<uint8_t>& m, uint32_t at, uint32_t v) { std::memcpy(m.data() + at, &v, 4); }

}  // namespace

CSensorUsbModel::CSensorUsbModel(DeviceIdentity identity, PipeLayout layout)
    : CUsbModelBase(std::move(identity), layout),
      m_regs(CSensorScene::PowerOnRegisters()),
      m_memory(plum::kMemoryBytes, 0xFF) {}

std::unique_ptr<CSensorUsbModel> CSensorUsbModel::FromSettings(const std::map<std::string, std::string>& settings) {
    DeviceIdentity identity = IdentityFromSettings(settings);
    if (identity.product.empty()) identity.product = L"Sensor camera";
    auto model = std::make_unique<CSensorUsbModel>(identity, LayoutFromSettings(settings));
    auto scene = settings.find("scene");
    const bool chart = scene != settings.end() && scene->second == "chart";
    SceneLight light;
    light.illumination = SettingNumber(settings, "illumination", 1000) / 1000.0;
    light.colourTemperature =
        static_cast<int32_t>(SettingNumber(settings, "temperature", chart ? kChartLampKelvin : 5500));
    model->SetLight(light);
    model->SetScene(chart ? SceneKind::Chart : SceneKind::Tiles);
    return model;
}

void CSensorUsbModel::SetLight(SceneLight light) {
    win32::CriticalSectionLock lock(m_lock);
    m_scene.light = light;
}

void CSensorUsbModel::SetScene(SceneKind kind) {
    win32::CriticalSectionLock lock(m_lock);
    m_scene.kind = kind;
}

void CSensorUsbModel::SetPreset1(int32_t red, int32_t blue) {
    win32::CriticalSectionLock lock(m_lock);
    std::memcpy(m_memory.data() + plum::kWhiteBalanceRecord, "LiWb", 4);
    Put32(m_memory, plum::kWhiteBalanceRecord + 4, static_cast<uint32_t>(red));
    Put32(m_memory, plum::kWhiteBalanceRecord + 8, static_cast<uint32_t>(blue));
}

void CSensorUsbModel::SetBadPixels(const std::vector<uint32_t>& entries, uint32_t declaredCount) {
    win32::CriticalSectionLock lock(m_lock);
    // The header's six entries run on into the further ones without a gap.
    constexpr uint32_t first = plum::kDefectHeader + 8;
    static_assert(first + 6 * 4 == plum::kDefectMore, "entries follow the header");
    std::memcpy(m_memory.data() + plum::kDefectHeader, "BadP", 4);
    Put32(m_memory, plum::kDefectHeader + 4, declaredCount);
    const size_t room = (plum::kMemoryBytes - first) / 4;
    for (size_t i = 0; i < entries.size() && i < room; ++i) Put32(m_memory, static_cast<uint32_t>(first + 4 * i), entries[i]);
}

void CSensorUsbModel::SetStuckPixels(std::vector<uint32_t> pixels) {
    win32::CriticalSectionLock lock(m_lock);
    m_scene.stuckPixels = std::move(pixels);
}

std::vector<uint8_t> CSensorUsbModel::Memory(uint32_t address, uint32_t length) {
    win32::CriticalSectionLock lock(m_lock);
    if (address >= plum::kMemoryBytes) return {};
    length = std::min(length, plum::kMemoryBytes - address);
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
    m_regs.value[plum::kChipId] = version;
    m_regs.value[plum::kChipIdCopy] = version;
}

plum::RegisterFile CSensorUsbModel::Registers() {
    win32::CriticalSectionLock lock(m_lock);
    return m_regs;
}

plum::RegisterFile CSensorUsbModel::FrameRegisters() {
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
    for (uint32_t i = 0; i < length && address + i < plum::kMemoryBytes; ++i) m_memory[address + i] = data[i];
    m_memoryPosition = std::min(address + length, plum::kMemoryBytes);
}

UsbStatus CSensorUsbModel::Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (setup.value != plum::kMemoryValue) return UsbStatus::Stall;
    // Only reading at an address carries one in the index.
    if (setup.request != plum::kMemoryReadAt && setup.index != 0) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    if (setup.requestType == kVendorIn && (setup.request == plum::kMemoryReadAt || setup.request == plum::kMemoryReadOn)) {
        if (length > plum::kMaxMemoryTransfer) return UsbStatus::Stall;
        const uint32_t start = setup.request == plum::kMemoryReadAt ? setup.index : m_memoryPosition;
        if (start >= plum::kMemoryBytes) return UsbStatus::Stall;
        const uint32_t n = std::min(length, plum::kMemoryBytes - start);
        std::memcpy(data, m_memory.data() + start, n);
        m_memoryPosition = start + n;
        *moved = n;
        return UsbStatus::Ok;
    }
    if (setup.requestType == kVendorOut && setup.request == plum::kMemoryWrite) {
        if (length < 2 || length > plum::kMaxMemoryTransfer) return UsbStatus::Stall;
        const uint32_t address = uint32_t{data[0]} << 8 | data[1];
        if (address >= plum::kMemoryBytes) return UsbStatus::Stall;
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
        if (bytes % 2 || pos + 2 + bytes > length || first + bytes / 2 > plum::kRegisterCount) return false;
        for (size_t i = 0; i < bytes / 2; ++i) {
            const int r = static_cast<int>(first + i);
            const uint8_t* v = runs + pos + 2 + 2 * i;
            if (!ReadOnly(r)) m_regs.value[r] = plum::Be16(v);
            echo.push_back(static_cast<uint8_t>(m_regs.value[r] >> 8));
            echo.push_back(static_cast<uint8_t>(m_regs.value[r]));
        }
        pos += 2 + bytes;
    }
    return pos == length;
}

// Run headers without values name the registers to read: each a byte count
// and a first register. A body that is not such a list gets no answer.
bool CSensorUsbModel::ReadRuns(const uint8_t* runs, size_t length, std::vector<uint8_t>& answer) const {
    if (length == 0 || length % 2) return false;
    for (size_t pos = 0; pos < length; pos += 2) {
        const size_t bytes = runs[pos], first = runs[pos + 1];
        if (bytes == 0 || bytes % 2 || first + bytes / 2 > plum::kRegisterCount) return false;
        for (size_t r = first; r < first + bytes / 2; ++r) {
            answer.push_back(static_cast<uint8_t>(m_regs.value[r] >> 8));
            answer.push_back(static_cast<uint8_t>(m_regs.value[r]));
        }
    }
    return true;
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
    m_frameReady.push_back(m_pacer.Schedule(PacingClockSeconds(), CSensorScene::FrameSeconds(m_frameRegs)));
}

bool CSensorUsbModel::FrontFrameReady() {
    if (m_frames.empty()) return false;
    if (m_frameReady.front() <= PacingClockSeconds()) return true;
    WakeAt(m_frameReady.front());
    return false;
}

void CSensorUsbModel::PopFrame() {
    m_frames.pop_front();
    m_frameReady.pop_front();
}

UsbStatus CSensorUsbModel::WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kCommandEndpoint) return UsbStatus::Stall;
    *moved = length;
    if (length < plum::kHeaderBytes || std::memcmp(data, plum::kTag, 4) != 0) return UsbStatus::Ok;  // not a command: ignored
    const uint8_t opcode = data[4];
    const uint8_t* body = data + plum::kHeaderBytes;
    const size_t bodyLength = length - plum::kHeaderBytes;
    {
        win32::CriticalSectionLock lock(m_lock);
        ++m_opcodeCounts[opcode];
        std::vector<uint8_t> echo;
        switch (opcode) {
        case plum::kReadAll:
            if (ReadRuns(body, bodyLength, echo)) m_responses.push_back(std::move(echo));
            break;
        case plum::kWrite:
        case plum::kUpdate:
        case plum::kWriteNow:
            if (ApplyRuns(body, bodyLength, echo)) QueueEcho(std::move(echo));
            break;
        case plum::kLightMode:
            if (bodyLength == 6) QueueEcho({body, body + 6});
            break;
        case plum::kStopStream:
            m_frames.clear();
            m_frameReady.clear();
            m_pacer.Restart();
            m_isochOffset = 0;
            break;
        case plum::kFrame:
        case plum::kFrameAndWrite: {
            if (bodyLength < 4) break;
            const uint32_t count = plum::Be32(body);
            // The frame already being read out keeps the old settings.
            QueueFrame(count);
            if (opcode == plum::kFrameAndWrite && ApplyRuns(body + 4, bodyLength - 4, echo)) QueueEcho(std::move(echo));
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
    if (queue->empty() || (bulkData && !FrontFrameReady())) return UsbStatus::Pending;
    std::vector<uint8_t>& front = queue->front();
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, front.size()));
    std::memcpy(data, front.data(), n);
    *moved = n;
    if (n < front.size()) front.erase(front.begin(), front.begin() + n);
    else if (bulkData) PopFrame();
    else queue->pop_front();
    return UsbStatus::Ok;
}

// Frames cut into packets of the interval's size; the last one of a frame is
// short, and no packet carries bytes of two frames.
UsbStatus CSensorUsbModel::ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                                     IsoPacket* packets) {
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kDataEndpoint || Layout().dataType != kPipeIsochronous) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    if (m_isochOffset == 0 && !FrontFrameReady()) return UsbStatus::Pending;
    const uint32_t size = std::min(packetSize, std::max<uint32_t>(Layout().bytesPerInterval, 1));
    bool waiting = false;   // the next frame is not read out yet: no packet runs ahead of it
    for (uint32_t i = 0; i < packetCount; ++i) {
        packets[i] = IsoPacket{i * packetSize, 0, 0};
        if (m_frames.empty() || waiting) continue;
        std::vector<uint8_t>& front = m_frames.front();
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, front.size() - m_isochOffset));
        std::memcpy(data + size_t(i) * packetSize, front.data() + m_isochOffset, n);
        packets[i].length = n;
        m_isochOffset += n;
        if (m_isochOffset == front.size()) {
            PopFrame();
            m_isochOffset = 0;
            waiting = !FrontFrameReady();
        }
    }
    return UsbStatus::Ok;
}

}  // namespace orvo::emu
