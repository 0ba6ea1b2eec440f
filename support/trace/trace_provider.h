// A classic traced-GUID ETW provider. While a session has enabled it, trace
// statements that pass the session's level and flags become binary events
// (message number plus typed arguments) handed to TraceEvent, and, while a
// log viewer listens, mirrored into the live log.
#pragma once
#include <windows.h>
#include <evntrace.h>
#include <atomic>
#include <cstdint>

#include "support/trace/etw_api.h"
#include "support/trace/trace_event.h"

namespace orvo {

class CZelTraceProvider {
public:
    static constexpr ULONG kMaxTraceGuids = 10;

    // Registers with ETW at once: messages and module information are its
    // two event classes.
    explicit CZelTraceProvider(const GUID& controlGuid, const EtwApi& etw = SystemEtwApi()) noexcept;
    ~CZelTraceProvider();
    CZelTraceProvider(const CZelTraceProvider&) = delete;
    CZelTraceProvider& operator=(const CZelTraceProvider&) = delete;

    bool IsEnabled(uint8_t level, uint32_t flags) const noexcept {
        return m_enabled.load(std::memory_order_acquire) && m_enableLevel.load(std::memory_order_relaxed) >= level &&
               (m_enableFlags.load(std::memory_order_relaxed) & flags) != 0;
    }

    // Hands a built event to the live log (when attached) and to ETW; true
    // when ETW took it.
    bool Write(EVENT_TRACE_HEADER* event) noexcept;
    bool Write(TraceEventBuffer& event) noexcept { return Write(reinterpret_cast<EVENT_TRACE_HEADER*>(&event)); }

    // The ETW control callback; the context is the provider.
    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize, PVOID buffer);

    // A code address of this module as a message number.
    uint32_t MessageNumber(uintptr_t codeAddress) const noexcept {
        return static_cast<uint32_t>(codeAddress - reinterpret_cast<uintptr_t>(m_loadAddress));
    }
    uint64_t LoadAddress() const noexcept { return EventLoadAddress(m_loadAddress); }
    HMODULE Module() const noexcept { return m_loadAddress; }

    bool IsRegistered() const noexcept { return m_registration != 0; }
    bool IsLiveLogAttached() const noexcept { return m_liveLogAttached.load(); }
    TRACEHANDLE LoggerHandle() const noexcept { return m_loggerHandle.load(); }

private:
    ULONG Enable(PVOID buffer) noexcept;
    ULONG Disable() noexcept;
    void DetachLiveLog() noexcept;
    void SendModuleInfo() noexcept;

    GUID m_controlGuid;
    TRACE_GUID_REGISTRATION m_traceGuids[kMaxTraceGuids]{};
    ULONG m_traceGuidCount = 0;
    HMODULE m_loadAddress = nullptr;
    TRACEHANDLE m_registration = 0;
    // Written by the control callback on an ETW thread, read by statements
    // on any thread without a lock.
    std::atomic<TRACEHANDLE> m_loggerHandle{0};
    std::atomic<uint32_t> m_enableFlags{0};
    std::atomic<uint8_t> m_enableLevel{0};
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_liveLogAttached{false};
    const EtwApi& m_etw;
};

}  // namespace orvo
