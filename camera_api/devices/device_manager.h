// The process-wide object behind every export: finds the cameras, keeps the
// device tables, watches plug and unplug and other processes' opens, tells
// the client through the API event, and owns the cameras this process opened.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

#include "camera_api/devices/device_tables.h"
#include "camera_api/devices/message_window.h"
#include "camera_api/devices/owner_tracker.h"
#include "win32/critical_section.h"
#include "win32/unique_dev_info.h"
#include "win32/unique_handle.h"

namespace orvo {

class CZelCamera;
class CZelUsbCamera;

// Names of the objects shared by the processes of a logon session.
struct SessionObjectNames {
    const wchar_t* apiMutex = L"ORVO_API_MUTEX";
    const wchar_t* tableMutex = kSharedDeviceDataMutexName;
    const wchar_t* table = kSharedDeviceDataName;
};

// Wait limit of every sequence that takes the API mutex.
constexpr DWORD kApiMutexTimeoutMs = 10000;
constexpr UINT_PTR kOwnerCheckTimer = 1;
constexpr UINT kOwnerCheckPeriodMs = 500;
// How long an unload from another thread waits for the window's thread to
// leave the window's work (which gives up its waits once told to stop).
constexpr DWORD kWindowLeaveTimeoutMs = 3000;

// The interface classes scanned, in this order: the library's own driver,
// then the generic USB device class (cameras bound to WinUSB).
extern const GUID kDriverInterfaceClass;
extern const GUID kUsbDeviceInterfaceClass;

// The model code of a product id of the maker, or -1 for products not served.
int ModelForProductId(int productId) noexcept;

class CZelDeviceManager final : private CMessageWindow {
public:
    explicit CZelDeviceManager(const SessionObjectNames& names = SessionObjectNames{}) noexcept;
    ~CZelDeviceManager() override;

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
    // The process is ending: its other threads are gone, possibly inside a
    // camera's lock, so destruction must neither wait nor lock. Open cameras
    // are left to the system, which closes their handles.
    void AbandonAtProcessExit() noexcept { m_processEnding = true; }

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) noexcept override;
    void OnDeviceChange(WPARAM event, LPARAM data) noexcept;
    // Registers the cameras of one interface class; 0 when the API mutex was not had.
    int Scan(int classIndex) noexcept;
    void HandleRemoval(const wchar_t* path) noexcept;
    // True when some camera's owner or change counter moved since the last check.
    bool CheckOwners() noexcept;
    bool CreateWindowAndNotifications() noexcept;
    void SignalApiEvent() noexcept;
    bool Stopping() const noexcept;

    SessionObjectNames m_names;
    DeviceTables m_tables;
    win32::UniqueHandle m_apiMutex;
    std::atomic<HANDLE> m_apiEvent{nullptr};
    std::atomic<int> m_initialised{0};
    bool m_processEnding = false;
    // Set at unload: the window's work stops waiting and starts nothing new.
    win32::UniqueHandle m_stopping{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Each interface class's last enumeration: DeviceEntry.devInst names a
    // device in this process while its set lives.
    win32::UniqueDevInfo m_scanSets[2];

    win32::CriticalSection m_windowLock;   // the window and the notification registrations
    HDEVNOTIFY m_notifications[2] = {nullptr, nullptr};

    win32::CriticalSection m_listLock;     // the open cameras and the next handle
    std::list<std::unique_ptr<CZelUsbCamera>> m_cameras;
    int m_nextHandle = 1;

    OwnerTracker m_owners;                 // used on the window's thread only
    SystemProcessProbe m_probe;
};

// The library's single instance, constructed at load and destroyed at unload.
CZelDeviceManager& TheDeviceManager() noexcept;

}  // namespace orvo
