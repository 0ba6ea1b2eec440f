#include "watchdog/service/watchdog_service.h"

#include <wtsapi32.h>
#include <algorithm>
#include <cwchar>

#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"

namespace orvo::watchdog {
namespace {

constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE;

std::wstring Wow64Copy(const std::wstring& image) {
    const size_t slash = image.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring(kX86Folder) + L"\\" + image;
    return image.substr(0, slash + 1) + kX86Folder + L"\\" + image.substr(slash + 1);
}

}  // namespace

WatchdogService::WatchdogService(ServiceHost& host, std::wstring agentImage)
    : m_host(host),
      m_agentImage(std::move(agentImage)),
      m_stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_wakeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = kAcceptedControls;
}

WatchdogService::~WatchdogService() {
    win32::CriticalSectionLock lock(m_lock);
    while (!m_sessions.empty()) {
        StopEntry(m_sessions.front());
        m_sessions.pop_front();
    }
}

void WatchdogService::Report(DWORD state) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    m_status.dwCurrentState = state;
    if (m_registered) m_host.ReportStatus(m_status);
}

SERVICE_STATUS WatchdogService::Status() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    return m_status;
}

std::vector<DWORD> WatchdogService::Sessions() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    std::vector<DWORD> ids;
    for (const auto& entry : m_sessions) ids.push_back(entry.sessionId);
    return ids;
}

void WatchdogService::Run() noexcept {
    {
        win32::CriticalSectionLock lock(m_lock);
        if (!m_registered) m_registered = m_host.RegisterHandler(&WatchdogService::ControlHandler, this);
        if (!m_registered || !m_stopEvent || !m_wakeEvent) {
            WD_TRACE_ERROR(::GetLastError());
            return;
        }
    }
    Report(SERVICE_START_PENDING);
    // The clean-up runs are listed before the service reports running, and
    // under the lock: a session's start waits for them there. Agents started
    // beside a run would find their instance mutex held by it and leave.
    {
        win32::CriticalSectionLock lock(m_lock);
        DWORD session = 0;
        if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
            win32::UniqueHandle native = LaunchAgent(session, nullptr, false);
            win32::UniqueHandle wow64 = LaunchAgent(session, nullptr, true);
            if (native) m_cleanupRuns.push_back(std::move(native));
            if (wow64) m_cleanupRuns.push_back(std::move(wow64));
        } else {
            WD_TRACE_ERROR(::GetLastError());
        }
    }
    Report(SERVICE_RUNNING);
    if (m_adoptConsole) {
        const DWORD console = ::WTSGetActiveConsoleSessionId();
        if (console != 0xFFFFFFFF) StartSession(console);
    }

    WaitLoop();
    {
        win32::CriticalSectionLock lock(m_lock);
        while (!m_sessions.empty()) {
            StopEntry(m_sessions.front());
            m_sessions.pop_front();
        }
        m_retired.clear();
        // A clean-up run still going after the stop would write the
        // bookkeeping key again after an uninstall removed it.
        WaitForCleanupRuns();
    }
    Report(SERVICE_STOPPED);
}

DWORD WINAPI WatchdogService::ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    if (!context) return ERROR_BAD_ARGUMENTS;
    return static_cast<WatchdogService*>(context)->Control(control, eventType, eventData);
}

DWORD WatchdogService::Control(DWORD control, DWORD eventType, LPVOID eventData) noexcept {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(m_stopEvent.get());
        break;
    case SERVICE_CONTROL_INTERROGATE:
        Report(Status().dwCurrentState);
        break;
    case SERVICE_CONTROL_SESSIONCHANGE: {
        if (!eventData) break;
        const DWORD session = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
        if (eventType == WTS_CONSOLE_CONNECT || eventType == WTS_SESSION_LOGON) {
            StartSession(session);
        } else if (eventType == WTS_CONSOLE_DISCONNECT || eventType == WTS_SESSION_LOGOFF) {
            StopSession(session);
        }
        break;
    }
    default:
        break;
    }
    return NO_ERROR;
}

