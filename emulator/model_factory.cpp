#include "emulator/model_factory.h"

#include "emulator/models/command_status_usb_model.h"
#include "emulator/scripted_model.h"
#include "emulator/sensor/sensor_model.h"

namespace orvo::emu {

std::unique_ptr<IUsbDeviceModel> CreateModel(const DeviceSettings& settings) {
    auto kind = settings.find("model");
    if (kind == settings.end() || kind->second == "scripted") return CScriptedUsbModel::FromSettings(settings);
    if (kind->second == "alder") return CCommandStatusUsbModel::FromSettings(Family::Alder, settings);
    if (kind->second == "birch") return CCommandStatusUsbModel::FromSettings(Family::Birch, settings);
    if (kind->second == "sensor") return CSensorUsbModel::FromSettings(settings);
    return nullptr;
}

}  // namespace orvo::emu
