#include "camera_api/devices/device_manager.h"

#include <dbt.h>
#include <cstdio>
#include <cwchar>
#include <new>

#include "camera_api/cameras/model_params.h"
#include "camera_api/cameras/zel_usb_camera.h"
#include "camera_api/devices/device_path.h"
#include "camera_api/transport/usb_enumerator.h"
#include "win32/mutex_lock.h"

namespace orvo {

using win32::CriticalSectionLock;
using win32::MutexLock;

const GUID kDriverInterfaceClass = {0x57636BB2, 0x4BD1, 0x46FE, {0xAA, 0xA7, 0x8B, 0x42, 0x7E, 0x51, 0xD4, 0x25}};
const GUID kUsbDeviceInterfaceClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace {

const GUID* const kInterfaceClasses[2] = {&kDriverInterfaceClass, &kUsbDeviceInterfaceClass};

}  // namespace

int ModelForProductId(int productId) noexcept {
    switch (productId) {
    case 0x308: case 0x309: case 0x30A: case 0x30B: case 0x30D: return 0;
    case 0x310: return 2;
    case 0x311: return 4;
    case 0x312: return 3;
    case 0x317: return 9;
    case 0x319: return 7;
    case 0x31A: return 8;
    case 0x31B: return 10;
    case 0x401: return 6;
    case 0x403: return 5;
    case 0x405: return 11;
    case 0x409: return 12;
    default: return -1;   // 0x30C among them: known, but never served
    }
}

CZelDeviceManager::CZelDeviceManager(const SessionObjectNames& names) noexcept
    : m_names(names), m_tables(names.tableMutex) {}

CZelDeviceManager::~CZelDeviceManager() {
    if (m_processEnding) {
        for (auto& camera : m_cameras) static_cast<void>(camera.release());
        AbandonHidden();
        for (auto& set : m_scanSets) static_cast<void>(set.release());
        return;
    }
    if (m_stopping) ::SetEvent(m_stopping.get());
    {
        CriticalSectionLock lock(m_windowLock);
        for (HDEVNOTIFY& notification : m_notifications) {
            if (notification) ::UnregisterDeviceNotification(notification);
            notification = nullptr;
        }
        if (Window()) ::KillTimer(Window(), kOwnerCheckTimer);
    }
    // Unloading may happen on any thread: the window's thread may be inside
    // the window's work right now, and must be out of this module before it
    // is unmapped. Outside the window lock, which that work may still take.
    DestroyHidden(kWindowLeaveTimeoutMs);
    m_apiMutex.reset();
    // Ownership of cameras still open stays in the shared table: other
    // processes' owner checks clear it once this process has ended.
    CriticalSectionLock lock(m_listLock);
    m_cameras.clear();
}

bool CZelDeviceManager::Stopping() const noexcept {
    return m_stopping && ::WaitForSingleObject(m_stopping.get(), 0) == WAIT_OBJECT_0;
}

void CZelDeviceManager::SignalApiEvent() noexcept {
    if (HANDLE event = m_apiEvent.load()) ::SetEvent(event);
}

// An abandoned API mutex (a process died inside a table sequence) is taken as
// acquired: each table operation is atomic on its own and the table repairs
// itself, the dead process's own table died with it, and ownership it left
// behind is cleared by the owner check. Nothing half-done remains that matters.
int CZelDeviceManager::Initialise() noexcept {
    if (IsInitialised()) return 1;
    // A table that cannot be opened makes the initialisation fail rather than
    // leave every later call working on nothing.
    const bool tableOpen = m_tables.OpenShared(m_names.table);
    if (!m_apiMutex) m_apiMutex.reset(::CreateMutexW(nullptr, FALSE, m_names.apiMutex));
    int initialised = 0;
    if (tableOpen && m_apiMutex) {
        if (Scan(0)) initialised = 1;
        if (Scan(1)) initialised = 1;
    }
    {
        CriticalSectionLock lock(m_windowLock);
        if (!CreateWindowAndNotifications()) initialised = 0;
        if (Window()) ::SetTimer(Window(), kOwnerCheckTimer, kOwnerCheckPeriodMs, nullptr);
    }
    if (initialised) m_initialised.store(1);
    return initialised;
}

bool CZelDeviceManager::CreateWindowAndNotifications() noexcept {
    if (!CreateHidden(L"ORVO_API")) return false;
    for (int i = 0; i < 2; ++i) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = *kInterfaceClasses[i];
        if (m_notifications[i]) ::UnregisterDeviceNotification(m_notifications[i]);
        m_notifications[i] = ::RegisterDeviceNotificationW(Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    return true;
}

int CZelDeviceManager::Scan(int classIndex) noexcept {
    bool changed = false;
    {
        MutexLock api(m_apiMutex.get(), m_stopping.get(), kApiMutexTimeoutMs);
        if (!api) return 0;
        if (m_tables.SharedCount() >= kMaxDevices) return 1;
        CUsbEnumerator enumerator;
        if (enumerator.Begin(kInterfaceClasses[classIndex])) {
            wchar_t path[kPathChars];
            DWORD devInst = 0;
            while (enumerator.Next(kMaxPathLength, &devInst, path)) {
                if (m_tables.IsKnown(path)) {
                    m_tables.RefreshDevInst(path, devInst);
                    changed = true;
                    continue;
                }
                if (!enumerator.CreateDevice()) continue;
                if (enumerator.GetVendorId() != ORVO_VENDOR_ID) continue;
                const int model = ModelForProductId(enumerator.GetProductId());
                if (model < 0) continue;
                DeviceRecord record{};
                record.entry.deviceId = -1;
                record.entry.model = model;
                record.entry.releaseMajor = enumerator.GetReleaseMajor();
                record.entry.releaseMinor = enumerator.GetReleaseMinor();
                enumerator.GetProductString(32, record.entry.product);
                enumerator.GetSerialNumber(16, record.entry.serialNumber);
                record.entry.product[31] = L'\0';
                record.entry.serialNumber[15] = L'\0';
                record.entry.devInst = devInst;
                record.transport = classIndex == 1 ? kTransportWinUsb : kTransportDriver;
                if (m_tables.Register(path, record)) changed = true;
            }
            // The handles just stored stay valid until the next scan of this
            // class refreshes them (Wine frees them with their set).
            m_scanSets[classIndex] = enumerator.TakeSet();
        }
    }
    if (changed) SignalApiEvent();
    return 1;
}

bool CZelDeviceManager::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) noexcept {
    if (Stopping()) return false;
    switch (message) {
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        result = 0;
        return true;
    case WM_TIMER:
        if (wParam != kOwnerCheckTimer) return false;
        Initialise();
        if (CheckOwners()) SignalApiEvent();
        result = 0;
        return true;
    default:
        return false;
    }
}

void CZelDeviceManager::OnDeviceChange(WPARAM event, LPARAM data) noexcept {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    // The broadcast comes from another process: read the name only within
    // the size it declares, and terminate our copy.
    constexpr size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size <= kNameOffset) return;
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const size_t declared = (header->dbch_size - kNameOffset) / sizeof(wchar_t);
    wchar_t path[kPathChars];
    const size_t length = ::wcsnlen(broadcast->dbcc_name, declared < kMaxPathLength ? declared : kMaxPathLength);
    std::wmemcpy(path, broadcast->dbcc_name, length);
    path[length] = L'\0';

