#include "uninstaller/reboot.h"

#include <windows.h>

#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace orvo::uninstaller {
namespace {

constexpr DWORD kRebootReason = 0x80040002;  // planned, application: installation

void EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    win32::UniqueHandle owned(token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

bool StartReboot() {
    EnableShutdownPrivilege();
    using Initiate = BOOL(WINAPI*)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD);
    win32::UniqueModule advapi(::LoadLibraryW(L"Advapi32.DLL"));
    auto initiate = advapi.proc<Initiate>("InitiateSystemShutdownExW");
    if (initiate && initiate(nullptr, nullptr, 0, FALSE, TRUE, kRebootReason)) return true;
    return ::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, kRebootReason) != FALSE;
}

}  // namespace orvo::uninstaller
