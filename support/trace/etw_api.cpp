#include "support/trace/etw_api.h"

namespace orvo {

const EtwApi& SystemEtwApi() noexcept {
    static const EtwApi api{::RegisterTraceGuidsW, ::UnregisterTraceGuids, ::GetTraceLoggerHandle,
                            ::GetTraceEnableLevel, ::GetTraceEnableFlags, ::TraceEvent};
    return api;
}

}  // namespace orvo
