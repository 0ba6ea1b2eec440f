// The process-wide object behind every export: device tables, the API mutex,
// the API event and the cameras this process opened.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>

#include "camera_api/devices/device_tables.h"
#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo {

class CZelCamera;

// Names of the objects shared by the processes of a logon session.
struct SessionObjectNames {
    const wchar_t* apiMutex = L"ORVO_API_MUTEX";
    const wchar_t* tableMutex = kSharedDeviceDataMutexName;
    const wchar_t* table = kSharedDeviceDataName;
};

// Wait limit of every sequence that takes the API mutex.
constexpr DWORD kApiMutexTimeoutMs = 10000;

class CZelDeviceManager {
public:
    explicit CZelDeviceManager(const SessionObjectNames& names = SessionObjectNames{}) noexcept;
    CZelDeviceManager(const CZelDeviceManager&) = delete;
    CZelDeviceManager& operator=(const CZelDeviceManager&) = delete;

    // Runs the initialisation until it has once succeeded; non-zero on success.
    int Initialise() noexcept;
    bool IsInitialised() const noexcept { return m_initialised.load() != 0; }

    int32_t DeviceCount(int* count) noexcept;
    int32_t DeviceList(int capacity, DeviceEntry* entries, int* count) noexcept;
    int32_t SetApiEvent(int which, HANDLE event) noexcept;
    int32_t Open(int deviceId, int* handle) noexcept;
    int32_t Close(int handle) noexcept;
    CZelCamera* CameraFor(int handle) noexcept;
    int32_t IsParamSupported(int deviceId, int paramId) noexcept;

    DeviceTables& Tables() noexcept { return m_tables; }

private:
    SessionObjectNames m_names;
    DeviceTables m_tables;
    win32::UniqueHandle m_apiMutex;
    std::atomic<HANDLE> m_apiEvent{nullptr};
    std::atomic<int> m_initialised{0};
    win32::CriticalSection m_listLock;   // guards m_nextHandle (and, later, the open cameras)
    int m_nextHandle = 1;
};

// The library's single instance, constructed at load and destroyed at unload.
CZelDeviceManager& TheDeviceManager() noexcept;

}  // namespace orvo
