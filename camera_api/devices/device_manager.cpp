#include "camera_api/devices/device_manager.h"

#include "camera_api/cameras/model_params.h"
#include "win32/mutex_lock.h"

namespace orvo {

using win32::CriticalSectionLock;
using win32::MutexLock;

CZelDeviceManager::CZelDeviceManager(const SessionObjectNames& names) noexcept
    : m_names(names), m_tables(names.tableMutex) {}

// An abandoned API mutex (a process died inside a table sequence) is taken as
// acquired: each table operation is atomic on its own and the table repairs
// itself, the dead process's local table died with it, and ownership it left
// behind is cleared by the owner check. Nothing is half-done that matters.
int CZelDeviceManager::Initialise() noexcept {
    if (IsInitialised()) return 1;
    // A table that cannot be opened makes the initialisation fail rather than
    // leave every later call working on nothing.
    bool ok = m_tables.OpenShared(m_names.table);
    if (!m_apiMutex) m_apiMutex.reset(::CreateMutexW(nullptr, FALSE, m_names.apiMutex));
    ok = ok && m_apiMutex;
    if (ok) m_initialised.store(1);
    return ok ? 1 : 0;
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
    {
        // Every open attempt past the argument checks uses up a handle number.
        CriticalSectionLock lock(m_listLock);
        ++m_nextHandle;
    }
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    wchar_t path[kPathChars];
    DeviceRecord record{};
    if (!m_tables.Lookup(deviceId, path, kPathChars, &record)) return ORVO_E_NOT_FOUND;
    if (record.entry.inUse != 0) return ORVO_E_IN_USE;
    // This build carries no USB transport: a registered device cannot be opened.
    return ORVO_E_OPEN_FAILED;
}

int32_t CZelDeviceManager::Close(int /*handle*/) noexcept {
    if (!IsInitialised()) return ORVO_E_FAIL;
    MutexLock api(m_apiMutex.get(), kApiMutexTimeoutMs);
    if (!api) return ORVO_E_FAIL;
    return ORVO_E_BAD_HANDLE;   // no camera has been opened by this process
}

CZelCamera* CZelDeviceManager::CameraFor(int /*handle*/) noexcept {
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
