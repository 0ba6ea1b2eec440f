// The stream's lock: a critical section owned by the stream, with a scoped
// guard so no path can leave it held.
#pragma once
#include "win32/critical_section.h"

namespace orvo {

class CLock {
public:
    CLock() = default;
    virtual ~CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Enter() noexcept { m_section.enter(); }
    void Leave() noexcept { m_section.leave(); }

private:
    win32::CriticalSection m_section;
};

class CLockGuard {
public:
    explicit CLockGuard(CLock& lock) noexcept : m_lock(lock) { m_lock.Enter(); }
    ~CLockGuard() { m_lock.Leave(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLock& m_lock;
};

}  // namespace orvo
