// The four path variables settings may use in paths.
#pragma once
#include <string>

namespace orvo::setup {

struct PathVariables {
    std::wstring systemDrive;   // "C:"
    std::wstring programFiles;  // "C:\Program Files"
    std::wstring windows;       // "C:\Windows"
    std::wstring system32;      // "C:\Windows\System32"

    // Every backslash-separated component that is exactly "$(WinDrive)",
    // "$(ProgramFiles)", "$(Windows)" or "$(System32)" (ignoring case) is
    // replaced by its value.
    std::wstring Replace(const std::wstring& path) const;
};

}  // namespace orvo::setup
