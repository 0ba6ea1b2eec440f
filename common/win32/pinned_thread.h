// Threads that keep the module holding their code loaded until they end.
//
// A client may unload a library while one of its threads still runs (a camera
// left capturing). Holding a reference on the module keeps the thread's code
// mapped, and the unload is put off until the last such thread has ended: the
// library's static destruction then never runs under the loader lock while a
// thread it would have to wait for is alive (a thread cannot finish exiting
// while another holds the loader lock). The thread drops its reference in the
// same call that ends it, so no instruction of the module runs afterwards.
#pragma once
#include <windows.h>

#include <new>

namespace orvo::win32 {

namespace detail {

struct PinnedStart {
    LPTHREAD_START_ROUTINE routine;
    void* parameter;
    HMODULE module;
};

inline DWORD WINAPI PinnedThreadMain(void* parameter) {
    const PinnedStart start = *static_cast<PinnedStart*>(parameter);
    delete static_cast<PinnedStart*>(parameter);
    const DWORD result = start.routine(start.parameter);
    if (start.module) ::FreeLibraryAndExitThread(start.module, result);
    return result;
}

}  // namespace detail

// CreateThread for `routine(parameter)` with a reference on the module this
// header was compiled into. Null (with the thread's error) on failure.
inline HANDLE CreatePinnedThread(LPTHREAD_START_ROUTINE routine, void* parameter, DWORD flags) noexcept {
    auto* start = new (std::nothrow) detail::PinnedStart{routine, parameter, nullptr};
    if (!start) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&detail::PinnedThreadMain), &start->module)) {
        start->module = nullptr;  // runs unpinned rather than not at all
    }
    HANDLE thread = ::CreateThread(nullptr, 0, &detail::PinnedThreadMain, start, flags, nullptr);
    if (!thread) {
        const DWORD error = ::GetLastError();
        if (start->module) ::FreeLibrary(start->module);
        delete start;
        ::SetLastError(error);
    }
    return thread;
}

}  // namespace orvo::win32
