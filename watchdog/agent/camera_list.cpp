#include "watchdog/agent/camera_list.h"

#include <dbt.h>
#include <objbase.h>
#include <algorithm>
#include <cwchar>

#include "watchdog/agent/bookkeeping.h"
#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"
#include "win32/unique_handle.h"

namespace orvo::watchdog {
namespace {

constexpr DWORD kBroadcastTimeoutMs = 1000;

// A mutex held for a scope: the clean-up of one session at a time.
class HeldMutex {
public:
    explicit HeldMutex(HANDLE mutex) noexcept : m_mutex(mutex) {
        const DWORD woke = ::WaitForSingleObject(mutex, INFINITE);
        m_held = woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED;
    }
    ~HeldMutex() {
        if (m_held) ::ReleaseMutex(m_mutex);
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;
    bool held() const noexcept { return m_held; }

private:
    HANDLE m_mutex;
    bool m_held = false;
};

}  // namespace

const GUID& CameraKindOf(int32_t model) noexcept { return IsCedarModel(model) ? kKindCedar : kKindGeneral; }

std::wstring ProductName(const DeviceEntry& entry) {
    const size_t capacity = sizeof(entry.product) / sizeof(entry.product[0]);
    return std::wstring(entry.product, wcsnlen(entry.product, capacity));
}

void BroadcastDeviceChange(WPARAM event) noexcept {
    DEV_BROADCAST_DEVICEINTERFACE_W record{};
    record.dbcc_size = sizeof(record);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = kMediaClass;
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record),
                          SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG, kBroadcastTimeoutMs, nullptr);
}

bool CameraList::ReadDeviceList(std::vector<DeviceEntry>& entries) noexcept {
    int count = 0;
    int32_t result = m_library.GetNumDevices(&count);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return false;
    }
    entries.clear();
    if (count < 1) return true;
    try {
        entries.resize(static_cast<size_t>(count));
    } catch (...) {
        WD_TRACE_ERROR(static_cast<uint64_t>(count) * sizeof(DeviceEntry));
        return false;
    }
    result = m_library.GetDeviceList(static_cast<uint32_t>(entries.size() * sizeof(DeviceEntry)), entries.data(),
                                     &count);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return false;
    }
    // The list may have shrunk meanwhile; it never grows past the buffer.
    entries.resize(std::min(entries.size(), static_cast<size_t>(std::max(count, 0))));
    return true;
}

bool CameraList::RegisterRecord(CameraRecord& record) noexcept {
    HRESULT hr = ::CoCreateGuid(&record.clsid);
    if (FAILED(hr)) {
        WD_TRACE_ERROR(hr, record.deviceId);
        return false;
    }
    hr = WriteBookkeeping(record.clsid, true);
    if (FAILED(hr)) {
        WD_TRACE_ERROR(hr, record.deviceId);
        return false;
    }
    hr = m_captureSource.RegisterCamera(&record.clsid, &record.kind, static_cast<UINT32>(record.deviceId),
                                        record.name.c_str());
    if (FAILED(hr)) {
        WD_TRACE_ERROR(hr, record.deviceId);
        WriteBookkeeping(record.clsid, false);
        return false;
    }
    hr = record.feeder.Start(record.name, record.kind, record.deviceId, record.deviceInstance);
    if (FAILED(hr)) WD_TRACE_WARNING(hr, record.deviceId);
    return true;
}

void CameraList::Scan() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    std::vector<DeviceEntry> entries;
    if (!ReadDeviceList(entries)) return;

    bool wantArrival = false, wantRemoval = false;
    for (auto& record : m_cameras) {
        auto entry = std::find_if(entries.begin(), entries.end(),
                                  [&](const DeviceEntry& e) { return e.deviceId == record->deviceId; });
        if (entry == entries.end()) {
            record->state = CameraState::Gone;
            continue;
        }
        const bool inUse = entry->inUse != 0;
        if (record->inUse && !inUse) wantArrival = true;
        if (!record->inUse && inUse) wantRemoval = true;
        record->inUse = inUse;
    }

    for (const DeviceEntry& entry : entries) {
        const bool known = std::any_of(m_cameras.begin(), m_cameras.end(),
                                       [&](const auto& r) { return r->deviceId == entry.deviceId; });
        if (known) continue;
        try {
            auto record = std::make_unique<CameraRecord>();
            record->deviceId = entry.deviceId;
            record->kind = CameraKindOf(entry.model);
            record->name = ProductName(entry);
            const int number = ++m_modelCounters[entry.model];
            if (number > 1) record->name += L" " + std::to_wstring(number);
            record->model = entry.model;
            record->deviceInstance = entry.devInst;
            record->inUse = entry.inUse != 0;
            record->state = CameraState::New;
            m_cameras.push_back(std::move(record));
        } catch (...) {
            WD_TRACE_ERROR(entry.deviceId);
            break;
        }
    }

    std::vector<std::unique_ptr<CameraRecord>> kept;
    kept.reserve(m_cameras.size());
    for (auto& record : m_cameras) {
        switch (record->state) {
        case CameraState::Registered:
            kept.push_back(std::move(record));
            break;
        case CameraState::New:
            if (RegisterRecord(*record)) {
                wantArrival = true;
                record->state = CameraState::Registered;
                kept.push_back(std::move(record));
            }
            break;
        case CameraState::Gone: {
            const HRESULT hr = m_captureSource.UnregisterCamera(&record->clsid);
            if (SUCCEEDED(hr)) {
                WriteBookkeeping(record->clsid, false);
                --m_modelCounters[record->model];
                wantRemoval = true;
            } else {
                WD_TRACE_ERROR(record->deviceId, hr);
            }
            record->feeder.Stop();
            break;
        }
        }
    }
    m_cameras = std::move(kept);
    if (wantArrival) BroadcastDeviceChange(DBT_DEVICEARRIVAL);
    if (wantRemoval) BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE);
}

