#include "emulator/device_settings.h"

#include <cstdlib>
#include <sstream>

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

uint32_t SettingNumber(const DeviceSettings& settings, const char* key, uint32_t fallback) {
    auto it = settings.find(key);
    if (it == settings.end() || it->second.empty()) return fallback;
    return uint32_t(std::strtoul(it->second.c_str(), nullptr, 0));
}

std::wstring SettingText(const DeviceSettings& settings, const char* key, const wchar_t* fallback) {
    auto it = settings.find(key);
    if (it == settings.end()) return fallback;
    return std::wstring(it->second.begin(), it->second.end());
}

DeviceIdentity IdentityFromSettings(const DeviceSettings& settings) {
    DeviceIdentity identity;
    identity.vendorId = uint16_t(SettingNumber(settings, "vid", 0));
    identity.productId = uint16_t(SettingNumber(settings, "pid", 0));
    identity.release = uint16_t(SettingNumber(settings, "release", 0x0100));
    identity.subClass = uint8_t(SettingNumber(settings, "subclass", 0));
    identity.manufacturer = SettingText(settings, "manufacturer");
    identity.product = SettingText(settings, "product");
    identity.serial = SettingText(settings, "serial");
    return identity;
}

PipeLayout LayoutFromSettings(const DeviceSettings& settings) {
    PipeLayout layout;
    layout.endpointCount = SettingNumber(settings, "endpoints", 3);
    auto data = settings.find("data");
    layout.dataType = (data != settings.end() && data->second == "isoch") ? kPipeIsochronous : kPipeBulk;
    layout.bulkPacketSize = uint16_t(SettingNumber(settings, "packet", 512));
    layout.bytesPerInterval = SettingNumber(settings, "bytes_per_interval", 3072);
    layout.interval = uint8_t(SettingNumber(settings, "interval", 1));
    layout.maxTransferSize = SettingNumber(settings, "max_transfer", 2u << 20);
    return layout;
}

}  // namespace orvo::emu
