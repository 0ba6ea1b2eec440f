#include "watchdog/agent/agent_arguments.h"

namespace orvo::watchdog {

std::optional<uint64_t> ParseDecimal(const wchar_t* text, uint64_t maximum) noexcept {
    if (!text || !*text) return std::nullopt;
    uint64_t value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return std::nullopt;
        const unsigned digit = static_cast<unsigned>(*p - L'0');
        if (value > (maximum - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<AgentArguments> ParseAgentArguments(int argc, const wchar_t* const* argv) noexcept {
    if (argc <= 2 || !argv) return std::nullopt;
    const auto processId = ParseDecimal(argv[1], UINT32_MAX);
    // Handle values are pointer-sized in the service; a 32-bit agent may be
    // handed a 64-bit service's value.
    const auto handle = ParseDecimal(argv[2], UINT64_MAX);
    if (!processId || !handle) return std::nullopt;
    AgentArguments arguments;
    arguments.serviceProcessId = static_cast<uint32_t>(*processId);
    arguments.stopEventHandle = *handle;
    return arguments;
}

}  // namespace orvo::watchdog
