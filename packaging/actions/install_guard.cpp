// The install's guard against its own process dying mid-way (a kill, a
// power cut) after part of the product was copied.
//
// ArmInstallGuard runs before any file is copied: it leaves a RunOnce value
// that, at the next start of the machine, removes the product folder unless
// the installer has a version of the product registered by then (any
// version: the upgrade code, not this version's product code).
// ReleaseInstallGuard removes the value when the install ends, well, with an
// error or cancelled, all of which the installer has rolled back. Only a
// process that died keeps it. Where the installer rolls an interrupted
// install back itself at its next start, the guard then finds an older
// version registered again, or the folder gone.
#include <windows.h>
#include <msiquery.h>

#include <cwchar>
#include <cwctype>
#include <string>

#include "msi_property.h"
#include "win32/unique_reg_key.h"

namespace {

using orvo::packaging::MsiProperty;
using orvo::win32::UniqueRegKey;

constexpr const wchar_t* kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kGuardValue = L"OrvoVistrelInterruptedInstall";
// The system runs no RunOnce command longer than this.
constexpr size_t kRunOnceMaxChars = 259;

std::wstring WithoutTrailingSlash(std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && _wcsicmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

// The installer's registry spelling of a "{...}" GUID: each of the first
// three groups reversed, each later byte's two digits swapped. Empty when
// CODE is not a braced GUID.
std::wstring SquishedGuid(const std::wstring& code) {
    if (code.size() != 38 || code.front() != L'{' || code.back() != L'}') return {};
    std::wstring digits;
    for (size_t i = 1; i + 1 < code.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash != (code[i] == L'-') || (!dash && !iswxdigit(code[i]))) return {};
        if (!dash) digits += code[i];
    }
    std::wstring squished(digits.rbegin() + 24, digits.rend());            // 8
    squished.append(digits.rbegin() + 20, digits.rbegin() + 24);           // 4
    squished.append(digits.rbegin() + 16, digits.rbegin() + 20);           // 4
    for (size_t i = 16; i < 32; i += 2) squished += {digits[i + 1], digits[i]};
    return squished;
}

// Empty when a property is missing or a name could break the quoting.
std::wstring GuardCommand(MSIHANDLE install) {
    const std::wstring code = SquishedGuid(MsiProperty(install, L"UpgradeCode"));
    const std::wstring folder = WithoutTrailingSlash(MsiProperty(install, L"INSTALLDIR"));
    const std::wstring parent = WithoutTrailingSlash(MsiProperty(install, L"QUENLOWDIR"));
    if (code.empty() || parent.size() < 4) return {};
    // Only the product's own folder in the maker's: a folder chosen on the
    // command line may hold anything, and is never removed whole.
    if (!EndsWith(parent, L"\\Quenlow") || _wcsicmp(folder.c_str(), (parent + L"\\OrvoVistrel").c_str()) != 0) return {};
    for (const std::wstring* text : {&code, &folder, &parent}) {
        if (text->find_first_of(L"\"%&|<>^") != std::wstring::npos) return {};
    }
    // The maker's folder goes only when empty: rmdir without /s. The query's
    // result is read with "if errorlevel": Wine's cmd runs what follows "||"
    // even after a command that succeeded.
    std::wstring command = L"cmd.exe /d /c reg query HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\" + code +
                           L" >nul 2>&1 & if errorlevel 1 (rmdir /s /q \"" + folder + L"\" & rmdir \"" + parent + L"\")";
    return command.size() <= kRunOnceMaxChars ? command : std::wstring();
}

UniqueRegKey OpenRunOnce() {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ArmInstallGuard(MSIHANDLE install) {
    const std::wstring command = GuardCommand(install);
    if (command.empty()) return ERROR_SUCCESS;
    UniqueRegKey key = OpenRunOnce();
    if (!key) return ERROR_SUCCESS;
    ::RegSetValueExW(key.get(), kGuardValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                     static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall ReleaseInstallGuard(MSIHANDLE) {
    UniqueRegKey key = OpenRunOnce();
    if (key) ::RegDeleteValueW(key.get(), kGuardValue);
    return ERROR_SUCCESS;
}
