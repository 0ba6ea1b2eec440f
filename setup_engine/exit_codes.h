// What an installer's exit code means for the run: an action, plus what the
// engine must ask the user or signal before the action is final.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::setup {

enum Action : int {
    kActionContinue = 0,
    kActionStop = 1,
    kActionDeclinedForcedReboot = 2,
    kActionRebootStarted = 3,
    kActionReturn = 4,
    kActionRetry = 5,
};

enum DeferredBits : uint32_t { kDeferred = 0x1, kDeferredForced = 0x10 };

// Reboot prompt modes: 1, 3 and 6 offer OK and Cancel, 2, 4 and 5 OK only.
enum RebootMode : int {
    kRebootModeFinishDeferred = 1,
    kRebootModeFinishDeferredForced = 2,
    kRebootModeImmediate = 3,
    kRebootModeImmediateForced = 4,
    kRebootModeForce = 5,
    kRebootModeDriver = 6,
};

using CodeList = std::vector<uint32_t>;
constexpr size_t kMaxCodesInList = 49;

// "0|3010|1641" -> codes; pieces beyond the 49th are ignored.
CodeList ParseCodeList(const std::wstring& text);
bool Contains(const CodeList& list, uint32_t code);

struct ExitCodeRules {
    std::wstring rebootMode = L"defer";  // lower case
    CodeList rebootCodes, failCodes, exitCodes, silentCodes, reinstallCodes;
};

struct ExitCodePlan {
    enum class Ask { None, Reboot, Reinstall };
    Ask ask = Ask::None;
    int rebootMode = 0;          // with Ask::Reboot
    int action = kActionContinue;  // final when ask is None, else the answer "no"
    int actionIfAccepted = kActionContinue;  // reboot: 3; reinstall: 5 when clean-up succeeds
    const wchar_t* signalEvent = nullptr;  // named event to set
    bool failurePrompt = false;   // message 60
    bool recordInstallError = false;
    bool becomeSilent = false;
    uint32_t deferredBits = 0;    // to OR into the engine's deferred bits
    std::wstring logLine;         // what the classification says, if anything
};

constexpr uint32_t kUserExit = 1602;
constexpr uint32_t kAnotherVersion = 1638;

ExitCodePlan ClassifyExitCode(uint32_t code, const ExitCodeRules& rules, bool retrying, bool downloaded);

}  // namespace orvo::setup
