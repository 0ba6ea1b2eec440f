// A property of the running install, empty when it is not set.
#pragma once
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace orvo::packaging {

inline std::wstring MsiProperty(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    if (::MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
    std::vector<wchar_t> value(size + 1);
    size = static_cast<DWORD>(value.size());
    if (::MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
    return std::wstring(value.data(), size);
}

}  // namespace orvo::packaging
