// What passes between a feeder and the kernel-streaming proxy device: the
// control device, the two control codes, the registration record and the
// names of a virtual camera's events.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::watchdog {

constexpr const wchar_t* kProxyControlPath = L"\\\\.\\ZelKernelStreamingProxy";
// Device type 0xF000, METHOD_BUFFERED, FILE_ANY_ACCESS; functions 0 and 1.
constexpr DWORD kIoctlProxyAddCamera = 0xF0000000;
constexpr DWORD kIoctlProxyRemoveCamera = 0xF0000004;

#pragma pack(push, 1)
struct ProxyRegistrationHeader {
    GUID feederGuid;
    BITMAPINFOHEADER format;
    uint32_t instanceIdBytes;   // NUL included
    uint32_t displayNameBytes;  // NUL included
};
#pragma pack(pop)
static_assert(sizeof(ProxyRegistrationHeader) == 64, "the proxy reads a 64-byte header");
static_assert(offsetof(ProxyRegistrationHeader, format) == 16, "format at 16");
static_assert(offsetof(ProxyRegistrationHeader, instanceIdBytes) == 56, "instance id length at 56");
static_assert(offsetof(ProxyRegistrationHeader, displayNameBytes) == 60, "display name length at 60");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

// The whole record: header, instance id and display name, both with NUL.
std::vector<uint8_t> BuildProxyRegistration(const GUID& feederGuid, int outputWidth, int outputHeight,
                                            const std::wstring& instanceId, const std::wstring& displayName);

enum class ProxyEvent { Active, Inactive };
// "ZelKernelStreamingProxy-Camera-Active-{xxxxxxxx-...}" in lower case.
std::wstring ProxyEventName(ProxyEvent which, const GUID& feederGuid);

}  // namespace orvo::watchdog
