// One agent process in a user's session: holds the instance mutex of its
// bitness, binds the capture source and the camera library, keeps the
// cameras registered while the session runs, and removes them at the end.
#pragma once
#include <windows.h>
#include <memory>

#include "watchdog/agent/agent_arguments.h"
#include "watchdog/agent/camera_list.h"
#include "watchdog/agent/notification_window.h"
#include "watchdog/common/bindings.h"
#include "win32/critical_section.h"
#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace orvo::watchdog {

class SessionAgent {
public:
    SessionAgent() = default;
    ~SessionAgent();
    SessionAgent(const SessionAgent&) = delete;
    SessionAgent& operator=(const SessionAgent&) = delete;

    // Start-up, loop, teardown; false when start-up failed. COM is
    // initialised on this thread by the caller.
    bool Run(int argc, const wchar_t* const* argv) noexcept;

private:
    bool StartUp(const AgentArguments& arguments) noexcept;
    void Loop() noexcept;

    win32::CriticalSection m_lock;
    win32::UniqueHandle m_instanceMutex;
    bool m_ownsInstance = false;
    win32::UniqueHandle m_stopEvent;
    win32::UniqueHandle m_serviceProcess;
    win32::UniqueHandle m_apiEvent;
    // Modules outlive everything that calls into them: declared first, freed last.
    win32::UniqueModule m_captureSourceModule;
    win32::UniqueModule m_libraryModule;
    CaptureSourceEntryPoints m_captureSource;
    CameraLibraryEntryPoints m_library;
    std::unique_ptr<CameraList> m_cameras;
    NotificationWindow m_window;
};

// The agent's side of program entry: split the command line, run, exit code.
int RunAgentProcess(int argc, const wchar_t* const* argv) noexcept;

}  // namespace orvo::watchdog
