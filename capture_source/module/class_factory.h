// The class factory of one registered camera: it builds (or finds in the
// module's cache) the camera's filter and prepares its pin.
#pragma once
#include <windows.h>
#include <cstdint>
#include <unknwn.h>

#include "capture_source/dshow/unknown.h"

namespace orvo::capture {

class CCameraClassFactory : public IClassFactory {
public:
    CCameraClassFactory(const CLSID& clsid, const GUID& kind, uint32_t deviceId) noexcept
        : m_clsid(clsid), m_kind(kind), m_deviceId(deviceId) {}
    virtual ~CCameraClassFactory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    dshow::CLiveObject m_live;
    LONG m_refs = 0;
    CLSID m_clsid;
    GUID m_kind;
    uint32_t m_deviceId;
};

}  // namespace orvo::capture
