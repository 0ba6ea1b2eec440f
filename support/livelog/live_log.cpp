#include "support/livelog/live_log.h"

#include <algorithm>
#include <cstring>

#include "support/trace/trace_event.h"
#include "win32/unique_handle.h"

namespace orvo {

CZelLiveLog::CZelLiveLog(std::wstring baseName, int capacity) : m_baseName(std::move(baseName)), m_capacity(capacity) {}

CZelLiveLog& CZelLiveLog::Instance() {
    static CZelLiveLog instance;
    return instance;
}

bool CZelLiveLog::IsEnabled() noexcept {
    return win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName)).valid();
}

void CZelLiveLog::Attach(TRACEHANDLE loggerHandle) noexcept {
    CZelSingleLock lock(this);
    try {
        m_loggers.push_back(loggerHandle);
        if (!m_writer) {
            m_writer = std::make_unique<CZelLiveLogWriter>();
            // A writer that cannot open stays, closed, until the last session
            // detaches; the events then reach ETW only.
            m_writer->Open(m_baseName.c_str(), m_capacity);
        }
    } catch (...) {
        // Out of memory: the live log simply stays detached for this session.
    }
}

void CZelLiveLog::Detach(TRACEHANDLE loggerHandle) noexcept {
    CZelSingleLock lock(this);
    const auto found = std::find(m_loggers.begin(), m_loggers.end(), loggerHandle);
    if (found == m_loggers.end()) return;
    m_loggers.erase(found);
    if (m_loggers.empty()) m_writer.reset();
}

uint32_t CZelLiveLog::Write(EVENT_TRACE_HEADER* event) noexcept {
    if (!event) return kNotWritten;
    CZelSingleLock lock(this);
    if (!m_writer) return kNotWritten;

    LiveLogRecord record{};
    record.kind = kZelRecordKindTraceEvent;
    record.status = kZelRecordComplete;
    auto* header = reinterpret_cast<ZelEventHeader*>(event);
    if (header->size >= sizeof(ZelEventHeader) && header->size <= kZelLiveLogDataBytes) {
        header->threadId = ::GetCurrentThreadId();
        header->processId = ::GetCurrentProcessId();
        SYSTEMTIME now;
        ::GetSystemTime(&now);
        FILETIME stamp{};
        ::SystemTimeToFileTime(&now, &stamp);
        header->timeStamp = static_cast<int64_t>((uint64_t{stamp.dwHighDateTime} << 32) | stamp.dwLowDateTime);
        record.length = header->size;
        std::memcpy(record.data, event, header->size);
    } else {
        record.status = kZelRecordTooLarge;
    }
    return m_writer->Append(record) == 0 ? kWritten : kNotWritten;
}

bool CZelLiveLog::HasWriter() noexcept {
    CZelSingleLock lock(this);
    return m_writer != nullptr;
}

uint32_t CZelLiveLog::WriterLastError() noexcept {
    CZelSingleLock lock(this);
    return m_writer ? m_writer->LastError() : 0;
}

size_t CZelLiveLog::AttachedSessions() noexcept {
    CZelSingleLock lock(this);
    return m_loggers.size();
}

}  // namespace orvo
