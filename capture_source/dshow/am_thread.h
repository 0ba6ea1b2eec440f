// CAMThread: a worker thread driven by commands. The caller sends one
// command and waits for its one reply.
#pragma once
#include <windows.h>

#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo::dshow {

class CAMThread {
public:
    CAMThread() noexcept;
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the thread (ThreadProc); false when it exists or cannot start.
    bool Create() noexcept;
    // Sends a command and waits for the reply (the thread must exist).
    DWORD CallWorker(DWORD command) noexcept;
    // Waits for the thread to end and closes it.
    void Close() noexcept;
    bool ThreadExists() const noexcept { return m_thread.valid(); }

    // On the worker: wait for the next command, peek at one, answer one.
    DWORD GetRequest() noexcept;
    bool CheckRequest(DWORD* command) noexcept;
    void Reply(DWORD result) noexcept;
    HANDLE RequestEvent() const noexcept { return m_requestEvent.get(); }
    DWORD PendingCommand() const noexcept { return m_command; }

protected:
    virtual DWORD ThreadProc() = 0;

private:
    static DWORD WINAPI InitialThreadProc(void* self);

    win32::UniqueHandle m_thread;
    win32::UniqueHandle m_requestEvent;   // auto-reset: one command pending
    win32::UniqueHandle m_replyEvent;     // auto-reset: its answer is ready
    win32::CriticalSection m_callLock;    // one caller at a time
    volatile DWORD m_command = 0;
    volatile DWORD m_result = 0;
};

}  // namespace orvo::dshow
