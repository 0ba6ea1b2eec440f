// The seven exports of OrvoVistrel.dll.
#include <windows.h>

#include <cstdint>

#include "capture_source/dshow/unknown.h"
#include "capture_source/module/registration.h"

extern "C" {

// Self-registration does nothing: cameras are registered one by one.
HRESULT STDAPICALLTYPE DllRegisterServer() { return S_OK; }
HRESULT STDAPICALLTYPE DllUnregisterServer() { return S_OK; }

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return orvo::capture::GetCameraClassObject(clsid, iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return orvo::dshow::LiveObjectCount() > 0 ? S_FALSE : S_OK; }

HRESULT STDAPICALLTYPE Initialize() { return orvo::capture::InitializeTable(); }

HRESULT STDAPICALLTYPE RegisterCamera(const CLSID* clsid, const GUID* kind, uint32_t deviceId,
                                      const wchar_t* friendlyName) {
    return orvo::capture::RegisterCameraClass(clsid, kind, deviceId, friendlyName);
}

HRESULT STDAPICALLTYPE UnregisterCamera(const CLSID* clsid) { return orvo::capture::UnregisterCameraClass(clsid); }

}  // extern "C"
