// The bookkeeping key: one REG_BINARY value per registered camera, named by
// its CLSID, shared by every agent of every session (64-bit registry view).
#pragma once
#include <windows.h>
#include <cstdint>
#include <optional>

#include "win32/unique_reg_key.h"

namespace orvo::watchdog {

struct BookkeepingEntry {
    uint32_t sessionId;
    uint32_t flags;  // bit 0: written by a 32-bit agent on 64-bit Windows
};
static_assert(sizeof(BookkeepingEntry) == 8, "a bookkeeping value holds 8 bytes");
constexpr uint32_t kBookkeepingWow64Flag = 1;

// Opens (creating) the key with full access in the 64-bit view.
HRESULT OpenBookkeepingKey(win32::UniqueRegKey& key) noexcept;

// Adds (with this process's session and bitness) or removes the value of a
// CLSID; a value already gone counts as removed.
HRESULT WriteBookkeeping(const GUID& clsid, bool add) noexcept;

// The entry of a value only when it is REG_BINARY of exactly 8 bytes:
// anything shorter would leave fields undefined, anything longer is not ours.
std::optional<BookkeepingEntry> ReadBookkeepingValue(HKEY key, const wchar_t* name) noexcept;

// This process's flags as written into its values.
uint32_t OwnBookkeepingFlags() noexcept;

}  // namespace orvo::watchdog
