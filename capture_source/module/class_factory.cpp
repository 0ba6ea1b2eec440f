#include "capture_source/module/class_factory.h"

#include <new>

#include "capture_source/filter/camera_filter.h"
#include "capture_source/module/camera_kinds.h"
#include "capture_source/module/capture_module.h"
#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {

HRESULT STDMETHODCALLTYPE CCameraClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) return dshow::GetInterface(static_cast<IClassFactory*>(this), out);
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CCameraClassFactory::Release() {
    const LONG refs = ::InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return refs;
}

HRESULT STDMETHODCALLTYPE CCameraClassFactory::LockServer(BOOL lock) {
    return ::CoLockObjectExternal(this, lock, TRUE);
}

HRESULT STDMETHODCALLTYPE CCameraClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return E_NOTIMPL;
    CCaptureModule& module = CCaptureModule::Instance();
    CCameraFilter* filter = nullptr;
    {
        win32::CriticalSectionLock lock(module.Lock());
        filter = module.FindFilter(m_clsid);
        if (!filter) {
            if (m_kind == KIND_GENERAL) {
                filter = new (std::nothrow) CGeneralCameraFilter(m_clsid);
            } else if (m_kind == KIND_CEDAR) {
                filter = new (std::nothrow) CCedarCameraFilter(m_clsid);
            } else {
                ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_NOTIMPL, m_kind);
                return E_NOTIMPL;
            }
            if (!filter) {
                ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_OUTOFMEMORY);
                return E_OUTOFMEMORY;
            }
            filter->AddRef();
            if (!module.CacheFilter(m_clsid, filter)) {
                filter->Release();
                ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_UNEXPECTED);
                return E_UNEXPECTED;
            }
        }
    }
    HRESULT hr = filter->PreparePin(static_cast<int>(m_deviceId));
    if (SUCCEEDED(hr)) hr = filter->NonDelegatingQueryInterface(iid, out);
    filter->Release();
    return hr;
}

}  // namespace orvo::capture
