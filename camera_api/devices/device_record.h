// Records of the cross-process device table. Processes of both bitnesses map
// the same bytes, so every offset is fixed and checked here.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "camera_api/api/orvo_api.h"

namespace orvo {

constexpr int kMaxDevices = 8;
constexpr size_t kPathChars = 261;          // wchar count of a stored path, terminator included
constexpr size_t kMaxPathLength = kPathChars - 1;

constexpr int kTransportDriver = 0;         // found through the driver's interface class
constexpr int kTransportWinUsb = 1;         // found through the generic USB interface class

struct DeviceRecord {
    DeviceEntry entry;
    int32_t ownerProcessId;   // process that has the camera open; 0 when none
    int32_t changeCounter;    // incremented on every change of ownership
    int32_t transport;        // kTransportDriver or kTransportWinUsb
};

struct SharedDeviceData {
    int32_t count;                          // occupied slots, 0..8
    int32_t nextDeviceId;                   // 1 at creation; never reused
    wchar_t paths[kMaxDevices][kPathChars]; // empty path = free slot
    DeviceRecord records[kMaxDevices];      // records[i] belongs to paths[i]
};

static_assert(sizeof(DeviceRecord) == 132, "DeviceRecord layout");
static_assert(offsetof(DeviceRecord, entry) == 0, "DeviceRecord layout");
static_assert(offsetof(DeviceRecord, ownerProcessId) == 120, "DeviceRecord layout");
static_assert(offsetof(DeviceRecord, changeCounter) == 124, "DeviceRecord layout");
static_assert(offsetof(DeviceRecord, transport) == 128, "DeviceRecord layout");
static_assert(sizeof(SharedDeviceData) == 5240, "SharedDeviceData layout");
static_assert(offsetof(SharedDeviceData, count) == 0, "SharedDeviceData layout");
static_assert(offsetof(SharedDeviceData, nextDeviceId) == 4, "SharedDeviceData layout");
static_assert(offsetof(SharedDeviceData, paths) == 8, "SharedDeviceData layout");
static_assert(offsetof(SharedDeviceData, records) == 4184, "SharedDeviceData layout");

}  // namespace orvo
