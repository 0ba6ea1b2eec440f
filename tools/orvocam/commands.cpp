#include <windows.h>
#include <cstdio>
#include <vector>

#include "tools/orvocam/client.h"
#include "tools/orvocam/param_names.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"

namespace orvocam {
namespace {

const char* ModelName(int model) {
    switch (model) {
    case 0: case 4: return "raw-sensor camera";
    case 2: case 3: case 5: case 6: case 7: case 8: return "command-and-status camera (birch family)";
    case 9: case 10: case 11: case 12: return "command-and-status camera (alder family)";
    default: return "unknown model";
    }
}

const char* const kResultNames[] = {
    "ORVO_E_FAIL",          "ORVO_E_BUSY",          "ORVO_E_OPEN_FAILED",  "ORVO_E_IN_USE",
    "ORVO_E_BAD_HANDLE",    "ORVO_E_NOT_FOUND",     "ORVO_E_BUFFER_IN_USE", "ORVO_E_MORE_DATA",
    "ORVO_E_BAD_BUFFER",    "ORVO_E_NO_DEVICES",    "ORVO_E_BAD_INDEX",    "ORVO_E_BAD_ARG",
    "ORVO_E_NOT_IMPLEMENTED", "ORVO_E_BAD_INFO",    "ORVO_E_OUT_OF_MEMORY", "ORVO_E_BAD_PARAM",
    "ORVO_E_BAD_FORMAT",    "ORVO_E_NO_FRAME",      "ORVO_E_OUT_OF_RANGE", "ORVO_E_READ_ONLY",
    "(unused 0x014)",       "ORVO_E_CONFLICT",      "ORVO_E_UNSUPPORTED",  "ORVO_E_WRITE_ONLY"};

// The devices this process lists, or an empty list (with a message) on failure.
std::vector<DeviceEntry> Devices(orvo::OrvoApiClient& api, bool quietWhenNone) {
    DeviceEntry entries[8];
    int count = 0;
    const int32_t result = api.orvo_GetDeviceList(sizeof(entries), entries, &count);
    if (result == ORVO_E_NO_DEVICES) {
        if (!quietWhenNone) std::printf("No cameras found.\n");
        return {};
    }
    if (result != ORVO_OK && result != ORVO_E_MORE_DATA) {
        std::printf("error: the camera list could not be read: %s\n", ResultText(result).c_str());
        return {};
    }
    return std::vector<DeviceEntry>(entries, entries + count);
}

void PrintEntry(const DeviceEntry& e) {
    std::printf("  id %d: model %d (%s), release %d.%d, product \"%ls\", serial \"%ls\"%s\n", e.deviceId, e.model,
                ModelName(e.model), e.releaseMajor, e.releaseMinor, e.product, e.serialNumber,
                e.inUse ? ", in use" : "");
}

}  // namespace

bool WaitPumping(HANDLE handle, DWORD timeoutMs) {
    return orvo::win32::WaitPumpingMessages(handle, timeoutMs);
}

void PumpFor(DWORD ms) {
    WaitPumping(nullptr, ms);
}

std::string ResultText(int32_t result) {
    char text[64];
    const uint32_t n = static_cast<uint32_t>(result) & 0xFFF;
    if (result == ORVO_OK) return "0 (success)";
    if (result < 0 && n < sizeof(kResultNames) / sizeof(kResultNames[0]) && result == ORVO_RESULT(n)) {
        std::snprintf(text, sizeof(text), "0x%08X (%s)", static_cast<unsigned>(result), kResultNames[n]);
    } else {
        std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(result));
    }
    return text;
}

std::string RangeText(orvo::OrvoApiClient& api, int handle, int paramId) {
    ParamRange range{};
    if (api.orvo_GetParamRange(handle, -1, paramId, &range) != ORVO_OK) return "";
    char text[64];
    std::snprintf(text, sizeof(text), " (range %d..%d, step %d)", range.min, range.max, range.step);
    return text;
}

std::string ValueText(orvo::OrvoApiClient& api, int handle, int paramId, int value) {
    const std::string label = FindParamName(paramId) ? ParamLabel(paramId) + " (parameter " + std::to_string(paramId) + ")"
                                                     : ParamLabel(paramId);
    return label + " = " + std::to_string(value) + ParamUnit(paramId) + RangeText(api, handle, paramId);
}

int OpenCamera(orvo::OrvoApiClient& api, int deviceId) {
    int handle = 0;
    const int32_t result = api.orvo_Open(deviceId, &handle);
    if (result == ORVO_OK) return handle;
    if (result == ORVO_E_IN_USE) {
        std::printf("error: camera %d is open in another program\n", deviceId);
    } else if (result == ORVO_E_NOT_FOUND) {
        std::printf("error: there is no camera with id %d (see 'orvocam list')\n", deviceId);
    } else {
        std::printf("error: camera %d could not be opened: %s\n", deviceId, ResultText(result).c_str());
    }
    return 0;
}

