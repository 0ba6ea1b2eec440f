#include "capture_source/module/own_folder.h"

#include <string>

namespace orvo::capture {

HMODULE OwnModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

HMODULE LoadLibraryBesideModule(const wchar_t* fileName) noexcept {
    try {
        std::wstring path(32768, L'\0');
        const DWORD n = ::GetModuleFileNameW(OwnModule(), path.data(), static_cast<DWORD>(path.size()));
        if (n == 0 || n >= path.size()) return nullptr;
        path.resize(n);
        path.erase(path.find_last_of(L"\\/") + 1);
        path += fileName;
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace orvo::capture
