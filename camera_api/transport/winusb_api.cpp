#include "camera_api/transport/winusb_api.h"

#include "win32/unique_module.h"

namespace orvo {
namespace {

// Loaded once when the library starts and freed when it unloads.
const win32::UniqueModule g_winUsb(::LoadLibraryW(L"WinUsb.dll"));

template <class Fn>
void Bind(Fn& entry, const char* name) noexcept {
    entry = g_winUsb.proc<Fn>(name);
}

}  // namespace

HMODULE WinUsbModule() noexcept { return g_winUsb.get(); }

void BindWinUsb(WinUsbApi& api) noexcept {
    Bind(api.Initialize, "WinUsb_Initialize");
    Bind(api.Free, "WinUsb_Free");
    Bind(api.GetDescriptor, "WinUsb_GetDescriptor");
    Bind(api.QueryInterfaceSettings, "WinUsb_QueryInterfaceSettings");
    Bind(api.SetCurrentAlternateSetting, "WinUsb_SetCurrentAlternateSetting");
    Bind(api.GetPipePolicy, "WinUsb_GetPipePolicy");
    Bind(api.SetPipePolicy, "WinUsb_SetPipePolicy");
    Bind(api.QueryPipe, "WinUsb_QueryPipe");
    Bind(api.QueryPipeEx, "WinUsb_QueryPipeEx");
    Bind(api.WritePipe, "WinUsb_WritePipe");
    Bind(api.GetOverlappedResult, "WinUsb_GetOverlappedResult");
    Bind(api.ReadPipe, "WinUsb_ReadPipe");
    Bind(api.ControlTransfer, "WinUsb_ControlTransfer");
    Bind(api.AbortPipe, "WinUsb_AbortPipe");
    Bind(api.ResetPipe, "WinUsb_ResetPipe");
    Bind(api.RegisterIsochBuffer, "WinUsb_RegisterIsochBuffer");
    Bind(api.UnregisterIsochBuffer, "WinUsb_UnregisterIsochBuffer");
    Bind(api.ReadIsochPipeAsap, "WinUsb_ReadIsochPipeAsap");
    api.basicAvailable = g_winUsb && api.Initialize && api.Free && api.GetDescriptor &&
                         api.QueryInterfaceSettings && api.SetCurrentAlternateSetting && api.GetPipePolicy &&
                         api.SetPipePolicy && api.QueryPipe && api.WritePipe && api.GetOverlappedResult &&
                         api.ReadPipe && api.ControlTransfer && api.AbortPipe && api.ResetPipe;
    api.isochAvailable = api.basicAvailable && api.QueryPipeEx && api.RegisterIsochBuffer &&
                         api.UnregisterIsochBuffer && api.ReadIsochPipeAsap;
}

}  // namespace orvo
