// The few ETW calls a trace provider makes, as one table. Shipped modules use
// the system's table; a test passes its own to play the trace session
// (Wine's ETW never enables a provider).
#pragma once
#include <windows.h>
#include <evntrace.h>

namespace orvo {

struct EtwApi {
    ULONG(WINAPI* registerTraceGuids)(WMIDPREQUEST callback, PVOID context, LPCGUID controlGuid, ULONG guidCount,
                                      PTRACE_GUID_REGISTRATION registrations, LPCWSTR mofImagePath,
                                      LPCWSTR mofResourceName, PTRACEHANDLE registrationHandle);
    ULONG(WINAPI* unregisterTraceGuids)(TRACEHANDLE registrationHandle);
    TRACEHANDLE(WINAPI* getTraceLoggerHandle)(PVOID buffer);
    UCHAR(WINAPI* getTraceEnableLevel)(TRACEHANDLE loggerHandle);
    ULONG(WINAPI* getTraceEnableFlags)(TRACEHANDLE loggerHandle);
    ULONG(WINAPI* traceEvent)(TRACEHANDLE loggerHandle, PEVENT_TRACE_HEADER event);
};

const EtwApi& SystemEtwApi() noexcept;

}  // namespace orvo
