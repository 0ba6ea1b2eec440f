#include "uninstaller/win_profile.h"

#include <windows.h>

#include <vector>

namespace orvo::uninstaller {
namespace {

// Two defaults that no file holds tell an absent key from a present one.
constexpr const wchar_t* kAbsentA = L"\x1\x2absent";
constexpr const wchar_t* kAbsentB = L"\x1\x3absent";

std::wstring Read(const std::wstring& path, const std::wstring& section, const std::wstring& key, const wchar_t* fallback) {
    // Grown until the value fits: the reader cuts a value that does not.
    for (DWORD size = 1024; size <= (1u << 20); size *= 4) {
        std::vector<wchar_t> buffer(size);
        const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback, buffer.data(), size, path.c_str());
        if (length + 1 < size) return std::wstring(buffer.data(), length);
    }
    return fallback;
}

// Names are C strings to the profile functions; an empty one (which they
// take for "every section" or "every key") is never found.
bool Usable(const std::wstring& name) { return !name.empty() && name[0] != L'\0'; }

}  // namespace

std::optional<std::wstring> WinProfileSource::ReadString(const std::wstring& section, const std::wstring& key) const {
    if (!Usable(section) || !Usable(key)) return std::nullopt;
    const std::wstring a = Read(m_path, section, key, kAbsentA);
    if (a != kAbsentA) return a;
    if (Read(m_path, section, key, kAbsentB) != kAbsentB) return a;  // the file really holds the marker
    return std::nullopt;
}

int WinProfileSource::ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const {
    if (!Usable(section) || !Usable(key)) return fallback;
    return static_cast<int>(::GetPrivateProfileIntW(section.c_str(), key.c_str(), fallback, m_path.c_str()));
}

bool WinProfileSource::SectionHasContent(const std::wstring& section) const {
    if (!Usable(section)) return false;
    wchar_t buffer[8];
    return ::GetPrivateProfileSectionW(section.c_str(), buffer, 8, m_path.c_str()) > 0;
}

}  // namespace orvo::uninstaller
