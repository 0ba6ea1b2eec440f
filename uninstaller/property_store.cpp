#include "uninstaller/property_store.h"

#include <windows.h>

#include "win32/unique_reg_key.h"

namespace orvo::uninstaller {
namespace {

constexpr const wchar_t* kStoreKey = L"Software\\PropertyString";

}  // namespace

void ClearPropertyStore() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreKey); }

void RecordProperty(const std::wstring& name, const std::wstring& value) {
    win32::UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace orvo::uninstaller
