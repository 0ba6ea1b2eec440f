// The service role: one pair of agents (native and 32-bit) per interactive
// session, started at logon or console connect and stopped at logoff,
// console disconnect and service stop.
//
// The program wires it to the Service Control Manager through a
// ServiceHost; the agents are started from agentImage and from the "x86"
// subfolder beside it.
#pragma once
#include <windows.h>
#include <list>
#include <string>
#include <vector>

#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo::watchdog {

class ServiceHost {
public:
    virtual ~ServiceHost() = default;
    // Registers the control handler; false when refused.
    virtual bool RegisterHandler(LPHANDLER_FUNCTION_EX handler, void* context) noexcept = 0;
    virtual void ReportStatus(const SERVICE_STATUS& status) noexcept = 0;
};

// Clean-up runs of the service start are waited for (bounded) before a
// session's agents start: a clean-up finishing after a quick logon would
// unregister the new agents' cameras.
constexpr DWORD kCleanupWaitMs = 10000;
constexpr DWORD kAgentStopTimeoutMs = 5000;
constexpr DWORD kAgentKilledExitCode = 258;

class WatchdogService {
public:
    WatchdogService(ServiceHost& host, std::wstring agentImage);
    ~WatchdogService();
    WatchdogService(const WatchdogService&) = delete;
    WatchdogService& operator=(const WatchdogService&) = delete;

    // Service main: registers, runs the wait loop until stopped, stops every
    // session and reports SERVICE_STOPPED.
    void Run() noexcept;

    // A service started while a user is logged on (the installer starts it)
    // hears no logon for that user: with this on, Run starts the agents of
    // the active console session itself. Hosts that deliver every session
    // change themselves leave it off.
    void AdoptConsoleSession(bool adopt) noexcept { m_adoptConsole = adopt; }

    static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    DWORD Control(DWORD control, DWORD eventType, LPVOID eventData) noexcept;

    SERVICE_STATUS Status() noexcept;
    // Session ids with agents, in order of creation.
    std::vector<DWORD> Sessions() noexcept;

private:
    struct SessionEntry {
        DWORD sessionId = 0;
        win32::UniqueHandle stopEvent;
        win32::UniqueHandle nativeAgent;
        win32::UniqueHandle wow64Agent;
    };

    void Report(DWORD state) noexcept;
    void StartSession(DWORD sessionId) noexcept;
    void StopSession(DWORD sessionId) noexcept;
    void StopEntry(SessionEntry& entry) noexcept;
    void WaitLoop() noexcept;
    bool BuildWaitArray(std::vector<HANDLE>& handles) noexcept;
    bool DropAgent(HANDLE process) noexcept;
    void WaitForCleanupRuns() noexcept;
    size_t WaitedHandles() const noexcept;
    win32::UniqueHandle LaunchAgent(DWORD sessionId, HANDLE stopEvent, bool wow64Copy) noexcept;

    ServiceHost& m_host;
    std::wstring m_agentImage;
    win32::CriticalSection m_lock;
    SERVICE_STATUS m_status{};
    bool m_registered = false;
    bool m_adoptConsole = false;
    win32::UniqueHandle m_stopEvent;
    win32::UniqueHandle m_wakeEvent;
    std::list<SessionEntry> m_sessions;
    // Agent handles of removed entries: the wait loop may still wait on
    // them, so they close only when it rebuilds its array.
    std::vector<win32::UniqueHandle> m_retired;
    std::vector<win32::UniqueHandle> m_cleanupRuns;
};

}  // namespace orvo::watchdog
