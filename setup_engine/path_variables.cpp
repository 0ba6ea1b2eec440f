#include "setup_engine/path_variables.h"

#include "setup_engine/text.h"

namespace orvo::setup {

std::wstring PathVariables::Replace(const std::wstring& path) const {
    std::wstring out;
    bool first = true;
    for (const auto& part : Split(path, L'\\')) {
        if (!first) out += L'\\';
        first = false;
        if (IEquals(part, L"$(WinDrive)")) out += systemDrive;
        else if (IEquals(part, L"$(ProgramFiles)")) out += programFiles;
        else if (IEquals(part, L"$(Windows)")) out += windows;
        else if (IEquals(part, L"$(System32)")) out += system32;
        else out += part;
    }
    return out;
}

}  // namespace orvo::setup
