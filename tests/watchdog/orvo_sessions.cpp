// orvo_sessions.exe AGENT_IMAGE: runs the watchdog service core in this
// process with a host that records its status reports, and turns lines on
// standard input into control-handler calls, as the Service Control Manager
// would send them (Wine sends no session changes):
//   logon N | logoff N | connect N | disconnect N | remote-connect N |
//   remote-disconnect N | interrogate | shutdown | stop | sessions
// Prints "status S" for every report, "sessions: ..." on request and "ok"
// after every command; ends with "stopped" when the service has stopped.
#include <windows.h>
#include <wtsapi32.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "watchdog/service/watchdog_service.h"

namespace {

using orvo::watchdog::WatchdogService;

void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

DWORD WINAPI ReadCommands(void* context);

// Records status reports; starts the command reader once the handler is
// registered, as the SCM's dispatcher only calls a registered handler.
class RecordingHost : public orvo::watchdog::ServiceHost {
public:
    bool RegisterHandler(LPHANDLER_FUNCTION_EX handler, void* context) noexcept override {
        m_handler = handler;
        m_context = context;
        m_reader = ::CreateThread(nullptr, 0, &ReadCommands, this, 0, nullptr);
        return m_reader != nullptr;
    }
    void ReportStatus(const SERVICE_STATUS& status) noexcept override {
        Say("status %lu exit %lu %lu\n", status.dwCurrentState, status.dwWin32ExitCode,
            status.dwServiceSpecificExitCode);
    }
    DWORD Send(DWORD control, DWORD eventType, void* data) const {
        return m_handler ? m_handler(control, eventType, data, m_context) : ERROR_SERVICE_NOT_ACTIVE;
    }
    WatchdogService* service = nullptr;
    HANDLE Reader() const { return m_reader; }

private:
    LPHANDLER_FUNCTION_EX m_handler = nullptr;
    void* m_context = nullptr;
    HANDLE m_reader = nullptr;
};

// The control handler's thread, as the dispatcher thread of a real service.
DWORD WINAPI ReadCommands(void* context) {
    auto* host = static_cast<RecordingHost*>(context);
    char line[256];
    while (std::fgets(line, sizeof(line), stdin)) {
        char verb[64] = "";
        unsigned long session = 0;
        if (std::sscanf(line, "%63s %lu", verb, &session) < 1) continue;
        WTSSESSION_NOTIFICATION note{sizeof(note), static_cast<DWORD>(session)};
        const std::string v = verb;
        DWORD result = NO_ERROR;
        if (v == "logon") result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &note);
        else if (v == "logoff") result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, &note);
        else if (v == "connect") result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_CONNECT, &note);
        else if (v == "disconnect") result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_DISCONNECT, &note);
        else if (v == "remote-connect") result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_REMOTE_CONNECT, &note);
        else if (v == "remote-disconnect")
            result = host->Send(SERVICE_CONTROL_SESSIONCHANGE, WTS_REMOTE_DISCONNECT, &note);
        else if (v == "interrogate") result = host->Send(SERVICE_CONTROL_INTERROGATE, 0, nullptr);
        else if (v == "shutdown") result = host->Send(SERVICE_CONTROL_SHUTDOWN, 0, nullptr);
        else if (v == "stop") result = host->Send(SERVICE_CONTROL_STOP, 0, nullptr);
        else if (v == "sessions") {
            std::string ids;
            for (DWORD id : host->service->Sessions()) ids += " " + std::to_string(id);
            Say("sessions:%s\n", ids.c_str());
        } else {
            Say("unknown %s\n", verb);
            continue;
        }
        Say("ok %s %lu\n", verb, result);
        if (v == "stop" || v == "shutdown") break;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        Say("usage: orvo_sessions AGENT_IMAGE\n");
        return 2;
    }
    RecordingHost host;
    WatchdogService service(host, argv[1]);
    host.service = &service;
    service.Run();
    Say("stopped\n");
    if (host.Reader()) {
        ::WaitForSingleObject(host.Reader(), 5000);
        ::CloseHandle(host.Reader());
    }
    return 0;
}
