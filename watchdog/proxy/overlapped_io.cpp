#include "watchdog/proxy/overlapped_io.h"

#include <cstring>
#include <memory>

namespace orvo::watchdog {
namespace {

constexpr DWORD kCancelGraceMs = 2000;

// Everything a pending request may still touch.
struct PendingIo {
    OVERLAPPED overlapped{};
    std::vector<uint8_t> input;
    int32_t status = 0;
    ~PendingIo() {
        if (overlapped.hEvent) ::CloseHandle(overlapped.hEvent);
    }
};

// Waits for the request, the stop event or the time-out. Returns false when
// the request was left pending (the block must then outlive us).
bool Finish(HANDLE device, PendingIo& io, BOOL started, DWORD timeoutMs, HANDLE stopEvent, IoResult& result) {
    if (!started) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            result.error = error;
            return true;
        }
        HANDLE waits[2] = {io.overlapped.hEvent, stopEvent};
        const DWORD woke = ::WaitForMultipleObjects(stopEvent ? 2 : 1, waits, FALSE, timeoutMs);
        if (woke != WAIT_OBJECT_0) {
            ::CancelIoEx(device, &io.overlapped);
            if (::WaitForSingleObject(io.overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
                result.error = ERROR_TIMEOUT;
                result.abandoned = true;
                return false;
            }
            DWORD ignored = 0;
            ::GetOverlappedResult(device, &io.overlapped, &ignored, FALSE);
            result.error = woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT;
            return true;
        }
    }
    if (!::GetOverlappedResult(device, &io.overlapped, &result.transferred, FALSE)) result.error = ::GetLastError();
    return true;
}

std::unique_ptr<PendingIo> NewIo() {
    auto io = std::make_unique<PendingIo>();
    io->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return io;
}

}  // namespace

IoResult BoundedDeviceIoControl(HANDLE device, DWORD code, const void* input, DWORD inputBytes, int32_t* status,
                                DWORD timeoutMs) noexcept {
    IoResult result;
    auto io = NewIo();
    if (!io->overlapped.hEvent) {
        result.error = ::GetLastError();
        return result;
    }
    io->input.assign(static_cast<const uint8_t*>(input), static_cast<const uint8_t*>(input) + inputBytes);
    const BOOL started = ::DeviceIoControl(device, code, io->input.data(), inputBytes, &io->status,
                                           sizeof(io->status), nullptr, &io->overlapped);
    if (!Finish(device, *io, started, timeoutMs, nullptr, result)) {
        io.release();  // still in the driver's hands
        return result;
    }
    if (status) *status = io->status;
    return result;
}

IoResult StoppableWrite(HANDLE device, const void* data, DWORD bytes, HANDLE stopEvent) noexcept {
    IoResult result;
    auto io = NewIo();
    if (!io->overlapped.hEvent) {
        result.error = ::GetLastError();
        return result;
    }
    const BOOL started = ::WriteFile(device, data, bytes, nullptr, &io->overlapped);
    if (!Finish(device, *io, started, INFINITE, stopEvent, result)) io.release();
    return result;
}

}  // namespace orvo::watchdog
