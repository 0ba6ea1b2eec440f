#include "camera_api/devices/local_device_table.h"

#include <cstring>

#include "camera_api/devices/device_path.h"

namespace orvo {

using win32::CriticalSectionLock;

LocalDeviceTable::LocalDeviceTable() noexcept {
    std::memset(m_slots, 0, sizeof(m_slots));
}

int LocalDeviceTable::FindPath(const wchar_t* path, size_t length) const noexcept {
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        const wchar_t* stored = m_slots[slot].path;
        if (stored[0] != L'\0' && SamePath(stored, std::wcslen(stored), path, length)) return slot;
    }
    return -1;
}

int LocalDeviceTable::FindId(int deviceId) const noexcept {
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        if (m_slots[slot].path[0] != L'\0' && m_slots[slot].deviceId == deviceId) return slot;
    }
    return -1;
}

int LocalDeviceTable::RemoveIdLocked(int deviceId) noexcept {
    int removed = 0;
    for (Slot& slot : m_slots) {
        if (slot.path[0] != L'\0' && slot.deviceId == deviceId) {
            slot = Slot{};
            --m_count;
            ++removed;
        }
    }
    return removed;
}

bool LocalDeviceTable::Add(const wchar_t* path, uint32_t devInst, int deviceId) noexcept {
    const size_t length = BoundedPathLength(path, kPathChars);
    if (length == 0 || length > kMaxPathLength) return false;
    CriticalSectionLock lock(m_lock);
    const int existing = FindPath(path, length);
    if (existing >= 0) {
        if (m_slots[existing].deviceId == deviceId) {
            m_slots[existing].devInst = devInst;
            return true;
        }
        RemoveIdLocked(m_slots[existing].deviceId);
    }
    if (m_count >= kMaxDevices) return false;
    for (Slot& slot : m_slots) {
        if (slot.path[0] != L'\0') continue;
        std::memcpy(slot.path, path, (length + 1) * sizeof(wchar_t));
        slot.devInst = devInst;
        slot.deviceId = deviceId;
        ++m_count;
        return true;
    }
    return false;
}

int LocalDeviceTable::IdForPath(const wchar_t* path) noexcept {
    const size_t length = BoundedPathLength(path, kPathChars);
    if (length == 0 || length > kMaxPathLength) return 0;
    CriticalSectionLock lock(m_lock);
    const int slot = FindPath(path, length);
    return slot < 0 ? 0 : m_slots[slot].deviceId;
}

bool LocalDeviceTable::DevInstForId(int deviceId, uint32_t* devInst) noexcept {
    if (!devInst) return false;
    CriticalSectionLock lock(m_lock);
    const int slot = FindId(deviceId);
    if (slot < 0) return false;
    *devInst = m_slots[slot].devInst;
    return true;
}

bool LocalDeviceTable::GetSlot(int slot, wchar_t* path, size_t pathCapacity, int* deviceId) noexcept {
    if (slot < 0 || slot >= kMaxDevices || !path || pathCapacity < kPathChars || !deviceId) return false;
    CriticalSectionLock lock(m_lock);
    if (m_count == 0 || m_slots[slot].path[0] == L'\0') return false;
    std::memcpy(path, m_slots[slot].path, sizeof(m_slots[slot].path));
    *deviceId = m_slots[slot].deviceId;
    return true;
}

int LocalDeviceTable::Count() noexcept {
    CriticalSectionLock lock(m_lock);
    return m_count;
}

bool LocalDeviceTable::RemoveById(int deviceId) noexcept {
    if (deviceId == -1) return false;
    CriticalSectionLock lock(m_lock);
    return RemoveIdLocked(deviceId) > 0;
}

int32_t LocalDeviceTable::FilterEntries(int capacity, int* written, DeviceEntry* client,
                                        const DeviceEntry* shared, int sharedCount) noexcept {
    if (!written) return ORVO_E_FAIL;
    *written = 0;
    if (!client || capacity <= 0 || !shared || sharedCount <= 0) return ORVO_E_UNSUPPORTED;
    CriticalSectionLock lock(m_lock);
    if (m_count == 0) return ORVO_E_NO_DEVICES;

    int copied = 0;
    int examined = 0;
    for (; examined < sharedCount && copied < capacity; ++examined) {
        const int slot = FindId(shared[examined].deviceId);
        if (slot < 0) continue;
        client[copied] = shared[examined];
        client[copied].devInst = m_slots[slot].devInst;
        ++copied;
    }
    *written = copied;
    if (examined == sharedCount) return ORVO_OK;
    return copied < m_count ? ORVO_E_MORE_DATA : ORVO_OK;
}

}  // namespace orvo
