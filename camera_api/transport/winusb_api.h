// WinUSB reached at run time: the library loads "WinUsb.dll" once, and every
// object that talks to WinUSB binds its own table of entry points from it.
#pragma once
#include <windows.h>
#include <winusb.h>

namespace orvo {

struct WinUsbApi {
    decltype(&::WinUsb_Initialize) Initialize = nullptr;
    decltype(&::WinUsb_Free) Free = nullptr;
    decltype(&::WinUsb_GetDescriptor) GetDescriptor = nullptr;
    decltype(&::WinUsb_QueryInterfaceSettings) QueryInterfaceSettings = nullptr;
    decltype(&::WinUsb_SetCurrentAlternateSetting) SetCurrentAlternateSetting = nullptr;
    decltype(&::WinUsb_GetPipePolicy) GetPipePolicy = nullptr;
    decltype(&::WinUsb_SetPipePolicy) SetPipePolicy = nullptr;
    decltype(&::WinUsb_QueryPipe) QueryPipe = nullptr;
    decltype(&::WinUsb_QueryPipeEx) QueryPipeEx = nullptr;
    decltype(&::WinUsb_WritePipe) WritePipe = nullptr;
    decltype(&::WinUsb_GetOverlappedResult) GetOverlappedResult = nullptr;
    decltype(&::WinUsb_ReadPipe) ReadPipe = nullptr;
    decltype(&::WinUsb_ControlTransfer) ControlTransfer = nullptr;
    decltype(&::WinUsb_AbortPipe) AbortPipe = nullptr;
    decltype(&::WinUsb_ResetPipe) ResetPipe = nullptr;
    decltype(&::WinUsb_RegisterIsochBuffer) RegisterIsochBuffer = nullptr;
    decltype(&::WinUsb_UnregisterIsochBuffer) UnregisterIsochBuffer = nullptr;
    decltype(&::WinUsb_ReadIsochPipeAsap) ReadIsochPipeAsap = nullptr;
    // The module is loaded and every entry but the four isochronous-era ones
    // (QueryPipeEx and the three isochronous calls) was found.
    bool basicAvailable = false;
    // basicAvailable, and those four were found too.
    bool isochAvailable = false;
};

// Fills the table from the library's WinUSB module (null entries and both
// flags false when the module or a name is missing).
void BindWinUsb(WinUsbApi& api) noexcept;

// The module loaded at library start, or null when it could not be loaded.
HMODULE WinUsbModule() noexcept;

}  // namespace orvo
