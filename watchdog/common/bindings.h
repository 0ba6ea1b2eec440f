// Entry points the watchdog takes from the modules it loads at run time by
// bare file name: the camera access library and the capture source.
#pragma once
#include <windows.h>

#include "camera_api/api/orvo_api.h"
#include "win32/unique_module.h"

namespace orvo::watchdog {

// The capture source's exports that an agent uses.
struct CaptureSourceEntryPoints {
    HRESULT(STDAPICALLTYPE* Initialize)() = nullptr;
    HRESULT(STDAPICALLTYPE* RegisterCamera)(const GUID* clsid, const GUID* kind, UINT32 deviceId,
                                            const wchar_t* friendlyName) = nullptr;
    HRESULT(STDAPICALLTYPE* UnregisterCamera)(const GUID* clsid) = nullptr;
};

// The library exports that agents and feeders use; a binding fills the ones
// it needs and leaves the others null.
struct CameraLibraryEntryPoints {
    decltype(&::orvo_InitializeApi) InitializeApi = nullptr;
    decltype(&::orvo_EnableApiEvent) EnableApiEvent = nullptr;
    decltype(&::orvo_GetNumDevices) GetNumDevices = nullptr;
    decltype(&::orvo_GetDeviceList) GetDeviceList = nullptr;
    decltype(&::orvo_Open) Open = nullptr;
    decltype(&::orvo_Close) Close = nullptr;
    decltype(&::orvo_CreateBuffer) CreateBuffer = nullptr;
    decltype(&::orvo_DeleteBuffer) DeleteBuffer = nullptr;
    decltype(&::orvo_StartCapture) StartCapture = nullptr;
    decltype(&::orvo_StopCapture) StopCapture = nullptr;
    decltype(&::orvo_GetFrame) GetFrame = nullptr;
    decltype(&::orvo_ReleaseFrame) ReleaseFrame = nullptr;
    decltype(&::orvo_EnableCameraEvent) EnableCameraEvent = nullptr;
    decltype(&::orvo_GetParam) GetParam = nullptr;
    decltype(&::orvo_SetParam) SetParam = nullptr;
    decltype(&::orvo_UpdateParams) UpdateParams = nullptr;
    decltype(&::orvo_GetInfo) GetInfo = nullptr;
};

// Loads "OrvoVistrel.dll" and resolves its three exports; on failure the
// module is released and the Win32 error returned as HRESULT.
HRESULT BindCaptureSource(win32::UniqueModule& module, CaptureSourceEntryPoints& entries) noexcept;

enum class LibraryUse { Agent, Feeder };
// Loads "orvoApi.dll" and resolves what the use needs (the agent's four, or
// the feeder's fifteen plus orvo_InitializeApi).
HRESULT BindCameraLibrary(LibraryUse use, win32::UniqueModule& module, CameraLibraryEntryPoints& entries) noexcept;

}  // namespace orvo::watchdog
