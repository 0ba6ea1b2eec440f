// Fixed names of the watchdog: service, session objects, registry key and
// the GUIDs it shares with the capture source and the proxy.
#pragma once
#include <windows.h>

namespace orvo::watchdog {

constexpr const wchar_t* kServiceName = L"OrvoVistrelWatchdog";
constexpr const wchar_t* kNativeInstanceMutex = L"OrvoVistrelWatchdog_{19534A87-AA38-437E-97F3-547BB2A7477F}";
constexpr const wchar_t* kWow64InstanceMutex = L"OrvoVistrelWatchdog_{D2F6BB78-3E69-4304-91F6-953498F1E2E3}";
constexpr const wchar_t* kNativeWindowTitle = L"OrvoVistrelWatchdog_{CE039BB6-2244-49AA-8D81-90B75E68123A}";
constexpr const wchar_t* kWow64WindowTitle = L"OrvoVistrelWatchdog_{491AAE51-4B13-4B73-8CA1-C710495EC76D}";
constexpr const wchar_t* kCleanupMutex = L"OrvoVistrelWatchdog_{C7BC5ECA-851A-4467-B08F-028B99A0C557}";
constexpr const wchar_t* kBookkeepingKey = L"Software\\Quenlow\\Vistrel\\Bookkeeping";
constexpr const wchar_t* kX86Folder = L"x86";

constexpr int kResourceProxyString = 103;
constexpr int kResourcePlaceholder = 104;

// {37A6A792-3296-491B-AA8A-7D4C2E8DC48D}: model codes 0 and 4.
constexpr GUID kKindCedar = {0x37A6A792, 0x3296, 0x491B, {0xAA, 0x8A, 0x7D, 0x4C, 0x2E, 0x8D, 0xC4, 0x8D}};
// {0A4EF99C-E934-4641-A831-58E390EE5A29}: every other model.
constexpr GUID kKindGeneral = {0x0A4EF99C, 0xE934, 0x4641, {0xA8, 0x31, 0x58, 0xE3, 0x90, 0xEE, 0x5A, 0x29}};
// The media device setup class {4D36E96C-E325-11CE-BFC1-08002BE10318}.
constexpr GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// KSCATEGORY_CAPTURE {65E8773D-8F56-11D0-A3B9-00A0C9223196}.
constexpr GUID kCaptureCategory = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// DEVPKEY_ProxyCameraId: {5C09147E-4CA1-423D-8315-1C67EAA193FC}, property 0.
constexpr GUID kProxyCameraIdKey = {0x5C09147E, 0x4CA1, 0x423D, {0x83, 0x15, 0x1C, 0x67, 0xEA, 0xA1, 0x93, 0xFC}};

inline bool IsCedarModel(int model) noexcept { return model == 0 || model == 4; }

}  // namespace orvo::watchdog
