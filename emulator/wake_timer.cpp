#include "emulator/wake_timer.h"

#include <cmath>

#include "emulator/frame_pacer.h"

namespace orvo::emu {

CWakeTimer::~CWakeTimer() {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_quit = true;
    }
    if (m_thread) {
        ::SetEvent(m_changed.get());
        ::WaitForSingleObject(m_thread.get(), INFINITE);
    }
}

void CWakeTimer::At(double seconds) {
    win32::CriticalSectionLock lock(m_lock);
    if (m_quit || !m_changed) return;
    if (m_armed && m_due <= seconds) return;
    m_due = seconds;
    m_armed = true;
    if (!m_thread) m_thread.reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    ::SetEvent(m_changed.get());
}

DWORD WINAPI CWakeTimer::ThreadMain(void* self) {
    static_cast<CWakeTimer*>(self)->Run();
    return 0;
}

void CWakeTimer::Run() {
    for (;;) {
        DWORD wait = INFINITE;
        {
            win32::CriticalSectionLock lock(m_lock);
            if (m_quit) return;
            if (m_armed) {
                const double left = m_due - PacingClockSeconds();
                if (left <= 0) {
                    m_armed = false;
                    wait = 0;
                } else {
                    wait = DWORD(std::ceil(left * 1000.0));
                }
            }
        }
        if (wait == 0) {
            m_fire();
            continue;
        }
        ::WaitForSingleObject(m_changed.get(), wait);
    }
}

}  // namespace orvo::emu
