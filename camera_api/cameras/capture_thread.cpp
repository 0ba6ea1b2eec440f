#include "camera_api/cameras/capture_thread.h"

#include <new>

namespace orvo {

namespace {

struct Launch {
    CaptureThread::Body body;
    void* context;
};

DWORD WINAPI ThreadMain(void* parameter) {
    Launch* launch = static_cast<Launch*>(parameter);
    const Launch copy = *launch;
    delete launch;
    copy.body(copy.context);
    return 0;
}

}  // namespace

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
    Launch* launch = new (std::nothrow) Launch{body, context};
    if (!launch) return false;
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, ThreadMain, launch, CREATE_SUSPENDED, nullptr));
    if (!thread) {
        delete launch;
        return false;
    }
    if (!::SetThreadPriority(thread.get(), priority) || ::ResumeThread(thread.get()) == DWORD(-1)) {
        // Never ran: let it run to its end at once with the stop flag up.
        m_stop.store(true, std::memory_order_release);
        ::ResumeThread(thread.get());
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
