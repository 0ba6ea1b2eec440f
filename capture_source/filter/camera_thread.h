// The pin's event thread ("CameraThread"): waits on the handler's events
// (and, when asked, pumps the thread's messages) and passes each signalled
// handle to the handler, until stopped.
#pragma once
#include <windows.h>

#include "win32/unique_handle.h"

namespace orvo::capture {

class ICameraEventHandler {
public:
    // Sets *count to the number of handles; fills handles when not null.
    virtual HRESULT GetHandles(HANDLE* handles, DWORD* count) = 0;
    virtual HRESULT OnSignaled(HANDLE handle) = 0;
    virtual bool NeedRefresh() = 0;

protected:
    ~ICameraEventHandler() = default;
};

class CCameraThread {
public:
    CCameraThread() noexcept;
    virtual ~CCameraThread();
    CCameraThread(const CCameraThread&) = delete;
    CCameraThread& operator=(const CCameraThread&) = delete;

    // No thread, or the thread has ended.
    virtual bool IsStopped() noexcept;
    virtual HRESULT Start(ICameraEventHandler* handler, bool pumpMessages) noexcept;
    // Asks the thread to end and waits up to 5 s for it.
    void Stop() noexcept;

protected:
    virtual void OnBegin() noexcept {}
    virtual void OnEnd() noexcept {}

private:
    static DWORD WINAPI ThreadMain(void* self);
    DWORD Run() noexcept;

    int m_priority = THREAD_PRIORITY_NORMAL;
    win32::UniqueHandle m_thread;
    win32::UniqueHandle m_started;
    win32::UniqueHandle m_stop;
    const char* m_name = "CameraThread";
    ICameraEventHandler* m_handler = nullptr;
    bool m_pump = false;
};

// Names the calling thread for debuggers.
void SetThreadNameForDebugger(DWORD threadId, const char* name) noexcept;

}  // namespace orvo::capture
