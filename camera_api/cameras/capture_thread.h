// One capture thread of a camera (video, still or status polling): started
// suspended so its priority is set before it runs, told to stop through a
// flag, and joined with a bounded wait.
//
// A thread that does not end within the bound is never terminated: killing it
// could leave a lock it holds (ours, the heap's, the loader's) owned forever.
// It keeps its handle and stays told to stop; every wait inside a capture
// thread is bounded, so it ends on its own, and the owner refuses to start a
// successor until it has. Destroying the owner waits for it to end.
#pragma once
#include <windows.h>
#include <atomic>

#include "win32/unique_handle.h"

namespace orvo {

class CaptureThread {
public:
    // A thread routine; what it returns becomes the thread's exit code.
    using Body = LPTHREAD_START_ROUTINE;
    enum class StopResult { NotRunning, Stopped, TimedOut };

    CaptureThread() = default;
    ~CaptureThread();
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    // Runs body(context) on a new thread at the given priority. False when a
    // thread is still held or any step of starting it fails.
    bool Start(Body body, void* context, int priority) noexcept;
    // Raises the stop flag and waits up to timeoutMs for the thread to end.
    StopResult Stop(DWORD timeoutMs) noexcept;
    // Waits up to timeoutMs without raising the flag; true (handle closed)
    // when the thread has ended or there is none.
    bool Join(DWORD timeoutMs) noexcept;

    bool Held() const noexcept { return m_thread.valid(); }
    bool StopRequested() const noexcept { return m_stop.load(std::memory_order_acquire); }

private:
    win32::UniqueHandle m_thread;
    std::atomic<bool> m_stop{false};
};

}  // namespace orvo