int CommandList(orvo::OrvoApiClient& api) {
    const std::vector<DeviceEntry> devices = Devices(api, false);
    if (!devices.empty()) std::printf("%zu camera(s):\n", devices.size());
    for (const DeviceEntry& e : devices) PrintEntry(e);
    return 0;
}

int CommandInfo(orvo::OrvoApiClient& api, int deviceId) {
    for (const DeviceEntry& e : Devices(api, false)) {
        if (e.deviceId != deviceId) continue;
        PrintEntry(e);
        if (e.inUse) {
            std::printf("  supported parameters:");
            for (int param = 0; param < 100; ++param) {
                if (api.orvo_IsParamSupported(deviceId, param) != ORVO_OK) continue;
                if (FindParamName(param)) std::printf(" %d (%s)", param, ParamLabel(param).c_str());
                else std::printf(" %d", param);
            }
            std::printf("\n  (open in another program: values and records not shown)\n");
            return 0;
        }
        PrintCameraRecords(api, deviceId, e.model);
        return 0;
    }
    std::printf("error: there is no camera with id %d (see 'orvocam list')\n", deviceId);
    return 1;
}

int CommandGet(orvo::OrvoApiClient& api, int deviceId, int paramId) {
    const int handle = OpenCamera(api, deviceId);
    if (!handle) return 1;
    int value = 0;
    const int32_t result = api.orvo_GetParam(handle, -1, paramId, &value);
    if (result == ORVO_OK) {
        std::printf("%s\n", ValueText(api, handle, paramId, value).c_str());
    } else {
        std::printf("error: %s could not be read: %s\n", ParamLabel(paramId).c_str(), ResultText(result).c_str());
    }
    api.orvo_Close(handle);
    return result == ORVO_OK ? 0 : 1;
}

int CommandSet(orvo::OrvoApiClient& api, int deviceId, int paramId, int value) {
    const int handle = OpenCamera(api, deviceId);
    if (!handle) return 1;
    int32_t result = api.orvo_SetParam(handle, -1, paramId, &value);
    if (result == ORVO_OK) result = api.orvo_UpdateParams(handle);
    if (result == ORVO_OK) {
        std::printf("%s set to %d%s\n", ParamLabel(paramId).c_str(), value, ParamUnit(paramId).c_str());
    } else {
        std::printf("error: %s could not be set to %d: %s\n", ParamLabel(paramId).c_str(), value,
                    ResultText(result).c_str());
    }
    api.orvo_Close(handle);
    return result == ORVO_OK ? 0 : 1;
}

int CommandWatch(orvo::OrvoApiClient& api, int deviceId, int seconds) {
    orvo::win32::UniqueHandle apiEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    orvo::win32::UniqueHandle statusEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!apiEvent || !statusEvent || api.orvo_EnableApiEvent(0, apiEvent.get()) != ORVO_OK) {
        std::printf("error: the library's change event could not be set\n");
        return 1;
    }
    int handle = 0;
    if (deviceId != 0) {
        handle = OpenCamera(api, deviceId);
        if (!handle) return 1;
        api.orvo_EnableCameraEvent(handle, 2, statusEvent.get());
    }
    std::printf("watching for %d s%s\n", seconds, handle ? " (and the camera's status word)" : "");
    std::fflush(stdout);
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    HANDLE events[2] = {apiEvent.get(), statusEvent.get()};
    while (::GetTickCount64() < end) {
        const DWORD left = static_cast<DWORD>(end - ::GetTickCount64());
        const DWORD woke = ::MsgWaitForMultipleObjects(2, events, FALSE, left, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            std::printf("[%llu ms] cameras changed:\n", ::GetTickCount64() % 100000000);
            for (const DeviceEntry& e : Devices(api, false)) PrintEntry(e);
        } else if (woke == WAIT_OBJECT_0 + 1) {
            int status = 0;
            if (api.orvo_GetParam(handle, -1, 24, &status) == ORVO_OK) {
                std::printf("[%llu ms] status word 0x%X\n", ::GetTickCount64() % 100000000, status);
            }
        } else if (woke == WAIT_OBJECT_0 + 2) {
            PumpFor(0);
        } else {
            break;
        }
        std::fflush(stdout);
    }
    api.orvo_EnableApiEvent(0, nullptr);
    if (handle) api.orvo_Close(handle);
    return 0;
}

}  // namespace orvocam
