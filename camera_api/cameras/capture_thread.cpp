#include "camera_api/cameras/capture_thread.h"

#include "win32/pinned_thread.h"

namespace orvo {

CaptureThread::~CaptureThread() {
    // The owner stops its threads first; waiting here keeps a forgotten one
    // from running on into freed state.
    if (m_thread.valid()) {
        m_stop.store(true, std::memory_order_release);
        ::WaitForSingleObject(m_thread.get(), INFINITE);
    }
}

bool CaptureThread::Start(Body body, void* context, int priority) noexcept {
    if (m_thread.valid()) return false;
    m_stop.store(false, std::memory_order_release);
    // Pinned: a client that unloads the library while a camera captures must
    // not pull the code out from under this thread.
    win32::UniqueHandle thread(win32::CreatePinnedThread(body, context, CREATE_SUSPENDED));
    if (!thread) return false;
    if (!::SetThreadPriority(thread.get(), priority) || ::ResumeThread(thread.get()) == DWORD(-1)) {
        // It never ran a single instruction, so it holds nothing: ending it
        // here is safe, unlike ending a thread that runs. (Its start block and
        // module reference are lost with it; this needs a failing system call.)
        ::TerminateThread(thread.get(), 1);
        ::WaitForSingleObject(thread.get(), INFINITE);
        return false;
    }
    m_thread = std::move(thread);
    return true;
}

CaptureThread::StopResult CaptureThread::Stop(DWORD timeoutMs) noexcept {
    if (!m_thread.valid()) return StopResult::NotRunning;
    m_stop.store(true, std::memory_order_release);
    return Join(timeoutMs) ? StopResult::Stopped : StopResult::TimedOut;
}

bool CaptureThread::Join(DWORD timeoutMs) noexcept {
    if (!m_thread.valid()) return true;
    if (::WaitForSingleObject(m_thread.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    m_thread.reset();
    return true;
}

}  // namespace orvo
