#include "support/trace/zel_trace.h"

namespace orvo {
namespace {

// Registered when the module loads, unregistered when it unloads.
CZelTraceProvider g_providerA(kZelProviderAGuid);
CZelTraceProvider g_providerB(kZelProviderBGuid);

}  // namespace

CZelTraceProvider& ZelProviderA() noexcept { return g_providerA; }
CZelTraceProvider& ZelProviderB() noexcept { return g_providerB; }

}  // namespace orvo
