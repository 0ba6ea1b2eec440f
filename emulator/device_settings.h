// Emulated devices described by text: the file behind an emulated device's
// path holds "key=value" lines (keys in emulator/README.md).
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "emulator/usb_model_base.h"

namespace orvo::emu {

using DeviceSettings = std::map<std::string, std::string>;

// Lines of "key=value"; blank lines and lines starting with '#' are skipped,
// and at most 64 KiB of text is looked at.
DeviceSettings ParseDeviceSettings(const std::string& text);
std::string FormatDeviceSettings(const DeviceSettings& settings);

// A number (decimal or 0x hexadecimal) or text under key, or the fallback.
uint32_t SettingNumber(const DeviceSettings& settings, const char* key, uint32_t fallback);
std::wstring SettingText(const DeviceSettings& settings, const char* key, const wchar_t* fallback = L"");

// The identity (vid, pid, release, subclass, strings) and endpoint layout
// (endpoints, data, packet, bytes_per_interval, interval, max_transfer).
DeviceIdentity IdentityFromSettings(const DeviceSettings& settings);
PipeLayout LayoutFromSettings(const DeviceSettings& settings);

}  // namespace orvo::emu
