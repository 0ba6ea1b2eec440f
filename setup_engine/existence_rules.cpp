#include "setup_engine/existence_rules.h"

#include <algorithm>

#include "setup_engine/text.h"

namespace orvo::setup {

int EvaluateExistence(const std::wstring& rules, ExistenceProbe& probe, const LogLine& log) {
    int outcome = kExistenceUndecided;
    for (const auto& rule : Split(rules, L';')) {
        const auto parts = Split(rule, L'|');
        if (parts.size() != 3) continue;
        bool known = true;
        const int r = static_cast<int>(ParseLeadingInt(parts[1]));
        if (r < 0 || r > 5) {
            log(L"RunCheckExistence - Unknown rule value '" + std::to_wstring(r) + L"'.");
            continue;
        }
        const bool t = probe.Test(parts[0], parts[2], known);
        if (!known) {
            log(L"RunCheckExistence - Ignoring unknown type '" + parts[0] + L"'.");
            continue;
        }
        if (r <= 1) {
            const bool ruleTrue = r == 1;
            if (ruleTrue != t || outcome > 1) outcome = ruleTrue == t ? 1 : 0;
        } else if (r <= 3) {
            const int candidate = ((r != 2) == t) ? 1 : 2;
            outcome = std::min(outcome, candidate);
        } else {
            outcome = ((r != 4) == t) ? 2 : 0;
        }
        if (outcome == kExistenceSkip) break;
    }
    return outcome;
}

}  // namespace orvo::setup
