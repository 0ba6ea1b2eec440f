#include "emulator/model_factory.h"

#include <sstream>

#include "emulator/scripted_model.h"

namespace orvo::emu {

DeviceSettings ParseDeviceSettings(const std::string& text) {
    DeviceSettings settings;
    std::istringstream lines(text.substr(0, 64 * 1024));
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        settings[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return settings;
}

std::string FormatDeviceSettings(const DeviceSettings& settings) {
    std::string text;
    for (const auto& [key, value] : settings) text += key + "=" + value + "\n";
    return text;
}

std::unique_ptr<IUsbDeviceModel> CreateModel(const DeviceSettings& settings) {
    auto kind = settings.find("model");
    if (kind == settings.end() || kind->second == "scripted") return CScriptedUsbModel::FromSettings(settings);
    return nullptr;
}

}  // namespace orvo::emu
