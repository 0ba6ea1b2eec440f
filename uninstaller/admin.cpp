#include "uninstaller/admin.h"

#include <windows.h>

namespace orvo::uninstaller {
namespace {

bool IsMember(DWORD rid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID group = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &group)) return false;
    BOOL member = FALSE;
    // CheckTokenMembershipEx (Windows 8 and later) also answers for app
    // containers; the classic call otherwise.
    using CheckEx = BOOL(WINAPI*)(HANDLE, PSID, DWORD, PBOOL);
    auto checkEx = reinterpret_cast<CheckEx>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CheckTokenMembershipEx")));
    const BOOL ok = checkEx ? checkEx(nullptr, group, 0, &member) : ::CheckTokenMembership(nullptr, group, &member);
    ::FreeSid(group);
    return ok && member;
}

}  // namespace

bool IsAdministrator() { return IsMember(DOMAIN_ALIAS_RID_ADMINS); }

bool IsPowerUserOrAdministrator() { return IsMember(DOMAIN_ALIAS_RID_POWER_USERS) || IsAdministrator(); }

}  // namespace orvo::uninstaller