void CameraList::Teardown() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    bool wantRemoval = false;
    for (auto& record : m_cameras) {
        const HRESULT hr = m_captureSource.UnregisterCamera(&record->clsid);
        if (SUCCEEDED(hr)) {
            WriteBookkeeping(record->clsid, false);
            wantRemoval = true;
        } else {
            WD_TRACE_ERROR(record->deviceId, hr);
        }
        record->feeder.Stop();
    }
    m_cameras.clear();
    m_modelCounters.clear();
    if (wantRemoval) BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE);
}

void CameraList::CleanUpStale(std::optional<DWORD> sessionId) noexcept {
    win32::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kCleanupMutex));
    if (!mutex) {
        WD_TRACE_ERROR(::GetLastError());
        return;
    }
    bool wantRemoval = false;
    {
        HeldMutex held(mutex.get());
        if (!held.held()) {
            WD_TRACE_ERROR(::GetLastError());
            return;
        }
        win32::CriticalSectionLock lock(m_lock);
        win32::UniqueRegKey key;
        if (FAILED(OpenBookkeepingKey(key))) return;
        DWORD longestName = 0;
        LONG error = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        &longestName, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS) {
            WD_TRACE_ERROR(error);
            return;
        }
        const uint32_t ownFlags = OwnBookkeepingFlags();
        std::vector<std::wstring> removed;
        std::vector<wchar_t> name(longestName + 2, L'\0');
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(name.size());
            error = ::RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_NO_MORE_ITEMS) break;
            if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
                WD_TRACE_ERROR(index, error);
                break;
            }
            name.back() = L'\0';
            const auto entry = ReadBookkeepingValue(key.get(), name.data());
            if (!entry) continue;
            if (sessionId && entry->sessionId != *sessionId) continue;
            if ((entry->flags & kBookkeepingWow64Flag) != ownFlags) continue;
            CLSID clsid;
            // Exactly a registry-form CLSID: 38 characters in braces.
            if (wcsnlen(name.data(), name.size()) != 38 || FAILED(::CLSIDFromString(name.data(), &clsid))) {
                WD_TRACE_ERROR(index);
                continue;
            }
            const HRESULT hr = m_captureSource.UnregisterCamera(&clsid);
            if (FAILED(hr)) {
                WD_TRACE_ERROR(index, hr);
                continue;
            }
            try {
                removed.emplace_back(name.data());
            } catch (...) {
                break;
            }
            wantRemoval = true;
        }
        for (const std::wstring& value : removed) {
            error = ::RegDeleteValueW(key.get(), value.c_str());
            if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_INVALID_HANDLE) {
                WD_TRACE_ERROR(error);
            }
        }
    }
    if (wantRemoval) BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE);
}

void CameraList::OnDeviceChange(WPARAM event, LPARAM data) noexcept {
    if (event != DBT_DEVICEARRIVAL || data == 0) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    // The header comes from another process: believe its type only when its
    // size covers an interface record.
    if (header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ||
        header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return;
    }
    win32::CriticalSectionLock lock(m_lock);
    for (auto& record : m_cameras) {
        const HRESULT hr = record->feeder.Attach();
        if (FAILED(hr)) {
            WD_TRACE_ERROR(hr, record->deviceId);
            record->feeder.Stop();
        }
    }
}

size_t CameraList::Count() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    return m_cameras.size();
}

std::vector<std::wstring> CameraList::Names() noexcept {
    win32::CriticalSectionLock lock(m_lock);
    std::vector<std::wstring> names;
    for (const auto& record : m_cameras) names.push_back(record->name);
    return names;
}

}  // namespace orvo::watchdog
