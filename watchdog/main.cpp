// OrvoVistrelWatchdog.exe: the service when the Service Control Manager
// starts it, a session agent otherwise.
#include <windows.h>
#include <shellapi.h>

#include "watchdog/agent/session_agent.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"
#include "watchdog/service/scm_host.h"
#include "watchdog/service/watchdog_service.h"

namespace {

// Agents run as SYSTEM in a user's session: a DLL loaded by bare name must
// come from the program's folder or System32, never from the user's PATH.
void RestrictDllSearch() noexcept {
    using SetDirsFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDirs = kernel ? reinterpret_cast<SetDirsFn>(
                                reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                          : nullptr;
    if (setDirs) setDirs(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    return std::wstring(path, length);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    orvo::watchdog::ScmHost host;
    orvo::watchdog::WatchdogService service(host, OwnPath());
    service.AdoptConsoleSession(true);
    service.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RestrictDllSearch();
    wchar_t name[] = L"OrvoVistrelWatchdog";
    SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table)) return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        int argc = 0;
        LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
        if (argv) {
            const int code = orvo::watchdog::RunAgentProcess(argc, argv);
            ::LocalFree(argv);
            return code;
        }
    }
    WD_TRACE_ERROR(error);
    return 1;
}
