// The renderer's only lock: a critical section in the Windows build, a
// std::mutex in native builds (benchmarks, fuzzing), so that the rendering
// code itself stays free of platform calls.
#pragma once

#ifdef _WIN32
#include "win32/critical_section.h"
#else
#include <mutex>
#endif

namespace orvo::render {

#ifdef _WIN32
using RenderLock = win32::CriticalSection;
using RenderLockGuard = win32::CriticalSectionLock;
#else
class RenderLock {
public:
    void enter() noexcept { m_mutex.lock(); }
    void leave() noexcept { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};

class RenderLockGuard {
public:
    explicit RenderLockGuard(RenderLock& lock) noexcept : m_lock(lock) { m_lock.enter(); }
    ~RenderLockGuard() { m_lock.leave(); }
    RenderLockGuard(const RenderLockGuard&) = delete;
    RenderLockGuard& operator=(const RenderLockGuard&) = delete;

private:
    RenderLock& m_lock;
};
#endif

}  // namespace orvo::render
