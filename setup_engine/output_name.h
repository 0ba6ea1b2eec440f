// Which file (or product code) an installer's command line names.
#pragma once
#include <string>

namespace orvo::setup {

struct OutputName {
    bool found = false;
    std::wstring name;         // unquoted file name or product code
    bool isProductCode = false;
};

// For msiexec: the name after the first of "/i ", "/package ", "/x ",
// "/uninstall ", "/p ", "/update " that occurs. A quoted name runs to its
// closing quote (spaces and all); a bare one to " /", the next space or the end.
OutputName ParseMsiPackageName(const std::wstring& arguments);

// Where the installer file lives: an absolute name as it is, else inside
// folder (the run's temporary folder when extracted, the source directory
// when not).
std::wstring JoinOutputPath(const std::wstring& folder, const std::wstring& name);
bool IsAbsolutePath(const std::wstring& path);

}  // namespace orvo::setup
