// Plays one ETW trace session through the provider's seam: providers register
// with it, the test enables one at a level and flags, and the events the
// provider hands to TraceEvent are kept for inspection.
#pragma once
#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/trace/etw_api.h"
#include "support/trace/trace_event.h"

namespace orvo::test {

class FakeEtwSession {
public:
    static constexpr TRACEHANDLE kLoggerHandle = 0x5E55'10A0'0000'0042ull;

    FakeEtwSession() { Current() = this; }
    ~FakeEtwSession() { Current() = nullptr; }
    FakeEtwSession(const FakeEtwSession&) = delete;
    FakeEtwSession& operator=(const FakeEtwSession&) = delete;

    static const EtwApi& Api() {
        static const EtwApi api{&Register, &Unregister, &LoggerHandle, &EnableLevel, &EnableFlags, &Trace};
        return api;
    }

    // Sends the provider's control callback what a session would.
    ULONG Enable(const GUID& control, uint8_t level, uint32_t flags) {
        m_level = level;
        m_flags = flags;
        return Control(control, WMI_ENABLE_EVENTS);
    }
    ULONG Disable(const GUID& control) { return Control(control, WMI_DISABLE_EVENTS); }
    ULONG Control(const GUID& control, WMIDPREQUESTCODE code) {
        for (const Registration& r : m_registrations) {
            if (r.active && r.control == control) {
                WNODE_HEADER wnode{};
                wnode.BufferSize = sizeof(wnode);
                wnode.HistoricalContext = kLoggerHandle;
                ULONG size = sizeof(wnode);
                return r.callback(code, r.context, &size, &wnode);
            }
        }
        return ERROR_NOT_FOUND;
    }

    // Events received, each as its bytes.
    std::vector<std::vector<uint8_t>> events;
    size_t ActiveRegistrations() const {
        size_t n = 0;
        for (const Registration& r : m_registrations) n += r.active ? 1 : 0;
        return n;
    }
    struct Registration {
        GUID control;
        WMIDPREQUEST callback;
        PVOID context;
        std::vector<GUID> traceGuids;
        bool active;
    };
    const std::vector<Registration>& Registrations() const { return m_registrations; }

private:
    static FakeEtwSession*& Current() {
        static FakeEtwSession* current = nullptr;
        return current;
    }

    static ULONG WINAPI Register(WMIDPREQUEST callback, PVOID context, LPCGUID control, ULONG count,
                                 PTRACE_GUID_REGISTRATION registrations, LPCWSTR, LPCWSTR, PTRACEHANDLE handle) {
        FakeEtwSession* s = Current();
        if (!s) return ERROR_INVALID_PARAMETER;
        Registration r{*control, callback, context, {}, true};
        for (ULONG i = 0; i < count; ++i) r.traceGuids.push_back(*registrations[i].Guid);
        s->m_registrations.push_back(r);
        *handle = s->m_registrations.size();
        return ERROR_SUCCESS;
    }
    static ULONG WINAPI Unregister(TRACEHANDLE handle) {
        FakeEtwSession* s = Current();
        if (!s || handle == 0 || handle > s->m_registrations.size()) return ERROR_INVALID_PARAMETER;
        s->m_registrations[handle - 1].active = false;
        return ERROR_SUCCESS;
    }
    static TRACEHANDLE WINAPI LoggerHandle(PVOID buffer) {
        return buffer ? static_cast<WNODE_HEADER*>(buffer)->HistoricalContext : 0;
    }
    static UCHAR WINAPI EnableLevel(TRACEHANDLE handle) {
        FakeEtwSession* s = Current();
        return s && handle == kLoggerHandle ? s->m_level : 0;
    }
    static ULONG WINAPI EnableFlags(TRACEHANDLE handle) {
        FakeEtwSession* s = Current();
        return s && handle == kLoggerHandle ? s->m_flags : 0;
    }
    static ULONG WINAPI Trace(TRACEHANDLE handle, PEVENT_TRACE_HEADER event) {
        FakeEtwSession* s = Current();
        if (!s || handle != kLoggerHandle) return ERROR_INVALID_HANDLE;
        const auto* bytes = reinterpret_cast<const uint8_t*>(event);
        s->events.emplace_back(bytes, bytes + event->Size);
        return ERROR_SUCCESS;
    }

    std::vector<Registration> m_registrations;
    uint8_t m_level = 0;
    uint32_t m_flags = 0;
};

// Typed view of a received message event.
inline uint8_t EventLevel(const std::vector<uint8_t>& e) { return e[offsetof(ZelEventHeader, level)]; }
inline GUID EventClass(const std::vector<uint8_t>& e) {
    GUID g;
    std::memcpy(&g, e.data() + offsetof(ZelEventHeader, guid), sizeof(g));
    return g;
}
inline uint32_t EventMessageNumber(const std::vector<uint8_t>& e) {
    uint32_t n;
    std::memcpy(&n, e.data() + offsetof(TraceEventBuffer, messageNumber), sizeof(n));
    return n;
}

}  // namespace orvo::test
