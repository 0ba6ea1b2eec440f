// The cameras this process found itself, with the process-local device-instance
// handle of each. Guarded by its own critical section.
#pragma once
#include <cstdint>

#include "camera_api/devices/device_record.h"
#include "win32/critical_section.h"

namespace orvo {

class LocalDeviceTable {
public:
    LocalDeviceTable() noexcept;

    // Makes the path present with that id and device-instance handle
    // (replacing another id of the same path).
    bool Add(const wchar_t* path, uint32_t devInst, int deviceId) noexcept;
    int IdForPath(const wchar_t* path) noexcept;
    bool DevInstForId(int deviceId, uint32_t* devInst) noexcept;
    bool GetSlot(int slot, wchar_t* path, size_t pathCapacity, int* deviceId) noexcept;
    int Count() noexcept;
    bool RemoveById(int deviceId) noexcept;
    // Copies the shared entries whose ids this process knows into the client's
    // array, in order, with this process's devInst; see the device list.
    int32_t FilterEntries(int capacity, int* written, DeviceEntry* client, const DeviceEntry* shared,
                          int sharedCount) noexcept;

private:
    struct Slot {
        wchar_t path[kPathChars];
        uint32_t devInst;
        int32_t deviceId;
    };

    int FindPath(const wchar_t* path, size_t length) const noexcept;
    int FindId(int deviceId) const noexcept;
    int RemoveIdLocked(int deviceId) noexcept;

    win32::CriticalSection m_lock;
    int m_count = 0;
    Slot m_slots[kMaxDevices];
};

}  // namespace orvo
