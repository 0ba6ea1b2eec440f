// Client side of orvoApi.dll: loads the library by file name, as every client
// does, and looks each export up by name. A missing export stays null; callers
// check before calling.
#pragma once
#include "camera_api/api/orvo_api.h"
#include "win32/unique_module.h"

namespace orvo {

class OrvoApiClient {
public:
    bool Load(const wchar_t* fileName = L"orvoApi.dll") noexcept {
        m_module.reset(::LoadLibraryW(fileName));
        if (!m_module) return false;
#define ORVO_BIND(name) name = m_module.proc<decltype(&::name)>(#name);
        ORVO_BIND(orvo_GetApiVersion)
        ORVO_BIND(orvo_SetClientApiVersion)
        ORVO_BIND(orvo_InitializeApi)
        ORVO_BIND(orvo_GetNumDevices)
        ORVO_BIND(orvo_GetDeviceList)
        ORVO_BIND(orvo_EnableApiEvent)
        ORVO_BIND(orvo_Open)
        ORVO_BIND(orvo_Close)
        ORVO_BIND(orvo_EnableCameraEvent)
        ORVO_BIND(orvo_GetInfo)
        ORVO_BIND(orvo_SetInfo)
        ORVO_BIND(orvo_CreateBuffer)
        ORVO_BIND(orvo_DeleteBuffer)
        ORVO_BIND(orvo_SetPalette)
        ORVO_BIND(orvo_GetFrame)
        ORVO_BIND(orvo_ReleaseFrame)
        ORVO_BIND(orvo_GetParam)
        ORVO_BIND(orvo_GetParamRange)
        ORVO_BIND(orvo_SetParam)
        ORVO_BIND(orvo_SetFramePos)
        ORVO_BIND(orvo_UpdateParams)
        ORVO_BIND(orvo_StartCapture)
        ORVO_BIND(orvo_StopCapture)
        ORVO_BIND(orvo_IsParamSupported)
#undef ORVO_BIND
        return true;
    }

    HMODULE module() const noexcept { return m_module.get(); }

    decltype(&::orvo_GetApiVersion) orvo_GetApiVersion = nullptr;
    decltype(&::orvo_SetClientApiVersion) orvo_SetClientApiVersion = nullptr;
    decltype(&::orvo_InitializeApi) orvo_InitializeApi = nullptr;
    decltype(&::orvo_GetNumDevices) orvo_GetNumDevices = nullptr;
    decltype(&::orvo_GetDeviceList) orvo_GetDeviceList = nullptr;
    decltype(&::orvo_EnableApiEvent) orvo_EnableApiEvent = nullptr;
    decltype(&::orvo_Open) orvo_Open = nullptr;
    decltype(&::orvo_Close) orvo_Close = nullptr;
    decltype(&::orvo_EnableCameraEvent) orvo_EnableCameraEvent = nullptr;
    decltype(&::orvo_GetInfo) orvo_GetInfo = nullptr;
    decltype(&::orvo_SetInfo) orvo_SetInfo = nullptr;
    decltype(&::orvo_CreateBuffer) orvo_CreateBuffer = nullptr;
    decltype(&::orvo_DeleteBuffer) orvo_DeleteBuffer = nullptr;
    decltype(&::orvo_SetPalette) orvo_SetPalette = nullptr;
    decltype(&::orvo_GetFrame) orvo_GetFrame = nullptr;
    decltype(&::orvo_ReleaseFrame) orvo_ReleaseFrame = nullptr;
    decltype(&::orvo_GetParam) orvo_GetParam = nullptr;
    decltype(&::orvo_GetParamRange) orvo_GetParamRange = nullptr;
    decltype(&::orvo_SetParam) orvo_SetParam = nullptr;
    decltype(&::orvo_SetFramePos) orvo_SetFramePos = nullptr;
    decltype(&::orvo_UpdateParams) orvo_UpdateParams = nullptr;
    decltype(&::orvo_StartCapture) orvo_StartCapture = nullptr;
    decltype(&::orvo_StopCapture) orvo_StopCapture = nullptr;
    decltype(&::orvo_IsParamSupported) orvo_IsParamSupported = nullptr;

private:
    win32::UniqueModule m_module;
};

}  // namespace orvo
