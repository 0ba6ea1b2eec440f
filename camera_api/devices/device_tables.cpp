#include "camera_api/devices/device_tables.h"

#include <memory>
#include <new>

namespace orvo {

bool DeviceTables::Register(const wchar_t* path, DeviceRecord& record) noexcept {
    if (!m_shared.Add(path, record)) return false;
    if (record.entry.deviceId == -1) {
        // Another process registered the path first: use its id.
        record.entry.deviceId = m_shared.IdForPath(path);
        if (record.entry.deviceId <= 0) return false;
    }
    if (m_local.Add(path, record.entry.devInst, record.entry.deviceId)) return true;
    m_shared.RemoveById(record.entry.deviceId);
    return false;
}

bool DeviceTables::IsKnown(const wchar_t* path) noexcept {
    return m_shared.IdForPath(path) > 0 && m_local.IdForPath(path) > 0;
}

bool DeviceTables::Lookup(int deviceId, wchar_t* path, size_t pathCapacity, DeviceRecord* record) noexcept {
    if (!record || !m_shared.GetById(deviceId, path, pathCapacity, record)) return false;
    uint32_t devInst = 0;
    if (!m_local.DevInstForId(deviceId, &devInst)) return false;
    record->entry.devInst = devInst;
    return true;
}

bool DeviceTables::Forget(int deviceId, bool* wasLocal) noexcept {
    const bool local = m_local.RemoveById(deviceId);
    if (wasLocal) *wasLocal = local;
    const bool shared = m_shared.RemoveById(deviceId);
    return local && shared;
}

int32_t DeviceTables::DeviceList(int capacity, DeviceEntry* entries, int* count) noexcept {
    if (!count) return ORVO_E_FAIL;
    const int sharedCount = m_shared.Count();
    if (sharedCount <= 0) return ORVO_E_NO_DEVICES;
    std::unique_ptr<DeviceEntry[]> shared(new (std::nothrow) DeviceEntry[sharedCount]);
    if (!shared) return ORVO_E_FAIL;
    int listed = 0;
    // Another process may add a device between the two reads: the list step
    // then answers ORVO_E_MORE_DATA for our array, which is still complete for
    // the devices counted, so only a real failure ends the call.
    const int32_t result = m_shared.ListEntries(sharedCount, shared.get(), &listed);
    if (result != ORVO_OK && result != ORVO_E_MORE_DATA) return result;
    return m_local.FilterEntries(capacity, count, entries, shared.get(), listed);
}

}  // namespace orvo
