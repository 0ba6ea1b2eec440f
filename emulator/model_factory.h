// The model a device description names: "model=<kind>" (scripted by default).
#pragma once
#include <memory>

#include "emulator/device_settings.h"
#include "emulator/usb_model.h"

namespace orvo::emu {

// The model a description names, or null when its kind is unknown. Camera
// models add their kinds here.
std::unique_ptr<IUsbDeviceModel> CreateModel(const DeviceSettings& settings);

}  // namespace orvo::emu
