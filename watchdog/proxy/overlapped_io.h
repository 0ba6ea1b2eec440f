// Bounded I/O on a device that may never answer: the request runs
// overlapped, its wait ends on completion, a time-out or a stop request, and
// a request that does not come back is cancelled. A request whose
// cancellation is not honoured either keeps its buffers for ever: freeing
// them under a driver that may still write them would be worse than a leak.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

namespace orvo::watchdog {

struct IoResult {
    DWORD error = ERROR_SUCCESS;  // ERROR_TIMEOUT, ERROR_OPERATION_ABORTED (stop), or the request's
    DWORD transferred = 0;
    bool abandoned = false;  // still pending in the driver: its buffers must stay
};

// DeviceIoControl with an input record and a 4-byte output, at most timeoutMs.
IoResult BoundedDeviceIoControl(HANDLE device, DWORD code, const void* input, DWORD inputBytes, int32_t* status,
                                DWORD timeoutMs) noexcept;

// One WriteFile of bytes, ended early by stopEvent (may be null). The data is
// not copied: when the result is abandoned the caller must keep it alive.
IoResult StoppableWrite(HANDLE device, const void* data, DWORD bytes, HANDLE stopEvent) noexcept;

}  // namespace orvo::watchdog
