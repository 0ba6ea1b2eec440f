#include "watchdog/common/bindings.h"

#include "watchdog/common/bitness.h"
#include "watchdog/common/wd_trace.h"

namespace orvo::watchdog {
namespace {

template <class Fn>
bool Resolve(const win32::UniqueModule& module, const char* name, Fn& slot) noexcept {
    slot = module.proc<Fn>(name);
    if (!slot) WD_TRACE_ERROR(name, ::GetLastError());
    return slot != nullptr;
}

}  // namespace

HRESULT BindCaptureSource(win32::UniqueModule& module, CaptureSourceEntryPoints& entries) noexcept {
    module.reset(::LoadLibraryW(L"OrvoVistrel.dll"));
    if (!module) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    CaptureSourceEntryPoints bound;
    if (!Resolve(module, "Initialize", bound.Initialize) || !Resolve(module, "UnregisterCamera", bound.UnregisterCamera) ||
        !Resolve(module, "RegisterCamera", bound.RegisterCamera)) {
        const HRESULT hr = HResultFromLastError();
        module.reset();
        return hr;
    }
    entries = bound;
    return S_OK;
}

HRESULT BindCameraLibrary(LibraryUse use, win32::UniqueModule& module, CameraLibraryEntryPoints& entries) noexcept {
    module.reset(::LoadLibraryW(L"orvoApi.dll"));
    if (!module) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    CameraLibraryEntryPoints e;
    bool ok = Resolve(module, "orvo_InitializeApi", e.InitializeApi) &&
              Resolve(module, "orvo_GetNumDevices", e.GetNumDevices) &&
              Resolve(module, "orvo_GetDeviceList", e.GetDeviceList);
    if (ok && use == LibraryUse::Agent) ok = Resolve(module, "orvo_EnableApiEvent", e.EnableApiEvent);
    if (ok && use == LibraryUse::Feeder) {
        ok = Resolve(module, "orvo_Open", e.Open) && Resolve(module, "orvo_Close", e.Close) &&
             Resolve(module, "orvo_CreateBuffer", e.CreateBuffer) &&
             Resolve(module, "orvo_DeleteBuffer", e.DeleteBuffer) &&
             Resolve(module, "orvo_StartCapture", e.StartCapture) &&
             Resolve(module, "orvo_StopCapture", e.StopCapture) && Resolve(module, "orvo_GetFrame", e.GetFrame) &&
             Resolve(module, "orvo_ReleaseFrame", e.ReleaseFrame) &&
             Resolve(module, "orvo_EnableCameraEvent", e.EnableCameraEvent) &&
             Resolve(module, "orvo_GetParam", e.GetParam) && Resolve(module, "orvo_SetParam", e.SetParam) &&
             Resolve(module, "orvo_UpdateParams", e.UpdateParams) && Resolve(module, "orvo_GetInfo", e.GetInfo);
    }
    if (!ok) {
        const HRESULT hr = HResultFromLastError();
        module.reset();
        return hr;
    }
    entries = e;
    return S_OK;
}

}  // namespace orvo::watchdog
