// Trace statements of the watchdog: everything goes through provider B with
// flag mask 2, except the feeder's status check, which uses provider A.
#pragma once
#include "support/trace/zel_trace.h"

#define WD_TRACE_ERROR(...) ZEL_TRACE(::orvo::ZelProviderB(), ::orvo::kZelLevelError, 2, __VA_ARGS__)
#define WD_TRACE_WARNING(...) ZEL_TRACE(::orvo::ZelProviderB(), ::orvo::kZelLevelWarning, 2, __VA_ARGS__)
#define WD_TRACE_INFO(...) ZEL_TRACE(::orvo::ZelProviderB(), ::orvo::kZelLevelInformation, 2, __VA_ARGS__)
