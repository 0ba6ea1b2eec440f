// Emulated devices described by text: the file behind an emulated device's
// path holds "key=value" lines, and "model=<kind>" names the model to build.
#pragma once
#include <map>
#include <memory>
#include <string>

#include "emulator/usb_model.h"

namespace orvo::emu {

using DeviceSettings = std::map<std::string, std::string>;

// Lines of "key=value"; blank lines and lines starting with '#' are skipped,
// and at most 64 KiB of text is looked at.
DeviceSettings ParseDeviceSettings(const std::string& text);
std::string FormatDeviceSettings(const DeviceSettings& settings);

// The model a description names, or null when its kind is unknown. Camera
// models add their kinds here.
std::unique_ptr<IUsbDeviceModel> CreateModel(const DeviceSettings& settings);

}  // namespace orvo::emu
