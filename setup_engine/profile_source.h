// Where settings values come from: the profile (INI) functions of Windows, or
// text held in memory. Both answer alike, so the settings model and its tests
// do not care which one they read.
#pragma once
#include <optional>
#include <string>

namespace orvo::setup {

class ProfileSource {
public:
    virtual ~ProfileSource() = default;
    // The whole value (blanks around it and one pair of enclosing quotes
    // removed), or nothing when the section or key is absent.
    virtual std::optional<std::wstring> ReadString(const std::wstring& section, const std::wstring& key) const = 0;
    // As GetPrivateProfileIntW: fallback when absent, else the leading number.
    virtual int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const = 0;
    // True when the section has at least one line to report.
    virtual bool SectionHasContent(const std::wstring& section) const = 0;
};

}  // namespace orvo::setup