    wchar_t vendor[16];
    std::swprintf(vendor, 16, L"VID_%04X", static_cast<unsigned>(ORVO_VENDOR_ID));
    if (!std::wcsstr(path, vendor)) return;
    if (event == DBT_DEVICEARRIVAL) {
        Scan(0);
        Scan(1);
    } else {
        HandleRemoval(path);
    }
}

void CZelDeviceManager::HandleRemoval(const wchar_t* path) noexcept {
    {
        MutexLock api(m_apiMutex.get(), m_stopping.get(), kApiMutexTimeoutMs);
        if (!api) return;
        const size_t pathLength = BoundedPathLength(path, kPathChars);
        for (int slot = 0; slot < kMaxDevices && m_tables.LocalCount() > 0; ++slot) {
            wchar_t known[kPathChars];
            int deviceId = 0;
            if (!m_tables.LocalSlot(slot, known, kPathChars, &deviceId)) continue;
            if (!SamePath(known, std::wcslen(known), path, pathLength)) continue;
            // The shared entry may be gone already (another process handled
            // the same removal first); a camera this process has open must
            // hear of it all the same.
            bool wasLocal = false;
            m_tables.Forget(deviceId, &wasLocal);
            if (wasLocal) {
                CriticalSectionLock lock(m_listLock);
                for (auto& holder : m_cameras) {
                    if (holder->DeviceId() == deviceId) holder->DeviceGone();
                }
            }
            break;
        }
    }
    SignalApiEvent();
}

