// orvocam grab: streams from a camera and writes the frames as BMP and PNG.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/orvocam/client.h"
#include "tools/orvocam/image_files.h"
#include "tools/orvocam/param_names.h"
#include "win32/unique_handle.h"

namespace orvocam {
namespace {

constexpr int kRingFrames = 4;
constexpr DWORD kFrameTimeoutMs = 5000;

std::string Narrow(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Applies the grab's settings before capture starts.
bool ApplySettings(orvo::OrvoApiClient& api, int handle, const std::vector<std::pair<int, int>>& settings) {
    for (const auto& [param, value] : settings) {
        int v = value;
        const int32_t result = api.orvo_SetParam(handle, -1, param, &v);
        if (result != ORVO_OK) {
            std::printf("error: %s could not be set to %d: %s\n", ParamLabel(param).c_str(), value,
                        ResultText(result).c_str());
            return false;
        }
    }
    const int32_t result = settings.empty() ? ORVO_OK : api.orvo_UpdateParams(handle);
    if (result != ORVO_OK) std::printf("error: the settings could not be sent: %s\n", ResultText(result).c_str());
    return result == ORVO_OK;
}

// What the camera's regulation arrived at: exposure, gains and frame rate,
// those the camera has.
void PrintSettled(orvo::OrvoApiClient& api, int handle) {
    std::string line;
    for (int param : {0, 1, 2, 3, 17}) {
        int value = 0;
        if (api.orvo_GetParam(handle, -1, param, &value) != ORVO_OK) continue;
        line += (line.empty() ? "" : ", ") + ParamLabel(param) + " " + std::to_string(value) + ParamUnit(param);
    }
    if (!line.empty()) std::printf("settled: %s\n", line.c_str());
}

}  // namespace

// Raw-sensor cameras deliver bottom-up frames, the others top-down ones.
bool FramesAreBottomUp(orvo::OrvoApiClient& api, int deviceId) {
    DeviceEntry entries[8];
    int count = 0;
    const int32_t result = api.orvo_GetDeviceList(sizeof(entries), entries, &count);
    for (int i = 0; (result == ORVO_OK || result == ORVO_E_MORE_DATA) && i < count; ++i) {
        if (entries[i].deviceId == deviceId) return entries[i].model == 0 || entries[i].model == 4;
    }
    return false;
}

int CommandGrab(orvo::OrvoApiClient& api, int deviceId, int frames, int width, int height, const std::wstring& outDir,
                const std::vector<std::pair<int, int>>& settings) {
    const int dibHeight = FramesAreBottomUp(api, deviceId) ? height : -height;
    const int handle = OpenCamera(api, deviceId);
    if (!handle) return 1;
    if (!ApplySettings(api, handle, settings)) {
        api.orvo_Close(handle);
        return 1;
    }
    int exitCode = 1;
    int buffer = -1;
    orvo::win32::UniqueHandle frameEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    int32_t result = api.orvo_CreateBuffer(handle, 0, 1, 0, width, height, kRingFrames, &buffer);
    if (result != ORVO_OK) {
        std::printf("error: a %dx%d video buffer could not be created: %s\n", width, height, ResultText(result).c_str());
    } else if (api.orvo_EnableCameraEvent(handle, 0, frameEvent.get()) != ORVO_OK ||
               (result = api.orvo_StartCapture(handle, buffer)) != ORVO_OK) {
        std::printf("error: capture could not start: %s\n", ResultText(result).c_str());
    } else {
        std::vector<Picture> pictures;
        int dropped = 0, lastIndex = -1;
        const ULONGLONG start = ::GetTickCount64();
        while (static_cast<int>(pictures.size()) < frames) {
            if (!WaitPumping(frameEvent.get(), kFrameTimeoutMs)) {
                std::printf("error: no frame arrived within %lu ms\n", kFrameTimeoutMs);
                break;
            }
            int index = -1;
            FrameDesc frame{};
            if (api.orvo_GetFrame(handle, buffer, &index, &frame) != ORVO_OK) continue;
            if (lastIndex >= 0) dropped += (index - lastIndex - 1 + kRingFrames) % kRingFrames;
            lastIndex = index;
            pictures.push_back(PictureFromDib(frame.bits, width, dibHeight));
            api.orvo_ReleaseFrame(handle, buffer, index);
        }
        const double seconds = static_cast<double>(::GetTickCount64() - start) / 1000.0;
        PrintSettled(api, handle);
        api.orvo_StopCapture(handle);
        if (!pictures.empty()) {
            std::printf("%zu frame(s) in %.2f s: %.1f frames per second, %d dropped\n", pictures.size(), seconds,
                        seconds > 0 ? pictures.size() / seconds : 0.0, dropped);
            ::CreateDirectoryW(outDir.c_str(), nullptr);
            std::string lastPng;
            for (size_t i = 0; i < pictures.size(); ++i) {
                char name[32];
                std::snprintf(name, sizeof(name), "/frame_%03zu", i + 1);
                const std::string stem = Narrow(outDir) + name;
                if (!WriteBmp(stem + ".bmp", pictures[i]) || !WritePng(stem + ".png", pictures[i])) {
                    std::printf("error: %s could not be written\n", stem.c_str());
                    break;
                }
                lastPng = stem + ".png";
            }
            if (!lastPng.empty()) {
                std::printf("wrote %zu BMP and PNG file(s); last: %s\n", pictures.size(), lastPng.c_str());
                exitCode = static_cast<int>(pictures.size()) == frames ? 0 : 1;
            }
        }
    }
    if (buffer >= 0) api.orvo_DeleteBuffer(handle, buffer);
    api.orvo_Close(handle);
    return exitCode;
}

}  // namespace orvocam
