#include "watchdog/agent/session_agent.h"

#include <objbase.h>

#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"

namespace orvo::watchdog {

SessionAgent::~SessionAgent() {
    m_window.Destroy();
    if (m_ownsInstance) ::ReleaseMutex(m_instanceMutex.get());
    m_ownsInstance = false;
    // The list's feeders hold their own library references; the list goes
    // before the modules its entry points live in.
    m_cameras.reset();
    m_libraryModule.reset();
    m_captureSourceModule.reset();
}

bool SessionAgent::StartUp(const AgentArguments& arguments) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    const bool wow64 = RunsUnderWow64();
    m_instanceMutex.reset(::CreateMutexW(nullptr, FALSE, wow64 ? kWow64InstanceMutex : kNativeInstanceMutex));
    if (!m_instanceMutex) {
        WD_TRACE_ERROR(::GetLastError());
        return false;
    }
    const DWORD woke = ::WaitForSingleObject(m_instanceMutex.get(), 0);
    if (woke != WAIT_OBJECT_0 && woke != WAIT_ABANDONED) {
        WD_TRACE_INFO(woke);
        return false;
    }
    m_ownsInstance = true;

    HRESULT hr = BindCaptureSource(m_captureSourceModule, m_captureSource);
    if (FAILED(hr)) return false;
    hr = m_captureSource.Initialize();
    if (FAILED(hr)) {
        WD_TRACE_ERROR(hr);
        return false;
    }
    m_cameras = std::make_unique<CameraList>(m_library, m_captureSource);
    if (arguments.CleanupRun()) return true;

    m_serviceProcess.reset(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, arguments.serviceProcessId));
    HANDLE stop = nullptr;
    if (!m_serviceProcess ||
        !::DuplicateHandle(m_serviceProcess.get(), reinterpret_cast<HANDLE>(static_cast<uintptr_t>(arguments.stopEventHandle)),
                           ::GetCurrentProcess(), &stop, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        WD_TRACE_ERROR(::GetLastError(), arguments.serviceProcessId);
        return false;
    }
    m_stopEvent.reset(stop);

    hr = BindCameraLibrary(LibraryUse::Agent, m_libraryModule, m_library);
    if (FAILED(hr)) return false;
    hr = m_window.Create(wow64 ? kWow64WindowTitle : kNativeWindowTitle,
                         [this](WPARAM event, LPARAM data) { m_cameras->OnDeviceChange(event, data); });
    if (FAILED(hr)) return false;

    int32_t result = m_library.InitializeApi();
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return false;
    }
    m_apiEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_apiEvent) {
        WD_TRACE_ERROR(::GetLastError());
        return false;
    }
    result = m_library.EnableApiEvent(0, m_apiEvent.get());
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return false;
    }
    return true;
}

void SessionAgent::Loop() noexcept {
    HANDLE waits[3] = {m_apiEvent.get(), m_stopEvent.get(), m_serviceProcess.get()};
    for (;;) {
        ::SetLastError(0);
        const DWORD woke = ::MsgWaitForMultipleObjects(3, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            m_cameras->Scan();
        } else if (woke == WAIT_OBJECT_0 + 3) {
            // Every waiting message: one per wake would strand the rest until
            // the next signal.
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        } else {
            if (woke == WAIT_FAILED && ::GetLastError() != 0) WD_TRACE_ERROR(::GetLastError());
            return;
        }
    }
}

bool SessionAgent::Run(int argc, const wchar_t* const* argv) noexcept {
    const auto arguments = ParseAgentArguments(argc, argv);
    if (!arguments) {
        WD_TRACE_ERROR(argc);
        return false;
    }
    if (!StartUp(*arguments)) return false;
    if (arguments->CleanupRun()) {
        m_cameras->CleanUpStale(std::nullopt);
        return true;
    }
    DWORD session = 0;
    if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        m_cameras->CleanUpStale(session);
    } else {
        WD_TRACE_ERROR(::GetLastError());
    }
    m_cameras->Scan();
    Loop();
    m_cameras->Teardown();
    return true;
}

int RunAgentProcess(int argc, const wchar_t* const* argv) noexcept {
    const HRESULT com = ::CoInitialize(nullptr);
    {
        SessionAgent agent;
        agent.Run(argc, argv);
        // COM goes before the agent's modules: they may hold COM objects.
        if (SUCCEEDED(com)) ::CoUninitialize();
    }
    return 0;
}

}  // namespace orvo::watchdog
