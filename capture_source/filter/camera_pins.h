// The two camera kinds' pins: how each learns its size, configures the
// camera and copies a frame into a sample.
#pragma once
#include "capture_source/filter/camera_pin.h"

namespace orvo::capture {

class CGeneralCameraPin : public CCameraPin {
public:
    using CCameraPin::CCameraPin;

protected:
    HRESULT QueryFormat(int handle, int* sourceWidth, int* sourceHeight, int* outputWidth, int* outputHeight) override;
    HRESULT ConfigureCamera(int handle, int bufferIndex) override;
    HRESULT CopyFrame(const uint8_t* frame, const BITMAPINFOHEADER& source, uint8_t* sample) override;

private:
    uint32_t m_frameRate = 0;
};

class CCedarCameraPin : public CCameraPin {
public:
    using CCameraPin::CCameraPin;

protected:
    HRESULT QueryFormat(int handle, int* sourceWidth, int* sourceHeight, int* outputWidth, int* outputHeight) override;
    HRESULT ConfigureCamera(int handle, int bufferIndex) override;
    HRESULT CopyFrame(const uint8_t* frame, const BITMAPINFOHEADER& source, uint8_t* sample) override;
};

}  // namespace orvo::capture