bool CZelDeviceManager::CheckOwners() noexcept {
    int present = 0;
    {
        MutexLock api(m_apiMutex.get(), m_stopping.get(), kApiMutexTimeoutMs);
        if (!api) return false;
        present = m_tables.SharedCount();
    }
    DeviceRecord records[kMaxDevices];
    int count = 0;
    {
        MutexLock api(m_apiMutex.get(), m_stopping.get(), kApiMutexTimeoutMs);
        if (!api) return false;
        if (m_tables.SnapshotRecords(present, records, &count) != ORVO_OK) return false;
    }
    return m_owners.Update(records, count, ::GetCurrentProcessId(), m_probe,
                           [this](int deviceId) { m_tables.SetOwner(deviceId, false); });
}

int32_t CZelDeviceManager::DeviceCount(int* count) noexcept {
    if (!count) return ORVO_E_FAIL;
    *count = 0;
    Initialise();
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    *count = m_tables.LocalCount();
    return ORVO_OK;
}

int32_t CZelDeviceManager::DeviceList(int capacity, DeviceEntry* entries, int* count) noexcept {
    if (!count) return ORVO_E_FAIL;
    if (!Initialise()) return ORVO_E_FAIL;
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    return m_tables.DeviceList(capacity, entries, count);
}

int32_t CZelDeviceManager::SetApiEvent(int which, HANDLE event) noexcept {
    const bool initialised = Initialise() != 0;
    if (which != 0) return ORVO_E_BAD_INDEX;
    if (!initialised) return ORVO_E_FAIL;
    m_apiEvent.store(event);
    return ORVO_OK;
}

int32_t CZelDeviceManager::Open(int deviceId, int* handle) noexcept {
    if (!IsInitialised()) return ORVO_E_NOT_FOUND;
    if (!handle) return ORVO_E_UNSUPPORTED;
    *handle = 0;
    int newHandle = 0;
    {
        // Every open attempt past the argument checks uses up a handle number.
        CriticalSectionLock lock(m_listLock);
        newHandle = m_nextHandle++;
    }
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    std::unique_ptr<CZelUsbCamera> holder(new (std::nothrow) CZelUsbCamera());
    if (!holder) return ORVO_E_OUT_OF_MEMORY;
    wchar_t path[kPathChars];
    DeviceRecord record{};
    if (!m_tables.Lookup(deviceId, path, kPathChars, &record)) return ORVO_E_NOT_FOUND;
    if (record.entry.inUse != 0) return ORVO_E_IN_USE;
    if (!holder->OpenDevice(path, record)) return ORVO_E_OPEN_FAILED;
    if (!holder->CreateCamera(newHandle, record)) return ORVO_E_OUT_OF_MEMORY;
    if (!m_tables.SetOwner(deviceId, true)) return ORVO_E_NOT_FOUND;
    {
        CriticalSectionLock lock(m_listLock);
        m_cameras.push_back(std::move(holder));
    }
    *handle = newHandle;
    return ORVO_OK;
}

int32_t CZelDeviceManager::Close(int handle) noexcept {
    if (!IsInitialised()) return ORVO_E_FAIL;
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    std::list<std::unique_ptr<CZelUsbCamera>> closing;
    {
        CriticalSectionLock lock(m_listLock);
        for (auto it = m_cameras.begin(); it != m_cameras.end();) {
            auto next = std::next(it);
            if ((*it)->Handle() == handle) closing.splice(closing.end(), m_cameras, it);
            it = next;
        }
    }
    if (closing.empty()) return ORVO_E_BAD_HANDLE;
    const int deviceId = closing.front()->DeviceId();
    closing.clear();   // stops the camera's threads outside the list lock
    if (deviceId == -1) {
        SignalApiEvent();   // unplugged while open: its table entries are gone already
        return ORVO_OK;
    }
    return m_tables.SetOwner(deviceId, false) ? ORVO_OK : ORVO_E_NOT_FOUND;
}

CZelCamera* CZelDeviceManager::CameraFor(int handle) noexcept {
    CriticalSectionLock lock(m_listLock);
    for (auto& holder : m_cameras) {
        if (CZelCamera* camera = holder->CameraFor(handle)) return camera;
    }
    return nullptr;
}

int32_t CZelDeviceManager::IsParamSupported(int deviceId, int paramId) noexcept {
    if (!IsInitialised()) return ORVO_E_FAIL;
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    wchar_t path[kPathChars];
    DeviceRecord record{};
    if (!m_tables.Lookup(deviceId, path, kPathChars, &record)) return ORVO_E_NOT_FOUND;
    return ModelSupportsParam(record.entry.model, paramId) ? ORVO_OK : ORVO_E_UNSUPPORTED;
}

}  // namespace orvo
