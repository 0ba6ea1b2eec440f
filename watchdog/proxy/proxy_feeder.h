// Feeds one camera's frames to its virtual device of the kernel-streaming
// proxy while an application streams from it; writes the placeholder while
// another process has the camera. Only a native agent feeds: in a 32-bit
// agent on 64-bit Windows start and attach answer 1 and do nothing.
//
// Start, Attach and Stop run on the agent's main thread; the feeding thread
// takes the feeder lock for each step and reads only its copies outside it.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "watchdog/common/bindings.h"
#include "watchdog/proxy/frame_geometry.h"
#include "watchdog/proxy/proxy_binding.h"
#include "win32/critical_section.h"
#include "win32/gdi.h"
#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace orvo::watchdog {

// How long Stop waits for the feeding thread before terminating it.
constexpr DWORD kFeederStopTimeoutMs = 3000;
// How often a feeder in placeholder mode asks whether the camera is free.
constexpr DWORD kAvailabilityPollMs = 3000;

class ProxyFeeder {
public:
    ProxyFeeder() = default;
    ~ProxyFeeder();
    ProxyFeeder(const ProxyFeeder&) = delete;
    ProxyFeeder& operator=(const ProxyFeeder&) = delete;

    HRESULT Start(const std::wstring& name, const GUID& kind, int32_t deviceId, DWORD deviceInstance) noexcept;
    // 0 attached or running, 1 nothing to attach to, negative on failure.
    HRESULT Attach() noexcept;
    void Stop() noexcept;

private:
    static DWORD WINAPI ThreadMain(void* self) noexcept;
    DWORD Run() noexcept;
    HRESULT LoadPlaceholder() noexcept;
    HRESULT BindLibrary() noexcept;
    HRESULT ComputeGeometry() noexcept;
    HRESULT OpenCamera() noexcept;
    HRESULT BeginCapture(HANDLE stopEvent) noexcept;
    HRESULT ApplyCedarSettings() noexcept;
    HRESULT DeliverFrame(HANDLE stopEvent) noexcept;
    HRESULT CheckStatus() noexcept;
    HRESULT CheckAvailability() noexcept;
    HRESULT WritePlaceholder(HANDLE stopEvent) noexcept;
    HRESULT Write(const uint8_t* data, HANDLE stopEvent) noexcept;
    void StopCapture() noexcept;
    void ReleaseAll() noexcept;

    win32::CriticalSection m_lock;
    GUID m_feederGuid{};
    std::wstring m_name;
    GUID m_kind{};
    int32_t m_deviceId = -1;
    DWORD m_deviceInstance = 0;
    ProxyBinding m_proxy;
    win32::UniqueHandle m_thread;
    win32::UniqueHandle m_threadStop;
    // The stop event for Stop to signal without the lock; only the agent's
    // main thread sets and clears it.
    std::atomic<HANDLE> m_stopSignal{nullptr};
    win32::UniqueHandle m_statusEvent;
    win32::UniqueHandle m_frameEvent;
    bool m_capturing = false;
    win32::UniqueModule m_library;
    CameraLibraryEntryPoints m_api;
    int m_camera = 0;
    int m_buffer = -1;
    FrameGeometry m_geometry;
    std::vector<uint8_t> m_output;
    std::vector<uint8_t> m_placeholderFrame;
    win32::UniqueBitmap m_placeholder;
    // Set when the thread had to be terminated: its lock and the library
    // may be held by the dead thread, so nothing is touched again.
    bool m_wedged = false;
};

}  // namespace orvo::watchdog
