#include "camera_api/devices/owner_tracker.h"

#include "win32/unique_handle.h"

namespace orvo {

bool SystemProcessProbe::IsAlive(DWORD processId) noexcept {
    win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode)) return true;
    return exitCode == STILL_ACTIVE;
}

}  // namespace orvo