void WatchdogService::WaitForCleanupRuns() noexcept {
    if (m_cleanupRuns.empty()) return;
    std::vector<HANDLE> runs;
    for (const auto& run : m_cleanupRuns) runs.push_back(run.get());
    if (::WaitForMultipleObjects(static_cast<DWORD>(runs.size()), runs.data(), TRUE, kCleanupWaitMs) ==
        WAIT_TIMEOUT) {
        WD_TRACE_WARNING(kCleanupWaitMs);
    }
    m_cleanupRuns.clear();
}

size_t WatchdogService::WaitedHandles() const noexcept {
    size_t count = 2;
    for (const auto& entry : m_sessions) count += (entry.nativeAgent ? 1 : 0) + (entry.wow64Agent ? 1 : 0);
    return count;
}

void WatchdogService::StartSession(DWORD sessionId) noexcept {
    WD_TRACE_INFO(sessionId);
    // Only whether the session has a user: the token itself is not needed.
    HANDLE token = nullptr;
    if (!::WTSQueryUserToken(sessionId, &token)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_TOKEN) WD_TRACE_ERROR(error, sessionId);
        return;
    }
    const win32::UniqueHandle userToken(token);

    win32::CriticalSectionLock lock(m_lock);
    WaitForCleanupRuns();
    auto entry = std::find_if(m_sessions.begin(), m_sessions.end(),
                              [&](const SessionEntry& e) { return e.sessionId == sessionId; });
    if (entry == m_sessions.end()) {
        // The wait loop takes at most 64 handles: a session that would pass
        // that gets no agents rather than a loop that fails and stops the service.
        if (WaitedHandles() + 2 > MAXIMUM_WAIT_OBJECTS) {
            WD_TRACE_ERROR(sessionId, static_cast<uint32_t>(WaitedHandles()));
            return;
        }
        SessionEntry created;
        created.sessionId = sessionId;
        created.stopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!created.stopEvent) {
            WD_TRACE_ERROR(::GetLastError());
            return;
        }
        created.nativeAgent = LaunchAgent(sessionId, created.stopEvent.get(), false);
        created.wow64Agent = LaunchAgent(sessionId, created.stopEvent.get(), true);
        if (!created.nativeAgent && !created.wow64Agent) return;
        m_sessions.push_back(std::move(created));
        ::SetEvent(m_wakeEvent.get());
        return;
    }
    for (bool wow64 : {false, true}) {
        win32::UniqueHandle& slot = wow64 ? entry->wow64Agent : entry->nativeAgent;
        if (slot) {
            // An agent that has ended but that the wait loop has not dropped
            // yet is gone all the same: a logon right after its end must
            // start it again. Its handle may still be in the loop's array.
            if (::WaitForSingleObject(slot.get(), 0) != WAIT_OBJECT_0) continue;
            m_retired.push_back(std::move(slot));
        }
        if (WaitedHandles() + 1 > MAXIMUM_WAIT_OBJECTS) {
            WD_TRACE_ERROR(sessionId, static_cast<uint32_t>(WaitedHandles()));
            continue;
        }
        slot = LaunchAgent(sessionId, entry->stopEvent.get(), wow64);
        if (slot) ::SetEvent(m_wakeEvent.get());
    }
}

void WatchdogService::StopSession(DWORD sessionId) noexcept {
    WD_TRACE_INFO(sessionId);
    win32::CriticalSectionLock lock(m_lock);
    auto entry = std::find_if(m_sessions.begin(), m_sessions.end(),
                              [&](const SessionEntry& e) { return e.sessionId == sessionId; });
    if (entry == m_sessions.end()) return;
    StopEntry(*entry);
    m_sessions.erase(entry);
    ::SetEvent(m_wakeEvent.get());
}

void WatchdogService::StopEntry(SessionEntry& entry) noexcept {
    ::SetEvent(entry.stopEvent.get());
    for (win32::UniqueHandle* agent : {&entry.nativeAgent, &entry.wow64Agent}) {
        if (!*agent) continue;
        if (::WaitForSingleObject(agent->get(), kAgentStopTimeoutMs) != WAIT_OBJECT_0) {
            WD_TRACE_WARNING(entry.sessionId, kAgentStopTimeoutMs);
            ::TerminateProcess(agent->get(), kAgentKilledExitCode);
        }
        m_retired.push_back(std::move(*agent));
    }
    entry.stopEvent.reset();
}

