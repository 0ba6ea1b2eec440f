// The property store under HKLM "Software\PropertyString" where the engine
// leaves download and installation error properties for installers to read.
#pragma once
#include <string>

namespace orvo::uninstaller {

void ClearPropertyStore();
void RecordProperty(const std::wstring& name, const std::wstring& value);

}  // namespace orvo::uninstaller
