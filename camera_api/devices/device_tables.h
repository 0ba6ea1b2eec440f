// The two device tables as the device manager uses them: the cross-process
// table and this process's own. Callers hold the API mutex around each call
// that spans both.
#pragma once
#include <cstdint>

#include "camera_api/devices/local_device_table.h"
#include "camera_api/devices/shared_device_data.h"

namespace orvo {

class DeviceTables {
public:
    explicit DeviceTables(const wchar_t* tableMutexName = kSharedDeviceDataMutexName) noexcept
        : m_shared(tableMutexName) {}

    bool OpenShared(const wchar_t* mappingName = kSharedDeviceDataName) noexcept {
        return m_shared.Open(mappingName);
    }
    bool SharedIsOpen() const noexcept { return m_shared.IsOpen(); }

    // Enters the device in both tables; record.entry.deviceId receives its id.
    bool Register(const wchar_t* path, DeviceRecord& record) noexcept;
    bool IsKnown(const wchar_t* path) noexcept;
    // Gives a device this process knows the handle of a newer enumeration.
    void RefreshDevInst(const wchar_t* path, uint32_t devInst) noexcept {
        const int deviceId = m_local.IdForPath(path);
        if (deviceId > 0) m_local.Add(path, devInst, deviceId);
    }
    // The shared record with this process's devInst, and the device's path.
    bool Lookup(int deviceId, wchar_t* path, size_t pathCapacity, DeviceRecord* record) noexcept;
    // Removes the device from both tables; true when both held it. wasLocal
    // tells whether this process's table held it.
    bool Forget(int deviceId, bool* wasLocal = nullptr) noexcept;
    bool SetOwner(int deviceId, bool open) noexcept { return m_shared.SetOwner(deviceId, open); }
    // The body of orvo_GetDeviceList: the shared entries this process found.
    int32_t DeviceList(int capacity, DeviceEntry* entries, int* count) noexcept;
    int32_t SnapshotRecords(int capacity, DeviceRecord* records, int* count) noexcept {
        return m_shared.SnapshotRecords(capacity, records, count);
    }
    int SharedCount() noexcept { return m_shared.Count(); }
    int LocalCount() noexcept { return m_local.Count(); }
    // Slot access for removal handling, which matches paths in this process's table.
    bool LocalSlot(int slot, wchar_t* path, size_t pathCapacity, int* deviceId) noexcept {
        return m_local.GetSlot(slot, path, pathCapacity, deviceId);
    }

private:
    CSharedDeviceData m_shared;
    LocalDeviceTable m_local;
};

}  // namespace orvo
