// Existence rules: "type|rule|value" entries separated by ";" that decide
// whether an installer runs (0 skip, 1 present: a reinstall, 2 no decision).
#pragma once
#include <functional>
#include <string>

namespace orvo::setup {

enum ExistenceOutcome : int { kExistenceSkip = 0, kExistencePresent = 1, kExistenceUndecided = 2 };

class ExistenceProbe {
public:
    virtual ~ExistenceProbe() = default;
    // The test of one rule type ("RegKey", "File", ...) on its value; known is
    // false for a type the probe does not handle.
    virtual bool Test(const std::wstring& type, const std::wstring& value, bool& known) = 0;
};

using LogLine = std::function<void(const std::wstring&)>;

int EvaluateExistence(const std::wstring& rules, ExistenceProbe& probe, const LogLine& log);

}  // namespace orvo::setup
