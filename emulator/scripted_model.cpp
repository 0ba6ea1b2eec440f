#include "emulator/scripted_model.h"

#include <algorithm>
#include <cstring>

#include "emulator/device_settings.h"

namespace orvo::emu {

CScriptedUsbModel::CScriptedUsbModel(DeviceIdentity identity, PipeLayout layout)
    : CUsbModelBase(std::move(identity), layout) {}

std::unique_ptr<CScriptedUsbModel> CScriptedUsbModel::FromSettings(
    const std::map<std::string, std::string>& settings) {
    const PipeLayout layout = LayoutFromSettings(settings);
    auto model = std::make_unique<CScriptedUsbModel>(IdentityFromSettings(settings), layout);
    if (const uint32_t frame = SettingNumber(settings, "frame_size", 0)) {
        std::vector<uint8_t> bytes(frame);
        for (uint32_t i = 0; i < frame; ++i) bytes[i] = uint8_t(i * 7 + (i >> 8));
        model->LoopFrame(std::move(bytes), SettingNumber(settings, "gap", 8));
    }
    return model;
}

UsbStatus CScriptedUsbModel::Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    win32::CriticalSectionLock lock(m_lock);
    ControlRecord record;
    record.setup = setup;
    if (setup.requestType & 0x80) {
        auto it = m_controlAnswers.find(setup.request);
        if (it == m_controlAnswers.end()) return UsbStatus::Stall;
        const uint32_t n = std::min<uint32_t>(length, uint32_t(it->second.size()));
        if (n) std::memcpy(data, it->second.data(), n);
        *moved = n;
    } else {
        if (length) record.data.assign(data, data + length);
        *moved = length;
    }
    m_controls.push_back(std::move(record));
    return UsbStatus::Ok;
}

UsbStatus CScriptedUsbModel::WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kCommandEndpoint) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    m_commands.emplace_back(data, data + length);
    *moved = length;
    return UsbStatus::Ok;
}

UsbStatus CScriptedUsbModel::ReadChunk(std::deque<Chunk>& queue, uint8_t* data, uint32_t length, uint32_t* moved) {
    if (queue.empty()) return UsbStatus::Pending;
    Chunk& chunk = queue.front();
    const size_t left = chunk.bytes->size() - chunk.offset;
    const uint32_t n = uint32_t(std::min<size_t>(left, length));
    if (n) std::memcpy(data, chunk.bytes->data() + chunk.offset, n);
    chunk.offset += n;
    if (chunk.offset >= chunk.bytes->size()) queue.pop_front();
    *moved = n;
    return UsbStatus::Ok;
}

void CScriptedUsbModel::RefillLocked() {
    if (!m_loopFrame) return;
    if (Layout().dataType == kPipeIsochronous) {
        if (!m_packets.empty()) return;
        const uint32_t size = std::max<uint32_t>(Layout().bytesPerInterval, 1);
        for (size_t offset = 0; offset < m_loopFrame->size(); offset += size) {
            m_packets.push_back({m_loopFrame, offset, uint32_t(std::min<size_t>(size, m_loopFrame->size() - offset)), 0});
        }
        for (uint32_t i = 0; i < m_loopGap; ++i) m_packets.push_back({});
    } else {
        if (!m_data.empty()) return;
        m_data.push_back({m_loopFrame, 0});
    }
    ++m_framesLooped;
}

UsbStatus CScriptedUsbModel::ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!IsConnected()) return UsbStatus::NoDevice;
    win32::CriticalSectionLock lock(m_lock);
    if (endpoint == kResponseEndpoint) return ReadChunk(m_responses, data, length, moved);
    if (endpoint == kDataEndpoint && Layout().dataType == kPipeBulk) {
        RefillLocked();
        return ReadChunk(m_data, data, length, moved);
    }
    return UsbStatus::Stall;
}

UsbStatus CScriptedUsbModel::ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                                       IsoPacket* packets) {
    if (!IsConnected()) return UsbStatus::NoDevice;
    if (endpoint != kDataEndpoint || Layout().dataType != kPipeIsochronous) return UsbStatus::Stall;
    win32::CriticalSectionLock lock(m_lock);
    RefillLocked();
    if (m_packets.empty()) return UsbStatus::Pending;
    for (uint32_t i = 0; i < packetCount; ++i) {
        packets[i] = IsoPacket{i * packetSize, 0, 0};
        if (m_packets.empty()) continue;
        Packet packet = m_packets.front();
        m_packets.pop_front();
        const uint32_t n = std::min(packet.length, packetSize);
        if (n) std::memcpy(data + size_t(i) * packetSize, packet.bytes->data() + packet.offset, n);
        packets[i].length = n;
        packets[i].status = packet.status;
    }
    return UsbStatus::Ok;
}

void CScriptedUsbModel::QueueResponse(std::vector<uint8_t> bytes) {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_responses.push_back({std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), 0});
    }
    Wake();
}

void CScriptedUsbModel::QueueData(std::vector<uint8_t> bytes) {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_data.push_back({std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), 0});
    }
    Wake();
}

void CScriptedUsbModel::QueueIsochPacket(std::vector<uint8_t> bytes, int32_t status) {
    {
        win32::CriticalSectionLock lock(m_lock);
        const uint32_t length = uint32_t(bytes.size());
        m_packets.push_back({std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), 0, length, status});
    }
    Wake();
}

void CScriptedUsbModel::QueueIsochFrame(const std::vector<uint8_t>& frame, uint32_t gapPackets) {
    {
        win32::CriticalSectionLock lock(m_lock);
        auto bytes = std::make_shared<const std::vector<uint8_t>>(frame);
        const uint32_t size = std::max<uint32_t>(Layout().bytesPerInterval, 1);
        for (size_t offset = 0; offset < frame.size(); offset += size) {
            m_packets.push_back({bytes, offset, uint32_t(std::min<size_t>(size, frame.size() - offset)), 0});
        }
        for (uint32_t i = 0; i < gapPackets; ++i) m_packets.push_back({});
    }
    Wake();
}

void CScriptedUsbModel::LoopFrame(std::vector<uint8_t> frame, uint32_t isochGapPackets) {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_loopFrame = std::make_shared<const std::vector<uint8_t>>(std::move(frame));
        m_loopGap = isochGapPackets;
    }
    Wake();
}

void CScriptedUsbModel::SetControlAnswer(uint8_t request, std::vector<uint8_t> bytes) {
    win32::CriticalSectionLock lock(m_lock);
    m_controlAnswers[request] = std::move(bytes);
}

std::vector<std::vector<uint8_t>> CScriptedUsbModel::Commands() const {
    win32::CriticalSectionLock lock(m_lock);
    return m_commands;
}

std::vector<ControlRecord> CScriptedUsbModel::ControlRequests() const {
    win32::CriticalSectionLock lock(m_lock);
    return m_controls;
}

size_t CScriptedUsbModel::QueuedDataBytes() const {
    win32::CriticalSectionLock lock(m_lock);
    size_t total = 0;
    for (const Chunk& chunk : m_data) total += chunk.bytes->size() - chunk.offset;
    for (const Packet& packet : m_packets) total += packet.length;
    return total;
}

uint64_t CScriptedUsbModel::FramesLooped() const {
    win32::CriticalSectionLock lock(m_lock);
    return m_framesLooped;
}

}  // namespace orvo::emu