bool WatchdogService::BuildWaitArray(std::vector<HANDLE>& handles) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    // The loop no longer waits on the old array: its retired handles may go.
    m_retired.clear();
    try {
        handles.clear();
        handles.push_back(m_stopEvent.get());
        handles.push_back(m_wakeEvent.get());
        for (const auto& entry : m_sessions) {
            if (entry.nativeAgent) handles.push_back(entry.nativeAgent.get());
            if (entry.wow64Agent) handles.push_back(entry.wow64Agent.get());
        }
    } catch (...) {
        WD_TRACE_ERROR(E_OUTOFMEMORY);
        m_status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        m_status.dwServiceSpecificExitCode = static_cast<DWORD>(E_OUTOFMEMORY);
        return false;
    }
    return true;
}

bool WatchdogService::DropAgent(HANDLE process) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    for (auto entry = m_sessions.begin(); entry != m_sessions.end(); ++entry) {
        for (win32::UniqueHandle* agent : {&entry->nativeAgent, &entry->wow64Agent}) {
            if (agent->get() != process) continue;
            m_retired.push_back(std::move(*agent));
            if (!entry->nativeAgent && !entry->wow64Agent) m_sessions.erase(entry);
            return true;
        }
    }
    // A handle of an entry stopped meanwhile: the array is out of date.
    return std::any_of(m_retired.begin(), m_retired.end(), [&](const auto& h) { return h.get() == process; });
}

void WatchdogService::WaitLoop() noexcept {
    std::vector<HANDLE> handles;
    bool rebuild = true;
    for (;;) {
        if (rebuild && !BuildWaitArray(handles)) return;
        rebuild = false;
        ::SetLastError(0);
        const DWORD count = static_cast<DWORD>(std::min<size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
        const DWORD woke = ::WaitForMultipleObjects(count, handles.data(), FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            rebuild = true;
            continue;
        }
        if (woke > WAIT_OBJECT_0 + 1 && woke < WAIT_OBJECT_0 + count) {
            rebuild = DropAgent(handles[woke - WAIT_OBJECT_0]);
            continue;
        }
        const DWORD error = ::GetLastError();
        WD_TRACE_ERROR(woke, error);
        win32::CriticalSectionLock lock(m_lock);
        m_status.dwWin32ExitCode = error;
        return;
    }
}

win32::UniqueHandle WatchdogService::LaunchAgent(DWORD sessionId, HANDLE stopEvent, bool wow64Copy) noexcept {
    std::wstring image;
    try {
        image = wow64Copy ? Wow64Copy(m_agentImage) : m_agentImage;
    } catch (...) {
        return {};
    }
    if (::GetFileAttributesW(image.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WD_TRACE_ERROR(::GetLastError(), wow64Copy);
        return {};
    }
    HANDLE own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    win32::UniqueHandle ownToken(own);
    HANDLE duplicate = nullptr;
    if (!::DuplicateTokenEx(ownToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                            &duplicate)) {
        WD_TRACE_ERROR(::GetLastError());
        return {};
    }
    win32::UniqueHandle token(duplicate);
    DWORD session = sessionId;
    if (!::SetTokenInformation(token.get(), TokenSessionId, &session, sizeof(session))) {
        WD_TRACE_ERROR(::GetLastError(), sessionId);
        return {};
    }
    wchar_t arguments[64];
    std::swprintf(arguments, 64, L" %lu %llu", ::GetCurrentProcessId(),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(stopEvent)));
    std::wstring commandLine = L"\"" + image + L"\"" + arguments;
    // The user's interactive desktop, not the service's window station: the
    // agents hear the device broadcasts there and the video applications
    // hear theirs.
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessAsUserW(token.get(), nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process)) {
        WD_TRACE_ERROR(::GetLastError(), wow64Copy);
        return {};
    }
    const win32::UniqueHandle thread(process.hThread);  // not needed: closed on return
    return win32::UniqueHandle(process.hProcess);
}

}  // namespace orvo::watchdog
