// Trace statements. Each statement names its provider, level, flag mask and
// typed arguments:
//
//     ZEL_TRACE(ZelProviderA(), kZelLevelError, 2, hr, deviceId);
//
// Its message number is the statement's own code address as an offset from
// the module's load address, so a decoder finds its file and line in the
// module's debug information. A disabled provider costs the IsEnabled test
// only; the event is built on the tracing thread's stack.
#pragma once
#include <windows.h>
#include <cstdint>

#include "support/trace/trace_event_builder.h"
#include "support/trace/trace_provider.h"

namespace orvo {

// The two providers every tracing module carries, built at load time.
CZelTraceProvider& ZelProviderA() noexcept;
CZelTraceProvider& ZelProviderB() noexcept;

}  // namespace orvo

#define ZEL_TRACE_STRINGIFY2(x) #x
#define ZEL_TRACE_STRINGIFY(x) ZEL_TRACE_STRINGIFY2(x)

// Stores the address of a marker instruction into `pc`. The line in the
// comment keeps the compiler from merging two statements' markers.
#if defined(__x86_64__)
#define ZEL_TRACE_HERE(pc) \
    __asm__ volatile("1: leaq 1b(%%rip), %0 # zel trace line " ZEL_TRACE_STRINGIFY(__LINE__) : "=r"(pc))
#elif defined(__i386__)
#define ZEL_TRACE_HERE(pc) \
    __asm__ volatile("1: movl $1b, %0 # zel trace line " ZEL_TRACE_STRINGIFY(__LINE__) : "=r"(pc))
#else
#error "trace statements need the marker instruction of this architecture"
#endif

#define ZEL_TRACE(provider, level, flags, ...)                                                                  \
    do {                                                                                                          \
        ::orvo::CZelTraceProvider& zelTraceProvider_ = (provider);                                                \
        if (zelTraceProvider_.IsEnabled((level), (flags))) {                                                      \
            uintptr_t zelTracePc_;                                                                                \
            ZEL_TRACE_HERE(zelTracePc_);                                                                          \
            ::orvo::TraceEventBuilder zelTraceEvent_((level), zelTraceProvider_.MessageNumber(zelTracePc_),       \
                                                     zelTraceProvider_.LoadAddress(), ::GetCurrentProcessId());   \
            if (zelTraceEvent_.Append(__VA_ARGS__)) zelTraceProvider_.Write(zelTraceEvent_.Event());              \
        }                                                                                                         \
    } while (0)
