// Scoped ownership of a Win32 mutex, taken with a time-out.
#pragma once
#include <windows.h>

namespace orvo::win32 {

class MutexLock {
public:
    enum class State { Acquired, Abandoned, TimedOut, Failed };

    // A mutex whose previous owner died while holding it (WAIT_ABANDONED) is
    // still ours once the wait returns; State::Abandoned tells the caller so
    // it can check what the dead owner may have left half-written.
    MutexLock(HANDLE mutex, DWORD timeoutMs) noexcept : m_mutex(mutex) {
        if (!mutex) {
            m_state = State::Failed;
            return;
        }
        switch (::WaitForSingleObject(mutex, timeoutMs)) {
        case WAIT_OBJECT_0: m_state = State::Acquired; break;
        case WAIT_ABANDONED: m_state = State::Abandoned; break;
        case WAIT_TIMEOUT: m_state = State::TimedOut; break;
        default: m_state = State::Failed; break;
        }
    }
    // As above, but gives up (State::Failed) as soon as `abort` is signalled.
    MutexLock(HANDLE mutex, HANDLE abort, DWORD timeoutMs) noexcept : m_mutex(mutex) {
        if (!mutex) return;
        const HANDLE handles[2] = {mutex, abort};
        switch (::WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0: m_state = State::Acquired; break;
        case WAIT_ABANDONED_0: m_state = State::Abandoned; break;
        case WAIT_TIMEOUT: m_state = State::TimedOut; break;
        default: m_state = State::Failed; break;
        }
    }
    ~MutexLock() {
        if (owns()) ::ReleaseMutex(m_mutex);
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    bool owns() const noexcept { return m_state == State::Acquired || m_state == State::Abandoned; }
    bool abandoned() const noexcept { return m_state == State::Abandoned; }
    State state() const noexcept { return m_state; }
    explicit operator bool() const noexcept { return owns(); }

private:
    HANDLE m_mutex;
    State m_state = State::Failed;
};

}  // namespace orvo::win32
