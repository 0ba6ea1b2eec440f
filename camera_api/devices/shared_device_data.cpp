#include "camera_api/devices/shared_device_data.h"

#include <climits>
#include <cstring>

#include "camera_api/devices/device_path.h"

namespace orvo {
namespace {

bool SlotOccupied(const SharedDeviceData& data, int slot) noexcept {
    return data.paths[slot][0] != L'\0';
}

// Slot holding the path, or -1. Stored paths are read within their buffers.
int FindPath(const SharedDeviceData& data, const wchar_t* path) noexcept {
    const size_t length = BoundedPathLength(path, kPathChars);
    if (length == 0 || length > kMaxPathLength) return -1;
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        const wchar_t* stored = data.paths[slot];
        if (SamePath(stored, BoundedPathLength(stored, kPathChars), path, length)) return slot;
    }
    return -1;
}

int FindId(const SharedDeviceData& data, int deviceId) noexcept {
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        if (SlotOccupied(data, slot) && data.records[slot].entry.deviceId == deviceId) return slot;
    }
    return -1;
}

void ClearSlot(SharedDeviceData& data, int slot) noexcept {
    data.paths[slot][0] = L'\0';
    data.records[slot].entry.deviceId = -1;
    data.records[slot].entry.inUse = 0;
}

template <class T>
void SetIfDifferent(T& field, T value) noexcept {
    if (field != value) field = value;   // leaves clean pages clean
}

}  // namespace

void RepairSharedDeviceData(SharedDeviceData& data) noexcept {
    int occupied = 0;
    int32_t highestId = 0;
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        SetIfDifferent(data.paths[slot][kMaxPathLength], L'\0');
        if (!SlotOccupied(data, slot)) continue;
        DeviceEntry& entry = data.records[slot].entry;
        if (entry.deviceId <= 0) {
            // No operation can address a slot without a valid id: free it, the
            // next scan registers the device again.
            ClearSlot(data, slot);
            continue;
        }
        ++occupied;
        if (entry.deviceId > highestId) highestId = entry.deviceId;
        SetIfDifferent(entry.inUse, entry.inUse != 0 ? 1 : 0);
        SetIfDifferent(entry.product[31], L'\0');
        SetIfDifferent(entry.serialNumber[15], L'\0');
    }
    SetIfDifferent(data.count, static_cast<int32_t>(occupied));
    if (data.nextDeviceId <= highestId || data.nextDeviceId < 1) {
        data.nextDeviceId = highestId == INT32_MAX ? INT32_MAX : highestId + 1;
    }
}

void CSharedDeviceData::OnCreated(SharedDeviceData& data) noexcept {
    data.nextDeviceId = 1;
}

// Every process that maps the table can write it, and one may have died in
// the middle of an update (abandoned mutex): the invariants are re-established
// before each operation, so an abandoned mutex needs nothing more.
void CSharedDeviceData::Validate(SharedDeviceData& data, bool /*abandoned*/) noexcept {
    RepairSharedDeviceData(data);
}

bool CSharedDeviceData::Add(const wchar_t* path, DeviceRecord& record) noexcept {
    Access table(*this);
    if (!table) return false;
    if (IdForPath(path) != 0) return true;

    const size_t length = BoundedPathLength(path, kPathChars);
    if (table->count > kMaxDevices - 1 || length == 0 || length > kMaxPathLength) return false;
    // Ids are never reused; when they run out no device can be added.
    if (table->nextDeviceId == INT32_MAX) return false;
    int slot = 0;
    while (slot < kMaxDevices && SlotOccupied(*table, slot)) ++slot;
    if (slot == kMaxDevices) return false;

    record.entry.deviceId = table->nextDeviceId++;
    std::memcpy(table->paths[slot], path, (length + 1) * sizeof(wchar_t));
    table->records[slot] = record;
    ++table->count;
    return true;
}

int CSharedDeviceData::IdForPath(const wchar_t* path) noexcept {
    Access table(*this);
    if (!table) return 0;
    const int slot = FindPath(*table, path);
    return slot < 0 ? 0 : table->records[slot].entry.deviceId;
}

bool CSharedDeviceData::GetById(int deviceId, wchar_t* path, size_t pathCapacity,
                                DeviceRecord* record) noexcept {
    if (!path || pathCapacity < kPathChars || !record) return false;
    Access table(*this);
    if (!table) return false;
    const int slot = FindId(*table, deviceId);
    if (slot < 0) return false;
    std::memcpy(path, table->paths[slot], kPathChars * sizeof(wchar_t));
    *record = table->records[slot];
    return true;
}

template <class Item, class Copy>
int32_t CSharedDeviceData::CopyOccupied(int capacity, Item* items, int* count, Copy copy) noexcept {
    if (!items || !count) return ORVO_E_FAIL;
    Access table(*this);
    if (!table) return ORVO_E_FAIL;
    if (table->count == 0) return ORVO_E_NO_DEVICES;
    int copied = 0;
    for (int slot = 0; slot < kMaxDevices && copied < capacity; ++slot) {
        if (SlotOccupied(*table, slot)) items[copied++] = copy(table->records[slot]);
    }
    *count = copied;
    return capacity < table->count ? ORVO_E_MORE_DATA : ORVO_OK;
}

int32_t CSharedDeviceData::ListEntries(int capacity, DeviceEntry* entries, int* count) noexcept {
    return CopyOccupied(capacity, entries, count, [](const DeviceRecord& r) { return r.entry; });
}

int32_t CSharedDeviceData::SnapshotRecords(int capacity, DeviceRecord* records, int* count) noexcept {
    return CopyOccupied(capacity, records, count, [](const DeviceRecord& r) { return r; });
}

int CSharedDeviceData::Count() noexcept {
    Access table(*this);
    return table ? table->count : 0;
}

bool CSharedDeviceData::RemoveById(int deviceId) noexcept {
    if (deviceId == -1) return false;
    Access table(*this);
    if (!table) return false;
    bool removed = false;
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        if (SlotOccupied(*table, slot) && table->records[slot].entry.deviceId == deviceId) {
            ClearSlot(*table, slot);
            --table->count;
            removed = true;
        }
    }
    return removed;
}

bool CSharedDeviceData::SetOwner(int deviceId, bool open) noexcept {
    if (deviceId == -1) return false;
    Access table(*this);
    if (!table) return false;
    const int slot = FindId(*table, deviceId);
    if (slot < 0) return false;
    DeviceRecord& record = table->records[slot];
    const int32_t flag = open ? 1 : 0;
    if (record.entry.inUse == flag) return false;
    record.entry.inUse = flag;
    record.ownerProcessId = open ? static_cast<int32_t>(::GetCurrentProcessId()) : 0;
    // Other processes only compare it for change: let it wrap, without signed overflow.
    record.changeCounter = static_cast<int32_t>(static_cast<uint32_t>(record.changeCounter) + 1u);
    return true;
}

}  // namespace orvo
