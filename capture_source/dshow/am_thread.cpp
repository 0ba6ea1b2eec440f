#include "capture_source/dshow/am_thread.h"

namespace orvo::dshow {

CAMThread::CAMThread() noexcept
    : m_requestEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_replyEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CAMThread::~CAMThread() { Close(); }

bool CAMThread::Create() noexcept {
    win32::CriticalSectionLock lock(m_callLock);
    if (m_thread || !m_requestEvent || !m_replyEvent) return false;
    DWORD id = 0;
    m_thread.reset(::CreateThread(nullptr, 0, &CAMThread::InitialThreadProc, this, 0, &id));
    return m_thread.valid();
}

DWORD WINAPI CAMThread::InitialThreadProc(void* self) { return static_cast<CAMThread*>(self)->ThreadProc(); }

DWORD CAMThread::CallWorker(DWORD command) noexcept {
    win32::CriticalSectionLock lock(m_callLock);
    if (!m_thread) return static_cast<DWORD>(E_FAIL);
    m_command = command;
    ::SetEvent(m_requestEvent.get());
    // The reply, or the thread's end when it dies without one.
    HANDLE waits[2] = {m_replyEvent.get(), m_thread.get()};
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return woke == WAIT_OBJECT_0 ? m_result : static_cast<DWORD>(E_FAIL);
}

void CAMThread::Close() noexcept {
    if (!m_thread) return;
    ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
}

DWORD CAMThread::GetRequest() noexcept {
    ::WaitForSingleObject(m_requestEvent.get(), INFINITE);
    return m_command;
}

bool CAMThread::CheckRequest(DWORD* command) noexcept {
    if (::WaitForSingleObject(m_requestEvent.get(), 0) != WAIT_OBJECT_0) return false;
    if (command) *command = m_command;
    return true;
}

void CAMThread::Reply(DWORD result) noexcept {
    m_result = result;
    ::SetEvent(m_replyEvent.get());
}

}  // namespace orvo::dshow
