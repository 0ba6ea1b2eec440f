// Keeps the capture source's cameras equal to the camera library's device
// list: registers new cameras under fresh CLSIDs, notes them in the
// bookkeeping key, starts their proxy feeders, undoes all of it for cameras
// that leave, and tells the session's applications with broadcasts.
// Every operation takes the agent lock.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "watchdog/common/bindings.h"
#include "watchdog/proxy/proxy_feeder.h"
#include "win32/critical_section.h"

namespace orvo::watchdog {

enum class CameraState { Registered = 0, New = 1, Gone = 2 };

struct CameraRecord {
    int32_t deviceId = -1;
    GUID clsid{};
    GUID kind{};
    int32_t model = 0;
    DWORD deviceInstance = 0;
    std::wstring name;
    bool inUse = false;
    CameraState state = CameraState::New;
    ProxyFeeder feeder;
};

// The kind of camera a model code makes.
const GUID& CameraKindOf(int32_t model) noexcept;
// The product string of an entry, ended within its 32 characters.
std::wstring ProductName(const DeviceEntry& entry);

// Device-change broadcasts to every top-level window, 1000 ms per window.
void BroadcastDeviceChange(WPARAM event) noexcept;

class CameraList {
public:
    CameraList(const CameraLibraryEntryPoints& library, const CaptureSourceEntryPoints& captureSource) noexcept
        : m_library(library), m_captureSource(captureSource) {}
    ~CameraList() = default;
    CameraList(const CameraList&) = delete;
    CameraList& operator=(const CameraList&) = delete;

    void Scan() noexcept;
    void Teardown() noexcept;
    // Of one session, or of every session when none is given; only values of
    // this process's bitness.
    void CleanUpStale(std::optional<DWORD> sessionId) noexcept;
    void OnDeviceChange(WPARAM event, LPARAM data) noexcept;

    // What the list holds, for diagnostics and tests.
    size_t Count() noexcept;
    std::vector<std::wstring> Names() noexcept;

private:
    bool ReadDeviceList(std::vector<DeviceEntry>& entries) noexcept;
    bool RegisterRecord(CameraRecord& record) noexcept;

    win32::CriticalSection m_lock;
    const CameraLibraryEntryPoints& m_library;
    const CaptureSourceEntryPoints& m_captureSource;
    std::vector<std::unique_ptr<CameraRecord>> m_cameras;
    std::map<int32_t, int> m_modelCounters;
};

}  // namespace orvo::watchdog
