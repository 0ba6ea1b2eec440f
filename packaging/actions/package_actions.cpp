// Custom actions of the product package (carried inside it, never installed).
//
// StopWatchdog: the removal must not reach the files before the service and
// its agents are gone. The installer's own service stop does not wait for
// the process everywhere (Wine's does not), and a running image cannot be
// deleted: stop the service here and wait, bounded, for its process to end.
// At a full removal the agents' bookkeeping key goes too: the agents created
// it, the package never listed it.
//
// ScheduleLeftovers: a file still in use after the removal (the uninstaller
// that started it, a DLL held by a video application) is deleted at the next
// restart, with its folders, as the installer does for files it replaces.
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "msi_property.h"
#include "win32/unique_handle.h"
#include "win32/unique_service_handle.h"

namespace {

using orvo::packaging::MsiProperty;
using orvo::win32::UniqueHandle;
using orvo::win32::UniqueServiceHandle;

constexpr const wchar_t* kServiceName = L"OrvoVistrelWatchdog";
constexpr const wchar_t* kBookkeepingParent = L"Software\\Quenlow\\Vistrel";
constexpr const wchar_t* kBookkeepingRoot = L"Software\\Quenlow";
// The service gives its agents 5 s each before it ends them.
constexpr DWORD kStopWaitMs = 30000;
constexpr DWORD kPollMs = 100;

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                  sizeof(status), &needed) != FALSE;
}

void StopAndWait() {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return;
    UniqueServiceHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return;  // not installed: nothing runs
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service.get(), status) || status.dwCurrentState == SERVICE_STOPPED) return;
    // Held before the stop, so its end can be waited for after the manager
    // has forgotten the process id.
    UniqueHandle process(status.dwProcessId ? ::OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : nullptr);
    SERVICE_STATUS ignored{};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    const ULONGLONG deadline = ::GetTickCount64() + kStopWaitMs;
    while (::GetTickCount64() < deadline) {
        if (!QueryStatus(service.get(), status) || status.dwCurrentState == SERVICE_STOPPED) break;
        ::Sleep(kPollMs);
    }
    if (process) {
        const ULONGLONG now = ::GetTickCount64();
        ::WaitForSingleObject(process.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
}

bool KeyIsEmpty(REGSAM view, const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1, values = 1;
    const LSTATUS result =
        ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

void RemoveBookkeeping() {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY parent = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBookkeepingParent, 0, DELETE | KEY_ALL_ACCESS | view, &parent) ==
            ERROR_SUCCESS) {
            ::RegDeleteTreeW(parent, L"Bookkeeping");
            ::RegCloseKey(parent);
        }
        // The maker's keys go only when nothing else of the maker is in them.
        if (KeyIsEmpty(view, kBookkeepingParent)) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kBookkeepingParent, view, 0);
        if (KeyIsEmpty(view, kBookkeepingRoot)) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kBookkeepingRoot, view, 0);
    }
}

// Schedules what is left under FOLDER (ending in a backslash) for deletion at
// restart, contents before their folder. Returns whether anything was left.
// No reboot is asked for: a quiet removal would restart the machine at once.
bool ScheduleFolder(const std::wstring& folder) {
    bool left = false;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                left = ScheduleFolder(path + L"\\") || left;
            } else if (!::DeleteFileW(path.c_str())) {
                ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
                left = true;
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    const std::wstring self = folder.substr(0, folder.size() - 1);
    if (!::RemoveDirectoryW(self.c_str())) {
        if (::GetFileAttributesW(self.c_str()) == INVALID_FILE_ATTRIBUTES) return left;
        ::MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        left = true;
    }
    return left;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall StopWatchdog(MSIHANDLE install) {
    StopAndWait();
    // A major upgrade removes the older version only to put the newer one in
    // its place: its cameras' bookkeeping stays for the newer agents.
    if (MsiProperty(install, L"UPGRADINGPRODUCTCODE").empty()) RemoveBookkeeping();
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall ScheduleLeftovers(MSIHANDLE install) {
    std::wstring folder = MsiProperty(install, L"INSTALLDIR");
    if (folder.empty()) return ERROR_SUCCESS;
    if (folder.back() != L'\\') folder += L'\\';
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
    ScheduleFolder(folder);
    // The maker's folder above ours goes when nothing else is in it.
    std::wstring parent = MsiProperty(install, L"QUENLOWDIR");
    if (!parent.empty() && parent.back() == L'\\') parent.pop_back();
    if (!parent.empty() && !::RemoveDirectoryW(parent.c_str()) &&
        ::GetFileAttributesW(parent.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::MoveFileExW(parent.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return ERROR_SUCCESS;
}
