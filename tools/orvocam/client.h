// What the orvocam commands share: the loaded library, waits that keep the
// library's window alive, and result texts.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

#include "camera_api/api/orvo_api_client.h"

namespace orvocam {

// The library's hidden window lives on the thread that initialised it: every
// wait of the tool dispatches window messages so hot-plug and owner checks run.
// True when the handle was signalled within the time.
bool WaitPumping(HANDLE handle, DWORD timeoutMs);
// Pumps messages for that long.
void PumpFor(DWORD ms);

// "0x8xxxxxxx (ORVO_E_NAME)" for a result code.
std::string ResultText(int32_t result);
// " (range MIN..MAX, step S)" for a camera-wide parameter, or "" when it has none.
std::string RangeText(orvo::OrvoApiClient& api, int handle, int paramId);
// "exposure (parameter 0) = 33333 us (range ...)": a value with its name, unit and range.
std::string ValueText(orvo::OrvoApiClient& api, int handle, int paramId, int value);

// Opens a camera by device id, printing why when it cannot.
int OpenCamera(orvo::OrvoApiClient& api, int deviceId);

// Opens the camera and prints its info records and camera-wide parameters.
void PrintCameraRecords(orvo::OrvoApiClient& api, int deviceId, int model);

int CommandList(orvo::OrvoApiClient& api);
int CommandInfo(orvo::OrvoApiClient& api, int deviceId);
int CommandGet(orvo::OrvoApiClient& api, int deviceId, int paramId);
int CommandSet(orvo::OrvoApiClient& api, int deviceId, int paramId, int value);
// Grabs after applying `settings` (parameter, value) and prints the values the
// camera's regulation settled on.
int CommandGrab(orvo::OrvoApiClient& api, int deviceId, int frames, int width, int height, const std::wstring& outDir,
                const std::vector<std::pair<int, int>>& settings);
int CommandWatch(orvo::OrvoApiClient& api, int deviceId, int seconds);

}  // namespace orvocam
