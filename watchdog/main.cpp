// OrvoVistrelWatchdog.exe: the service when the Service Control Manager
// starts it, a session agent otherwise.
#include <windows.h>
#include <shellapi.h>

#include "watchdog/agent/agent_arguments.h"
#include "watchdog/agent/session_agent.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"
#include "watchdog/service/scm_host.h"
#include "watchdog/service/watchdog_service.h"
#include "win32/unique_local.h"

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
    // The service starts its agents with their arguments and is itself
    // started without any: an agent goes straight to its work. Asking the
    // Service Control Manager first would cost an agent the dispatcher's
    // connect attempt; under Wine that attempt waits out the pipe's default
    // 10 s while the running service holds its control pipe.
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const orvo::win32::UniqueLocal arguments(argv);
    if (argv && orvo::watchdog::ParseAgentArguments(argc, argv)) return orvo::watchdog::RunAgentProcess(argc, argv);
    wchar_t name[] = L"OrvoVistrelWatchdog";
    SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table)) return 0;
    WD_TRACE_ERROR(::GetLastError());
    return 1;
}
