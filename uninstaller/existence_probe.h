// The system tests behind existence rules: registry keys, files, Windows
// version, platform, package and .NET versions.
#pragma once
#include <string>

#include "setup_engine/existence_rules.h"
#include "setup_engine/path_variables.h"

namespace orvo::uninstaller {

class SystemProbe final : public setup::ExistenceProbe {
public:
    SystemProbe(const setup::PathVariables& paths, std::wstring packagePath)
        : m_paths(paths), m_packagePath(std::move(packagePath)) {}
    bool Test(const std::wstring& type, const std::wstring& value, bool& known) override;

private:
    const setup::PathVariables& m_paths;
    std::wstring m_packagePath;
};

bool RegistryKeyExists(const std::wstring& path);

}  // namespace orvo::uninstaller
