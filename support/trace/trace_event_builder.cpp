#include "support/trace/trace_event_builder.h"

#include <cwchar>

namespace orvo {

TraceEventBuilder::TraceEventBuilder(uint8_t level, uint32_t messageNumber, uint64_t loadAddress,
                                     uint32_t processId) noexcept {
    std::memset(&m_event, 0, kZelMessageEventHeaderBytes);
    m_event.header.size = static_cast<uint16_t>(kZelMessageEventHeaderBytes);
    m_event.header.type = 0;
    m_event.header.level = level;
    m_event.header.guid = kZelMessageEventGuid;
    m_event.header.flags = kZelTracedGuidFlag;
    m_event.processId = processId;
    m_event.messageNumber = messageNumber;
    m_event.loadAddress = loadAddress;
}

bool TraceEventBuilder::AppendRaw(uint8_t type, const void* data, size_t bytes) noexcept {
    if (m_length == kZelArgumentBytes) return true;  // full: what follows is dropped
    const size_t room = kZelArgumentBytes - m_length - 1;  // one byte for the type
    if (room == 0) return false;
    if (bytes > room) {
        if (type == kZelArgString) {
            bytes = room;
        } else if (type == kZelArgWideString) {
            bytes = room & ~size_t{1};
        } else {
            return false;
        }
    }
    if (bytes == 0 || !data) return false;
    m_event.arguments[m_length] = type;
    std::memcpy(m_event.arguments + m_length + 1, data, bytes);
    m_length += 1 + bytes;
    m_event.header.size = static_cast<uint16_t>(kZelMessageEventHeaderBytes + m_length);
    return true;
}

bool TraceEventBuilder::Add(const char* text) noexcept {
    if (!text) return Add(static_cast<const wchar_t*>(nullptr));
    return AppendRaw(kZelArgString, text, std::strlen(text) + 1);
}

bool TraceEventBuilder::Add(const wchar_t* text) noexcept {
    if (!text) text = L"(NULL)";
    return AppendRaw(kZelArgWideString, text, (std::wcslen(text) + 1) * sizeof(wchar_t));
}

bool TraceEventBuilder::Add(const GUID& guid) noexcept {
    if (!Add(static_cast<uint32_t>(guid.Data1))) return false;
    if (!AddInt32(guid.Data2) || !AddInt32(guid.Data3)) return false;
    for (unsigned char byte : guid.Data4) {
        if (!AddInt32(byte)) return false;
    }
    return true;
}

}  // namespace orvo
