// Which build of the agent this process behaves as: a 32-bit process on
// 64-bit Windows registers with the 32-bit capture source and feeds no proxy.
#pragma once
#include <windows.h>

namespace orvo::watchdog {

// IsWow64Process looked up by name: where it is missing the process counts
// as not emulated.
inline bool RunsUnderWow64() noexcept {
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto isWow64 = kernel ? reinterpret_cast<IsWow64Fn>(
                                reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")))
                          : nullptr;
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

inline HRESULT HResultFromLastError() noexcept {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace orvo::watchdog
