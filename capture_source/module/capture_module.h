// CCaptureModule: the per-process state of the capture source. The table
// handles, the module lock and the cache of one filter per CLSID.
#pragma once
#include <windows.h>

#include <cstring>
#include <map>

#include "capture_source/module/camera_table.h"
#include "win32/critical_section.h"

namespace orvo::capture {

class CCameraFilter;

// Bytewise order of the 16 CLSID bytes.
struct ClsidLess {
    bool operator()(const CLSID& a, const CLSID& b) const noexcept { return std::memcmp(&a, &b, sizeof(CLSID)) < 0; }
};

class CCaptureModule {
public:
    CCaptureModule() noexcept = default;
    ~CCaptureModule();
    CCaptureModule(const CCaptureModule&) = delete;
    CCaptureModule& operator=(const CCaptureModule&) = delete;

    // The process's module object, built at load (see dll_main.cpp).
    static CCaptureModule& Instance() noexcept;
    // Tears it down when the DLL is unloaded by FreeLibrary. At process exit
    // it is left alone: other threads are gone and the loader lock is held.
    static void Destroy() noexcept;

    CCameraTableMap& Table() noexcept { return m_table; }
    win32::CriticalSection& Lock() noexcept { return m_lock; }

    // Under Lock(): the cached filter (with a new reference) or null.
    CCameraFilter* FindFilter(const CLSID& clsid) noexcept;
    // Under Lock(): caches the filter (taking a reference); false on failure.
    bool CacheFilter(const CLSID& clsid, CCameraFilter* filter) noexcept;

private:
    win32::CriticalSection m_lock;
    CCameraTableMap m_table;
    std::map<CLSID, CCameraFilter*, ClsidLess> m_filters;
};

}  // namespace orvo::capture
