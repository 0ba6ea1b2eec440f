// A critical section that lives and dies with its owner, and its scoped lock.
#pragma once
#include <windows.h>

namespace orvo::win32 {

class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~CriticalSection() { ::DeleteCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() noexcept { ::EnterCriticalSection(&m_cs); }
    void leave() noexcept { ::LeaveCriticalSection(&m_cs); }
    // For SleepConditionVariableCS.
    CRITICAL_SECTION* native() noexcept { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) noexcept : m_cs(cs) { m_cs.enter(); }
    ~CriticalSectionLock() { m_cs.leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& m_cs;
};

}  // namespace orvo::win32
