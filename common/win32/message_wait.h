// Waits that keep dispatching window messages: a thread that owns windows
// (the camera library's hidden window among them) must not stop pumping.
#pragma once
#include <windows.h>

namespace orvo::win32 {

// True when handle was signalled within timeoutMs; a null handle just pumps
// for that long.
inline bool WaitPumpingMessages(HANDLE handle, DWORD timeoutMs) noexcept {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD woke = ::MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, left, QS_ALLINPUT);
        if (handle && woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED) return false;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (left == 0) return false;
    }
}

}  // namespace orvo::win32
