// A simple client: initialises the library on its main thread and ends the
// process without unloading it. Any access violation on the way out (a call
// through a half-destroyed object, code run after the unmapping) ends the
// process with kFaultExitCode, which the parent reports.
#include <windows.h>

#include "camera_api/api/orvo_api_client.h"

namespace {

constexpr UINT kFaultExitCode = 77;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ::TerminateProcess(::GetCurrentProcess(), kFaultExitCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int wmain() {
    ::AddVectoredExceptionHandler(1, &OnException);
    HMODULE module = ::LoadLibraryW(L"orvoApi.dll");
    if (!module) return 2;
    auto initialise = reinterpret_cast<decltype(&::orvo_InitializeApi)>(reinterpret_cast<void*>(::GetProcAddress(module, "orvo_InitializeApi")));
    if (!initialise || initialise() != ORVO_OK) return 3;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::ExitProcess(0);   // the module stays loaded on purpose
}
