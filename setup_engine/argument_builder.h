// The command line handed to an installer: its Arguments value plus the
// properties the engine adds.
#pragma once
#include <string>
#include <vector>

#include "setup_engine/existence_rules.h"

namespace orvo::setup {

struct ArgumentInputs {
    std::wstring arguments;  // the installer section's Arguments value
    bool isMsi = false;
    bool addSourceDir = false;
    std::wstring sourceDirectory;
    bool reinstall = false;
    bool removeShared = false;
    bool allowXddm = false;
    bool quiet = false;
    std::vector<std::wstring> passThrough;  // escapes not yet replaced
    bool logging = false;
    std::wstring logFolder;  // folder of the engine's log, no trailing backslash
    std::wstring installerName;
    bool silent = false;
};

// Each property is left out (and a line logged) when Arguments names it
// already.
std::wstring BuildArguments(const ArgumentInputs& in, const LogLine& log);

}  // namespace orvo::setup
