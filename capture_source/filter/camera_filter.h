// One source filter per registered camera, with its one capture pin; the
// kind decides which pin.
#pragma once
#include "capture_source/dshow/base_filter.h"
#include "capture_source/filter/camera_pin.h"

namespace orvo::capture {

class CCameraFilter : public dshow::CSource {
public:
    explicit CCameraFilter(const CLSID& clsid) noexcept : CSource(clsid) {}

    // Builds the pin on first use and learns the camera's picture size
    // (under the state lock).
    HRESULT PreparePin(int deviceId) noexcept;
    CCameraPin* Pin() const noexcept { return m_pin; }

protected:
    virtual HRESULT CreatePin(int deviceId, CCameraPin** pin) = 0;

private:
    CCameraPin* m_pin = nullptr;  // owned by the base's pin list
};

class CGeneralCameraFilter : public CCameraFilter {
public:
    using CCameraFilter::CCameraFilter;

protected:
    HRESULT CreatePin(int deviceId, CCameraPin** pin) override;
};

class CCedarCameraFilter : public CCameraFilter {
public:
    using CCameraFilter::CCameraFilter;

protected:
    HRESULT CreatePin(int deviceId, CCameraPin** pin) override;
};

}  // namespace orvo::capture
