// The table of registered cameras shared by every process of the session: a
// count and up to 512 entries of CLSID, kind and device id, in a named
// mapping guarded by a named mutex. Another process writes it, so every read
// clamps the count to the capacity.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "win32/mapped_view.h"
#include "win32/unique_handle.h"

namespace orvo::capture {

#pragma pack(push, 1)
struct CameraTableEntry {
    GUID clsid;
    GUID kind;
    uint32_t deviceId;
};

constexpr int kCameraTableCapacity = 512;

struct CameraTable {
    int32_t count;
    CameraTableEntry entries[kCameraTableCapacity];
};
#pragma pack(pop)

static_assert(sizeof(CameraTableEntry) == 36, "CameraTableEntry is 36 bytes");
static_assert(offsetof(CameraTableEntry, kind) == 16 && offsetof(CameraTableEntry, deviceId) == 32,
              "CameraTableEntry field offsets");
static_assert(sizeof(CameraTable) == 18436, "CameraTable is 18436 bytes");
static_assert(offsetof(CameraTable, entries) == 4, "entries follow the count");

constexpr wchar_t kCameraTableMutexName[] = L"Kavrim_{94FCC833-C565-4939-8E81-FABC47B1FEC1}";
constexpr wchar_t kCameraTableMappingName[] = L"Kavrim_{D2E9CF2A-154C-48F0-B139-017ED4057D02}";
constexpr DWORD kCameraTableLockMs = 3000;

// Table operations on a table view. The count is untrusted: every operation
// works on the count clamped to 0..512.
int ClampedCount(const CameraTable& table) noexcept;
// Index of the first entry with this CLSID, or -1.
int FindEntry(const CameraTable& table, const GUID& clsid) noexcept;
// False when the table is full.
bool AddEntry(CameraTable& table, const CameraTableEntry& entry) noexcept;
// Removes the first entry with this CLSID; absent changes nothing.
void RemoveEntry(CameraTable& table, const GUID& clsid) noexcept;

// This process's handles on the shared table. Lock before every use.
class CCameraTableMap {
public:
    CCameraTableMap() noexcept;

    HANDLE Mutex() const noexcept { return m_mutex.get(); }
    bool IsMapped() const noexcept { return m_view.get() != nullptr; }
    // Maps the table (call under the table lock); S_OK when already mapped.
    HRESULT Map() noexcept;
    CameraTable* Table() const noexcept { return static_cast<CameraTable*>(m_view.get()); }
    void Flush() const noexcept;

private:
    win32::UniqueHandle m_mutex;
    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;
};

}  // namespace orvo::capture
