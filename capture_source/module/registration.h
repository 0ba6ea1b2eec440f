// Camera registration: the table entry, the COM class keys and the filter
// in the video capture category.
#pragma once
#include <windows.h>
#include <cstdint>

namespace orvo::capture {

HRESULT InitializeTable() noexcept;
HRESULT RegisterCameraClass(const CLSID* clsid, const GUID* kind, uint32_t deviceId, const wchar_t* name) noexcept;
HRESULT UnregisterCameraClass(const CLSID* clsid) noexcept;
HRESULT GetCameraClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

}  // namespace orvo::capture
