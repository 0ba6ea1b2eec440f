#include "capture_source/filter/camera_filter.h"

#include <new>

#include "capture_source/filter/camera_pins.h"
#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {

HRESULT CCameraFilter::PreparePin(int deviceId) noexcept {
    win32::CriticalSectionLock lock(m_stateLock);
    if (!m_pin) {
        CCameraPin* pin = nullptr;
        const HRESULT hr = CreatePin(deviceId, &pin);
        if (FAILED(hr)) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr, deviceId);
            return hr;
        }
        m_pin = pin;
    }
    if (m_pin->GetDeviceId() != deviceId) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, m_pin->GetDeviceId(), deviceId);
        return E_FAIL;
    }
    const HRESULT hr = m_pin->PrepareCamera();
    if (FAILED(hr)) ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr, deviceId);
    return hr;
}

namespace {
template <class Pin>
HRESULT BuildPin(CCameraFilter* filter, int deviceId, CCameraPin** out) {
    Pin* pin = new (std::nothrow) Pin(filter, deviceId);
    if (!pin) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!pin->AddedToFilter()) {
        delete pin;
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    *out = pin;
    return S_OK;
}
}  // namespace

HRESULT CGeneralCameraFilter::CreatePin(int deviceId, CCameraPin** pin) {
    return BuildPin<CGeneralCameraPin>(this, deviceId, pin);
}

HRESULT CCedarCameraFilter::CreatePin(int deviceId, CCameraPin** pin) {
    return BuildPin<CCedarCameraPin>(this, deviceId, pin);
}

}  // namespace orvo::capture
