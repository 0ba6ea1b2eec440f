// The operations through which the API reaches an open camera, in slot order.
// Each model camera derives from CZelCamera.
#pragma once
#include <cstdint>

#include "camera_api/api/orvo_api.h"
#include "camera_api/devices/device_record.h"

namespace orvo {

class CZelCamera {
public:
    virtual ~CZelCamera() = default;
    virtual bool Initialize(const DeviceRecord& record) = 0;
    virtual bool EnableCameraEvent(int index, HANDLE event) = 0;
    virtual int32_t GetInfo(int infoId, void* record) = 0;
    virtual int32_t SetInfo(int infoId, void* record) = 0;
    virtual int32_t CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height,
                                 int frameCount, int* bufferIndex) = 0;
    virtual int32_t SetPalette(int unused, void* palette) = 0;
    virtual int32_t DeleteBuffer(int bufferIndex) = 0;
    virtual int32_t GetFrame(int bufferIndex, int* frameIndex, FrameDesc* frame) = 0;
    virtual int32_t ReleaseFrame(int bufferIndex, int frameIndex) = 0;
    virtual int32_t GetParam(int bufferIndex, int paramId, int* value) = 0;
    virtual int32_t GetParamRange(int bufferIndex, int paramId, ParamRange* range) = 0;
    virtual int32_t SetParam(int bufferIndex, int paramId, int* value) = 0;
    virtual int32_t SetFramePos(int bufferIndex, int x, int y) = 0;
    virtual int32_t UpdateParams() = 0;
    virtual int32_t StartCapture(int bufferIndex) = 0;
    virtual int32_t StopCapture() = 0;
    virtual void DeviceRemoved() = 0;
};

}  // namespace orvo
