// The 24 exports of orvoApi.dll. Each finds its object and hands its arguments
// on unchanged; no exception leaves the library.
#include <new>

#include "camera_api/api/orvo_api.h"
#include "camera_api/cameras/zel_camera.h"
#include "camera_api/devices/device_manager.h"

namespace orvo {

// Constructed when the library is loaded, destroyed when it is unloaded.
static CZelDeviceManager g_deviceManager;

CZelDeviceManager& TheDeviceManager() noexcept {
    return g_deviceManager;
}

}  // namespace orvo

namespace {

using orvo::CZelCamera;
using orvo::TheDeviceManager;

// Runs an export's body; an exception becomes a result code at the boundary.
template <class Body>
int32_t Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ORVO_E_OUT_OF_MEMORY;
    } catch (...) {
        return ORVO_E_FAIL;
    }
}

// Runs a camera operation on the open camera with that handle.
template <class Operation>
int32_t OnCamera(int handle, Operation operation) noexcept {
    return Guarded([&]() -> int32_t {
        CZelCamera* camera = TheDeviceManager().CameraFor(handle);
        return camera ? operation(*camera) : ORVO_E_BAD_HANDLE;
    });
}

}  // namespace

extern "C" {

int32_t ORVO_CALL orvo_GetApiVersion(ApiVersion* version) {
    // Callers must pass a record; only the pointer-checking exports test it.
    version->major = 3;
    version->minor = 7;
    version->build = 0;
    return ORVO_OK;
}

int32_t ORVO_CALL orvo_SetClientApiVersion(const ApiVersion*) {
    return ORVO_OK;
}

int32_t ORVO_CALL orvo_InitializeApi(void) {
    return Guarded([] { return TheDeviceManager().Initialise() ? ORVO_OK : ORVO_E_FAIL; });
}

int32_t ORVO_CALL orvo_GetNumDevices(int* count) {
    return Guarded([&] { return TheDeviceManager().DeviceCount(count); });
}

int32_t ORVO_CALL orvo_GetDeviceList(uint32_t bufferSize, DeviceEntry* entries, int* count) {
    return Guarded([&] {
        const int capacity = static_cast<int>(bufferSize / sizeof(DeviceEntry));
        return TheDeviceManager().DeviceList(capacity, entries, count);
    });
}

int32_t ORVO_CALL orvo_EnableApiEvent(int which, HANDLE event) {
    return Guarded([&] { return TheDeviceManager().SetApiEvent(which, event); });
}

int32_t ORVO_CALL orvo_Open(int deviceId, int* handle) {
    return Guarded([&] { return TheDeviceManager().Open(deviceId, handle); });
}

int32_t ORVO_CALL orvo_Close(int handle) {
    return Guarded([&] { return TheDeviceManager().Close(handle); });
}

int32_t ORVO_CALL orvo_EnableCameraEvent(int handle, int index, HANDLE event) {
    return OnCamera(handle, [&](CZelCamera& c) {
        return c.EnableCameraEvent(index, event) ? ORVO_OK : ORVO_E_BAD_INDEX;
    });
}

int32_t ORVO_CALL orvo_GetInfo(int handle, int infoId, void* record) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.GetInfo(infoId, record); });
}

int32_t ORVO_CALL orvo_SetInfo(int handle, int infoId, void* record) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.SetInfo(infoId, record); });
}

int32_t ORVO_CALL orvo_CreateBuffer(int handle, int kind, int pixelFormat, int reserved, int width, int height,
                                    int frameCount, int* bufferIndex) {
    return OnCamera(handle, [&](CZelCamera& c) {
        return c.CreateBuffer(kind, pixelFormat, reserved, width, height, frameCount, bufferIndex);
    });
}

int32_t ORVO_CALL orvo_DeleteBuffer(int handle, int bufferIndex) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.DeleteBuffer(bufferIndex); });
}

int32_t ORVO_CALL orvo_SetPalette(int handle, int unused, void* palette) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.SetPalette(unused, palette); });
}

int32_t ORVO_CALL orvo_GetFrame(int handle, int bufferIndex, int* frameIndex, FrameDesc* frame) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.GetFrame(bufferIndex, frameIndex, frame); });
}

int32_t ORVO_CALL orvo_ReleaseFrame(int handle, int bufferIndex, int frameIndex) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.ReleaseFrame(bufferIndex, frameIndex); });
}

int32_t ORVO_CALL orvo_GetParam(int handle, int bufferIndex, int paramId, int* value) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.GetParam(bufferIndex, paramId, value); });
}

int32_t ORVO_CALL orvo_GetParamRange(int handle, int bufferIndex, int paramId, ParamRange* range) {
    return OnCamera(handle, [&](CZelCamera& c) {
        // Fields a camera does not know keep these values.
        *range = ParamRange{0, 0, 1, 1, 0};
        return c.GetParamRange(bufferIndex, paramId, range);
    });
}

int32_t ORVO_CALL orvo_SetParam(int handle, int bufferIndex, int paramId, int* value) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.SetParam(bufferIndex, paramId, value); });
}

int32_t ORVO_CALL orvo_SetFramePos(int handle, int bufferIndex, int x, int y) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.SetFramePos(bufferIndex, x, y); });
}

int32_t ORVO_CALL orvo_UpdateParams(int handle) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.UpdateParams(); });
}

int32_t ORVO_CALL orvo_StartCapture(int handle, int bufferIndex) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.StartCapture(bufferIndex); });
}

int32_t ORVO_CALL orvo_StopCapture(int handle) {
    return OnCamera(handle, [&](CZelCamera& c) { return c.StopCapture(); });
}

int32_t ORVO_CALL orvo_IsParamSupported(int deviceId, int paramId) {
    return Guarded([&] { return TheDeviceManager().IsParamSupported(deviceId, paramId); });
}

}  // extern "C"
