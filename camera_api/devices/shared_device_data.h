// The cross-process device table: every camera that a process of the logon
// session found, its device id and its owner. Each operation is atomic under
// the table mutex; multi-step sequences are the caller's (the API mutex).
#pragma once
#include <cstdint>

#include "camera_api/devices/device_record.h"
#include "camera_api/devices/shared_memory_object.h"

namespace orvo {

constexpr const wchar_t* kSharedDeviceDataName = L"orvoApi_shared_device_data";
constexpr const wchar_t* kSharedDeviceDataMutexName = L"orvoApi_Protect_SharedMemory";

class CSharedDeviceData : public CSharedMemoryObject<SharedDeviceData> {
public:
    explicit CSharedDeviceData(const wchar_t* mutexName = kSharedDeviceDataMutexName) noexcept
        : CSharedMemoryObject(mutexName) {}

    // Adds the path with the record; the record's deviceId receives the new
    // id. A path already present succeeds unchanged (deviceId stays as passed).
    bool Add(const wchar_t* path, DeviceRecord& record) noexcept;
    // The id of the slot holding the path, or 0.
    int IdForPath(const wchar_t* path) noexcept;
    // Copies the path (pathCapacity >= kPathChars) and the record of the slot with that id.
    bool GetById(int deviceId, wchar_t* path, size_t pathCapacity, DeviceRecord* record) noexcept;
    // Entries (or whole records) of occupied slots in slot order, at most capacity.
    int32_t ListEntries(int capacity, DeviceEntry* entries, int* count) noexcept;
    int32_t SnapshotRecords(int capacity, DeviceRecord* records, int* count) noexcept;
    int Count() noexcept;
    bool RemoveById(int deviceId) noexcept;
    // Marks the camera opened (by this process) or closed; false when nothing changed.
    bool SetOwner(int deviceId, bool open) noexcept;

protected:
    void OnCreated(SharedDeviceData& data) noexcept override;
    void Validate(SharedDeviceData& data, bool abandoned) noexcept override;

private:
    template <class Item, class Copy>
    int32_t CopyOccupied(int capacity, Item* items, int* count, Copy copy) noexcept;
};

// Brings a table written by another process back to its invariants: paths
// terminated, count equal to the occupied slots, every occupied slot with a
// positive id, strings terminated and nextDeviceId above every id in use.
// Pure: no system calls, so it can be exercised on any bytes.
void RepairSharedDeviceData(SharedDeviceData& data) noexcept;

}  // namespace orvo
