// orvocam: shows what the camera library sees. Loads orvoApi.dll by name,
// prints its version, initialises it and lists the cameras.
#include <windows.h>
#include <cstdio>
#include <vector>

#include "camera_api/api/orvo_api_client.h"

namespace {

const char* ModelName(int model) {
    switch (model) {
    case 0: case 4: return "raw-sensor camera";
    case 2: case 3: case 5: case 6: case 7: case 8: return "command-and-status camera (birch)";
    case 9: case 10: case 11: case 12: return "command-and-status camera (alder)";
    default: return "unknown model";
    }
}

int ListCameras(orvo::OrvoApiClient& api) {
    int count = 0;
    int32_t result = api.orvo_GetNumDevices(&count);
    if (result != ORVO_OK) {
        std::printf("error: the camera count could not be read (result 0x%08lX)\n", static_cast<unsigned long>(result));
        return 1;
    }
    if (count == 0) {
        std::printf("No cameras found.\n");
        return 0;
    }
    std::vector<DeviceEntry> entries(static_cast<size_t>(count));
    int listed = 0;
    result = api.orvo_GetDeviceList(static_cast<uint32_t>(entries.size() * sizeof(DeviceEntry)), entries.data(), &listed);
    if (result == ORVO_E_NO_DEVICES) {
        std::printf("No cameras found.\n");
        return 0;
    }
    if (result != ORVO_OK && result != ORVO_E_MORE_DATA) {
        std::printf("error: the camera list could not be read (result 0x%08lX)\n", static_cast<unsigned long>(result));
        return 1;
    }
    std::printf("%d camera(s):\n", listed);
    for (int i = 0; i < listed; ++i) {
        const DeviceEntry& e = entries[static_cast<size_t>(i)];
        std::printf("  id %d: model %d (%s), release %d.%d, product \"%ls\", serial \"%ls\"%s\n", e.deviceId, e.model,
                    ModelName(e.model), e.releaseMajor, e.releaseMinor, e.product, e.serialNumber,
                    e.inUse ? ", in use" : "");
    }
    return 0;
}

}  // namespace

int wmain() {
    orvo::OrvoApiClient api;
    if (!api.Load()) {
        std::printf("error: orvoApi.dll could not be loaded (Windows error %lu)\n", ::GetLastError());
        return 1;
    }
    if (!api.orvo_GetApiVersion || !api.orvo_InitializeApi || !api.orvo_GetNumDevices || !api.orvo_GetDeviceList) {
        std::printf("error: orvoApi.dll lacks an export this tool needs\n");
        return 1;
    }
    ApiVersion version{};
    api.orvo_GetApiVersion(&version);
    std::printf("orvoApi version %u.%u.%u\n", version.major, version.minor, version.build);
    const int32_t init = api.orvo_InitializeApi();
    if (init != ORVO_OK) {
        std::printf("error: the camera library could not initialise (result 0x%08lX)\n", static_cast<unsigned long>(init));
        return 1;
    }
    std::printf("Camera library initialised.\n");
    return ListCameras(api);
}
