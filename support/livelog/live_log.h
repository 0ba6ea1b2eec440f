// The process's link to the live log: attached while at least one trace
// session that enabled a provider is feeding it, and only while a viewer
// announces itself. Lock order: this critical section, then the ring's mutex.
#pragma once
#include <windows.h>
#include <evntrace.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/livelog/live_log_layout.h"
#include "support/livelog/live_log_writer.h"
#include "support/sync/zel_sync_object.h"

namespace orvo {

class CZelLiveLog : public CZelCriticalSection {
public:
    // Results of Write.
    static constexpr uint32_t kWritten = 0;
    static constexpr uint32_t kNotWritten = 5;

    explicit CZelLiveLog(std::wstring baseName = kZelLiveLogBaseName, int capacity = kZelLiveLogDefaultCapacity);

    // The process's instance, created on first use; it outlives the
    // providers, which touch it while they are constructed.
    static CZelLiveLog& Instance();
    // True while a viewer's announcement event exists.
    static bool IsEnabled() noexcept;

    void Attach(TRACEHANDLE loggerHandle) noexcept;
    void Detach(TRACEHANDLE loggerHandle) noexcept;
    // Stamps the event's header (thread, process, UTC time) and appends it;
    // an event larger than a record's data is recorded as too large.
    uint32_t Write(EVENT_TRACE_HEADER* event) noexcept;

    bool HasWriter() noexcept;
    uint32_t WriterLastError() noexcept;
    size_t AttachedSessions() noexcept;

private:
    const std::wstring m_baseName;
    const int m_capacity;
    std::vector<TRACEHANDLE> m_loggers;
    std::unique_ptr<CZelLiveLogWriter> m_writer;
};

}  // namespace orvo
