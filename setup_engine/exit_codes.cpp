#include "setup_engine/exit_codes.h"

#include <algorithm>

#include "setup_engine/text.h"

namespace orvo::setup {

CodeList ParseCodeList(const std::wstring& text) {
    CodeList codes;
    if (RemoveBlanks(text).empty()) return codes;
    for (const auto& piece : Split(text, L'|')) {
        if (codes.size() == kMaxCodesInList) break;
        const std::wstring digits = RemoveBlanks(piece);
        if (digits.empty()) continue;
        unsigned long long value = 0;
        bool ok = true;
        for (wchar_t c : digits) {
            if (c < L'0' || c > L'9' || value > 0xFFFFFFFFull) {
                ok = false;
                break;
            }
            value = value * 10 + static_cast<unsigned>(c - L'0');
        }
        if (ok && value <= 0xFFFFFFFFull) codes.push_back(static_cast<uint32_t>(value));
    }
    return codes;
}

bool Contains(const CodeList& list, uint32_t code) { return std::find(list.begin(), list.end(), code) != list.end(); }

ExitCodePlan ClassifyExitCode(uint32_t code, const ExitCodeRules& rules, bool retrying, bool downloaded) {
    ExitCodePlan plan;
    const std::wstring& mode = rules.rebootMode;
    const auto askReboot = [&](int rebootMode, int ifDeclined) {
        plan.ask = ExitCodePlan::Ask::Reboot;
        plan.rebootMode = rebootMode;
        plan.action = ifDeclined;
        plan.actionIfAccepted = kActionRebootStarted;
        return plan;
    };
    if (mode != L"none") {
        if (mode == L"force") return askReboot(kRebootModeForce, kActionDeclinedForcedReboot);
        if (mode == L"return") {
            plan.action = kActionReturn;
            return plan;
        }
        if (Contains(rules.rebootCodes, code)) {
            if (mode == L"defer" || mode == L"deferforce") {
                plan.deferredBits = mode == L"defer" ? kDeferred : kDeferredForced;
                return plan;
            }
            if (mode == L"immediate") return askReboot(kRebootModeImmediate, kActionContinue);
            if (mode == L"immediateforce") return askReboot(kRebootModeImmediateForced, kActionDeclinedForcedReboot);
        }
    }
    if (Contains(rules.failCodes, code)) {
        plan.signalEvent = code == kAnotherVersion ? L"InstallationBootstrapperAnotherVersionEvent"
                                                   : L"InstallationBootstrapperFailEvent";
        if (downloaded) {
            plan.recordInstallError = true;
        } else {
            plan.failurePrompt = code != kUserExit;
            plan.action = kActionStop;
            return plan;
        }
    }
    if (Contains(rules.exitCodes, code)) {
        plan.action = kActionStop;
        return plan;
    }
    if (Contains(rules.silentCodes, code)) plan.becomeSilent = true;
    if (Contains(rules.reinstallCodes, code)) {
        if (retrying) {
            plan.logLine = L"CheckExitCode - Already reinstalling.";
            plan.action = kActionStop;
            return plan;
        }
        plan.ask = ExitCodePlan::Ask::Reinstall;
        plan.action = kActionStop;
        plan.actionIfAccepted = kActionRetry;
        return plan;
    }
    return plan;
}

}  // namespace orvo::setup
