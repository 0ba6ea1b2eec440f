// Result codes of the capture source's module, table and registration.
#pragma once
#include <windows.h>
#include <cstdint>

namespace orvo::capture {

constexpr HRESULT kErrTableLock = static_cast<HRESULT>(0x838D0000);
constexpr HRESULT kErrTableCreate = static_cast<HRESULT>(0x838D0001);
constexpr HRESULT kErrTableMapView = static_cast<HRESULT>(0x838D0002);
constexpr HRESULT kErrTableNotMapped = static_cast<HRESULT>(0x838D0003);
constexpr HRESULT kErrCameraConflict = static_cast<HRESULT>(0x838D0004);
constexpr HRESULT kErrClsidString = static_cast<HRESULT>(0x838D0005);
constexpr HRESULT kErrModulePath = static_cast<HRESULT>(0x838D0006);
constexpr HRESULT kErrFilterMapper = static_cast<HRESULT>(0x838D0007);
constexpr HRESULT kErrRegisterFilter = static_cast<HRESULT>(0x838D0008);
constexpr HRESULT kErrUnregisterFilter = static_cast<HRESULT>(0x838D0009);
constexpr HRESULT kErrWriteClassKeys = static_cast<HRESULT>(0x838D000A);
constexpr HRESULT kErrRemoveClassKeys = static_cast<HRESULT>(0x838D000B);

// Event thread start results.
constexpr HRESULT kErrThreadNoStopEvent = static_cast<HRESULT>(0x83080100);
constexpr HRESULT kErrThreadEndedEarly = static_cast<HRESULT>(0x83080101);
constexpr HRESULT kErrThreadNoHandler = static_cast<HRESULT>(0x83080102);
constexpr HRESULT kErrThreadCreateBase = static_cast<HRESULT>(0x83090000);

// Trace flag mask of every statement of the capture source.
constexpr uint32_t kTraceFlags = 2;

}  // namespace orvo::capture
