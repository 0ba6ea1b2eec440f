// Waits for an overlapped transfer's event: an APC run on the way is not the
// end of the wait.
#pragma once
#include <windows.h>

namespace orvo {

inline DWORD WaitAlertable(HANDLE event, DWORD timeoutMs) {
    DWORD wait;
    do {
        wait = ::WaitForSingleObjectEx(event, timeoutMs, TRUE);
    } while (wait == WAIT_IO_COMPLETION);
    return wait;
}

}  // namespace orvo
