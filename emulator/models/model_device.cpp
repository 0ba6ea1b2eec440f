#include "emulator/models/model_device.h"

#include <algorithm>
#include <cstring>

#include "win32/unique_handle.h"

namespace orvo::emu {

using win32::CriticalSectionLock;

void ModelDevice::Unplug() {
    CriticalSectionLock lock(m_lock);
    m_unplugged = true;
    for (PendingRead* read : {&m_response, &m_data}) {
        if (read->event) ::SetEvent(read->event);   // waiters return at once, empty-handed
    }
}

void ModelDevice::CompleteReads() {
    if (m_unplugged) return;
    if (m_response.event && !m_response.done && m_model.NextStatus(m_packet)) {
        m_response.bytes = std::min<uint32_t>(m_response.length, uint32_t(m_packet.size()));
        std::memcpy(m_response.buffer, m_packet.data(), m_response.bytes);
        m_response.done = true;
        ::SetEvent(m_response.event);
    }
    if (m_data.event && !m_data.done && m_model.NextFrame(m_data.buffer, m_data.length, &m_data.bytes)) {
        m_data.done = true;
        ::SetEvent(m_data.event);
    }
}

int32_t ModelDevice::Write(const uint8_t* data, uint32_t length) {
    CriticalSectionLock lock(m_lock);
    if (m_unplugged || m_failWrites) return 0;
    m_model.OnCommand(data, length);
    CompleteReads();
    return 1;
}

int32_t ModelDevice::Begin(PendingRead& read, uint8_t* buffer, uint32_t length, HANDLE event) {
    CriticalSectionLock lock(m_lock);
    if (m_unplugged || !event) return 0;
    read = PendingRead{buffer, length, event, false, 0};
    ::ResetEvent(event);
    CompleteReads();
    return 1;
}

int32_t ModelDevice::Wait(PendingRead& read, uint32_t* bytesRead, DWORD timeoutMs) {
    HANDLE event;
    {
        CriticalSectionLock lock(m_lock);
        *bytesRead = 0;
        if (!read.event) return 1;   // nothing was started
        event = read.event;
    }
    ::WaitForSingleObject(event, timeoutMs);
    CriticalSectionLock lock(m_lock);
    const bool done = read.done && !m_unplugged;
    *bytesRead = done ? read.bytes : 0;
    read = PendingRead{};   // a read that timed out is cancelled
    return done ? 1 : 0;
}

int32_t ModelDevice::ReadSync(bool data, uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    PendingRead& read = data ? m_data : m_response;
    if (!event || !Begin(read, buffer, length, event.get())) return 0;
    return Wait(read, bytesRead, m_syncTimeoutMs);
}

int32_t ModelDevice::ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    return ReadSync(false, buffer, length, bytesRead);
}

int32_t ModelDevice::BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) {
    return Begin(m_response, buffer, length, event);
}

int32_t ModelDevice::WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) {
    return Wait(m_response, bytesRead, timeoutMs);
}

int32_t ModelDevice::ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    return ReadSync(true, buffer, length, bytesRead);
}

int32_t ModelDevice::BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) {
    return Begin(m_data, buffer, length, event);
}

int32_t ModelDevice::WaitData(uint32_t* bytesRead, DWORD timeoutMs) {
    return Wait(m_data, bytesRead, timeoutMs);
}

int32_t ModelDevice::ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                    uint8_t* buffer, uint32_t length) {
    CriticalSectionLock lock(m_lock);
    if (m_unplugged || type != kControlVendor || recipient != kRecipientDevice) return 0;
    return int32_t(m_model.ControlIn(request, value, index, buffer, length));
}

int32_t ModelDevice::ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                               uint8_t* buffer, uint32_t length) {
    return uint32_t(ControlInCount(type, recipient, request, value, index, buffer, length)) == length ? 1 : 0;
}

int32_t ModelDevice::ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                uint8_t* buffer, uint32_t length) {
    CriticalSectionLock lock(m_lock);
    if (m_unplugged || type != kControlVendor || recipient != kRecipientDevice) return 0;
    return m_model.ControlOut(request, value, index, buffer, length) ? 1 : 0;
}

}  // namespace orvo::emu
