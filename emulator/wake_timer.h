// Wakes an emulated device's waiting transfers at a time the device names:
// a frame that is not ready yet leaves its read pending, and the device asks
// to be looked at again when it will be. One thread, started on first use,
// stopped and joined by the destructor.
#pragma once
#include <windows.h>

#include <functional>

#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo::emu {

class CWakeTimer {
public:
    explicit CWakeTimer(std::function<void()> fire) : m_fire(std::move(fire)) {}
    ~CWakeTimer();
    CWakeTimer(const CWakeTimer&) = delete;
    CWakeTimer& operator=(const CWakeTimer&) = delete;

    // Fires once at `seconds` of PacingClockSeconds (or soon after); the
    // earliest of several requests wins, and each firing serves all that
    // were due.
    void At(double seconds);

private:
    static DWORD WINAPI ThreadMain(void* self);
    void Run();

    std::function<void()> m_fire;
    win32::CriticalSection m_lock;
    win32::UniqueHandle m_changed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    win32::UniqueHandle m_thread;
    double m_due = 0;
    bool m_armed = false;
    bool m_quit = false;
};

}  // namespace orvo::emu
