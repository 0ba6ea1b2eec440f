#include "capture_source/filter/camera_thread.h"

#include <vector>

#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {
namespace {

constexpr DWORD kThreadNameException = 0x406D1388;
constexpr DWORD kStopWaitMs = 5000;

#pragma pack(push, 8)
struct ThreadNameInfo {
    DWORD type;      // 0x1000
    LPCSTR name;
    DWORD threadId;
    DWORD flags;
};
#pragma pack(pop)

// Debuggers read the name from the exception; without one attached nobody
// handles it, and an unhandled exception ends the process. There is no
// __try in this compiler: a vectored handler swallows it instead.
LONG CALLBACK SwallowThreadName(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                         : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void SetThreadNameForDebugger(DWORD threadId, const char* name) noexcept {
    ThreadNameInfo info{0x1000, name, threadId, 0};
    PVOID handler = ::AddVectoredExceptionHandler(1, &SwallowThreadName);
    if (!handler) return;
    ::RaiseException(kThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                     reinterpret_cast<const ULONG_PTR*>(&info));
    ::RemoveVectoredExceptionHandler(handler);
}

CCameraThread::CCameraThread() noexcept
    : m_started(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_stop(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CCameraThread::~CCameraThread() { Stop(); }

bool CCameraThread::IsStopped() noexcept {
    return !m_thread || ::WaitForSingleObject(m_thread.get(), 0) == WAIT_OBJECT_0;
}

HRESULT CCameraThread::Start(ICameraEventHandler* handler, bool pumpMessages) noexcept {
    if (!handler) return kErrThreadNoHandler;
    if (m_thread) return S_FALSE;
    if (!m_stop || !m_started) return kErrThreadNoStopEvent;
    ::ResetEvent(m_stop.get());
    ::ResetEvent(m_started.get());
    m_handler = handler;
    m_pump = pumpMessages;
    DWORD id = 0;
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, &CCameraThread::ThreadMain, this, CREATE_SUSPENDED, &id));
    if (!thread) return static_cast<HRESULT>(kErrThreadCreateBase | ::GetLastError());
    ::SetThreadPriority(thread.get(), m_priority);
    SetThreadNameForDebugger(id, m_name);
    ::ResumeThread(thread.get());
    HANDLE waits[2] = {thread.get(), m_started.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return kErrThreadEndedEarly;
    m_thread = std::move(thread);
    return S_OK;
}

void CCameraThread::Stop() noexcept {
    if (!m_thread) return;
    ::SetEvent(m_stop.get());
    if (::WaitForSingleObject(m_thread.get(), kStopWaitMs) != WAIT_OBJECT_0) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kStopWaitMs);
        ::TerminateThread(m_thread.get(), 2);
    }
    m_thread.reset();
}

DWORD WINAPI CCameraThread::ThreadMain(void* self) { return static_cast<CCameraThread*>(self)->Run(); }

DWORD CCameraThread::Run() noexcept {
    std::vector<HANDLE> handles;
    auto refresh = [&]() -> bool {
        DWORD count = 0;
        if (FAILED(m_handler->GetHandles(nullptr, &count))) return false;
        try {
            handles.resize(size_t(count) + 1);
        } catch (...) {
            return false;
        }
        handles[0] = m_stop.get();
        return SUCCEEDED(m_handler->GetHandles(handles.data() + 1, &count));
    };
    if (!refresh()) return 1;
    ::SetEvent(m_started.get());
    OnBegin();
    for (;;) {
        const DWORD n = static_cast<DWORD>(handles.size());
        const DWORD woke = m_pump ? ::MsgWaitForMultipleObjects(n, handles.data(), FALSE, INFINITE, QS_ALLINPUT)
                                  : ::WaitForMultipleObjects(n, handles.data(), FALSE, INFINITE);
        if (woke > WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + n) {
            m_handler->OnSignaled(handles[woke - WAIT_OBJECT_0]);
        } else if (m_pump && woke == WAIT_OBJECT_0 + n) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        } else {
            break;
        }
        if (m_handler->NeedRefresh() && !refresh()) {
            OnEnd();
            return 1;
        }
    }
    OnEnd();
    return 0;
}

}  // namespace orvo::capture
