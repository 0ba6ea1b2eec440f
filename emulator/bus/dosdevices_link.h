// Links in the Wine prefix's dosdevices folder, made from the Linux side:
// Wine resolves "\\?\name" through dosdevices/name, so a link there to the
// device's description file is what CreateFileW on the interface path opens.
#pragma once
#include <string>

namespace orvo::emu {

// The Linux path of a Windows path, or empty outside Wine.
std::string UnixPath(const std::wstring& windowsPath);
// Makes (or replaces) dosdevices/<name> -> the file at windowsTarget.
bool MakeDosDeviceLink(const std::wstring& name, const std::wstring& windowsTarget);
bool RemoveDosDeviceLink(const std::wstring& name);

}  // namespace orvo::emu
