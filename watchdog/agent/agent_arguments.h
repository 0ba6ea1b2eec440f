// The agent's command line: "path" <service process id> <stop event handle>.
#pragma once
#include <cstdint>
#include <optional>

namespace orvo::watchdog {

struct AgentArguments {
    uint32_t serviceProcessId = 0;
    uint64_t stopEventHandle = 0;  // 0: a clean-up run
    bool CleanupRun() const noexcept { return stopEventHandle == 0; }
};

// Decimal digits only, within range: garbage must not read as 0, which
// would ask for a clean-up of every session.
std::optional<uint64_t> ParseDecimal(const wchar_t* text, uint64_t maximum) noexcept;

// Needs more than two arguments (argument 0 is the path).
std::optional<AgentArguments> ParseAgentArguments(int argc, const wchar_t* const* argv) noexcept;

}  // namespace orvo::watchdog
