// What `orvocam info` shows of an open camera: the camera-wide parameters
// with their values and ranges, and the info records its model answers.
#include <cstdio>
#include <cstring>

#include "tools/orvocam/client.h"

namespace orvocam {
namespace {

bool IsRawSensor(int model) { return model == 0 || model == 4; }

void PrintParameters(orvo::OrvoApiClient& api, int deviceId, int handle) {
    std::printf("  parameters (camera-wide):\n");
    for (int param = 0; param < 100; ++param) {
        if (api.orvo_IsParamSupported(deviceId, param) != ORVO_OK) continue;
        int value = 0;
        if (api.orvo_GetParam(handle, -1, param, &value) != ORVO_OK) continue;  // per-buffer ones need a set
        std::printf("    %s\n", ValueText(api, handle, param, value).c_str());
    }
}

// A white-balance preset record: id, tag, red and blue ratios in thousandths.
void PrintPreset(orvo::OrvoApiClient& api, int handle, int info, const char* name) {
    int32_t record[4] = {};
    const int32_t result = api.orvo_GetInfo(handle, info, record);
    if (result == ORVO_E_BAD_INFO) {
        std::printf("  %s: not kept by this model\n", name);
        return;
    }
    if (result != ORVO_OK) {
        std::printf("  %s: %s\n", name, ResultText(result).c_str());
        return;
    }
    char tag[5] = {};
    std::memcpy(tag, &record[1], 4);
    for (char& c : tag) {
        if (c && (c < 0x20 || c > 0x7E)) c = '?';
    }
    std::printf("  %s: tag \"%s\", red %d.%03d, blue %d.%03d\n", name, tag, record[2] / 1000, record[2] % 1000,
                record[3] / 1000, record[3] % 1000);
}

void PrintSensorRecords(orvo::OrvoApiClient& api, int handle) {
    PrintPreset(api, handle, 5, "white-balance preset 1");
    PrintPreset(api, handle, 6, "white-balance preset 2");
    int32_t list[4 + 253] = {};
    const int32_t result = api.orvo_GetInfo(handle, 7, list);
    if (result == ORVO_OK) {
        std::printf("  bad-pixel list: %d entries\n", list[3]);
    } else if (result == ORVO_E_OUT_OF_RANGE) {
        std::printf("  bad-pixel list: none in the camera's memory\n");
    } else {
        std::printf("  bad-pixel list: %s\n", ResultText(result).c_str());
    }
}

}  // namespace

void PrintCameraRecords(orvo::OrvoApiClient& api, int deviceId, int model) {
    const int handle = OpenCamera(api, deviceId);
    if (!handle) return;
    int32_t info1[5] = {};
    if (api.orvo_GetInfo(handle, 1, info1) == ORVO_OK) {
        std::printf("  info 1: %d %d %d %d%s\n", info1[1], info1[2], info1[3], info1[4],
                    IsRawSensor(model) ? " (largest picture, width and height)" : "");
    }
    int32_t transport[2] = {};
    if (api.orvo_GetInfo(handle, 15, transport) == ORVO_OK) {
        std::printf("  transport: %s\n", (transport[1] & 0xFF) ? "WinUSB" : "the camera driver");
    }
    if (IsRawSensor(model)) PrintSensorRecords(api, handle);
    PrintParameters(api, deviceId, handle);
    api.orvo_Close(handle);
}

}  // namespace orvocam
