#include "capture_source/module/camera_table.h"

#include <cstring>

#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {

int ClampedCount(const CameraTable& table) noexcept {
    const int32_t count = table.count;
    if (count < 0) return 0;
    return count > kCameraTableCapacity ? kCameraTableCapacity : count;
}

int FindEntry(const CameraTable& table, const GUID& clsid) noexcept {
    const int count = ClampedCount(table);
    for (int i = 0; i < count; ++i) {
        if (std::memcmp(&table.entries[i].clsid, &clsid, sizeof(GUID)) == 0) return i;
    }
    return -1;
}

bool AddEntry(CameraTable& table, const CameraTableEntry& entry) noexcept {
    const int count = ClampedCount(table);
    if (count >= kCameraTableCapacity) return false;
    table.entries[count] = entry;
    table.count = count + 1;
    return true;
}

void RemoveEntry(CameraTable& table, const GUID& clsid) noexcept {
    const int index = FindEntry(table, clsid);
    if (index < 0) return;
    const int count = ClampedCount(table);
    std::memmove(&table.entries[index], &table.entries[index + 1],
                 size_t(count - index - 1) * sizeof(CameraTableEntry));
    table.count = count - 1;
}

CCameraTableMap::CCameraTableMap() noexcept : m_mutex(::CreateMutexW(nullptr, FALSE, kCameraTableMutexName)) {}

HRESULT CCameraTableMap::Map() noexcept {
    if (m_view) return S_OK;
    // Not executable: the table holds data only.
    win32::UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                     sizeof(CameraTable), kCameraTableMappingName));
    const DWORD created = ::GetLastError();
    if (!mapping) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableCreate, created);
        return kErrTableCreate;
    }
    void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CameraTable));
    if (!view) {
        const DWORD error = ::GetLastError();
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, kErrTableMapView, error);
        return kErrTableMapView;
    }
    m_mapping = std::move(mapping);
    m_view.reset(view);
    if (created != ERROR_ALREADY_EXISTS) Table()->count = 0;
    return S_OK;
}

void CCameraTableMap::Flush() const noexcept {
    if (m_view) ::FlushViewOfFile(m_view.get(), sizeof(CameraTable));
}

}  // namespace orvo::capture
