#include "watchdog/agent/bookkeeping.h"

#include <objbase.h>
#include <cstring>

#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"

namespace orvo::watchdog {

uint32_t OwnBookkeepingFlags() noexcept { return RunsUnderWow64() ? kBookkeepingWow64Flag : 0; }

HRESULT OpenBookkeepingKey(win32::UniqueRegKey& key) noexcept {
    const REGSAM access = KEY_ALL_ACCESS | (RunsUnderWow64() ? KEY_WOW64_64KEY : 0);
    const LONG error = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBookkeepingKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         access, nullptr, key.put(), nullptr);
    if (error != ERROR_SUCCESS) {
        WD_TRACE_ERROR(error);
        return HRESULT_FROM_WIN32(error);
    }
    return S_OK;
}

HRESULT WriteBookkeeping(const GUID& clsid, bool add) noexcept {
    wchar_t name[40];
    if (::StringFromGUID2(clsid, name, 40) == 0) {
        WD_TRACE_ERROR(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    BookkeepingEntry entry{};
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    entry.sessionId = session;
    entry.flags = OwnBookkeepingFlags();

    win32::UniqueRegKey key;
    const HRESULT opened = OpenBookkeepingKey(key);
    if (FAILED(opened)) return opened;
    LONG error;
    if (add) {
        error = ::RegSetValueExW(key.get(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&entry), sizeof(entry));
    } else {
        error = ::RegDeleteValueW(key.get(), name);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) {
        WD_TRACE_ERROR(error, add);
        return HRESULT_FROM_WIN32(error);
    }
    return S_OK;
}

std::optional<BookkeepingEntry> ReadBookkeepingValue(HKEY key, const wchar_t* name) noexcept {
    // One byte more than a record tells a longer value from an exact one.
    uint8_t data[sizeof(BookkeepingEntry) + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    const LONG error = ::RegQueryValueExW(key, name, nullptr, &type, data, &size);
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
        WD_TRACE_ERROR(error);
        return std::nullopt;
    }
    if (error == ERROR_MORE_DATA || type != REG_BINARY || size != sizeof(BookkeepingEntry)) {
        WD_TRACE_ERROR(type, size);
        return std::nullopt;
    }
    BookkeepingEntry entry;
    std::memcpy(&entry, data, sizeof(entry));
    return entry;
}

}  // namespace orvo::watchdog
