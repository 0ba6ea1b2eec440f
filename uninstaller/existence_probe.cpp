#include "uninstaller/existence_probe.h"

#include <windows.h>

#include "setup_engine/text.h"
#include "setup_engine/version.h"
#include "uninstaller/msi_query.h"
#include "win32/unique_reg_key.h"

namespace orvo::uninstaller {
namespace {

bool OsAtLeast(const std::wstring& value) {
    using NtVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    // The version the system reports to manifest-less callers is capped; ask
    // the kernel.
    auto query = reinterpret_cast<NtVersion>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!query || query(&info) != 0) return false;
    const auto parts = setup::Split(value, L'.');
    const long major = setup::ParseLeadingInt(parts[0]);
    const long minor = parts.size() > 1 ? setup::ParseLeadingInt(parts[1]) : 0;
    if (static_cast<long>(info.dwMajorVersion) != major) return static_cast<long>(info.dwMajorVersion) > major;
    return static_cast<long>(info.dwMinorVersion) >= minor;
}

bool NativeX64() {
    SYSTEM_INFO info;
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

bool DotNetAtLeast(const std::wstring& value) {
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return false;
    wchar_t version[64];
    DWORD size = sizeof version - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(version), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    version[size / sizeof(wchar_t)] = L'\0';
    return setup::CompareVersions(version, value) >= 0;
}

}  // namespace

bool RegistryKeyExists(const std::wstring& path) {
    static const struct {
        const wchar_t* name;
        HKEY root;
    } kRoots[] = {{L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                  {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                  {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                  {L"HKEY_USERS", HKEY_USERS}};
    for (const auto& root : kRoots) {
        if (!setup::IStartsWith(path, root.name)) continue;
        std::wstring subkey = path.substr(std::wstring(root.name).size());
        if (!subkey.empty() && subkey[0] == L'\\') subkey.erase(0, 1);
        win32::UniqueRegKey key;
        return ::RegOpenKeyExW(root.root, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }
    return false;
}

bool SystemProbe::Test(const std::wstring& type, const std::wstring& value, bool& known) {
    known = true;
    if (setup::IEquals(type, L"RegKey")) return RegistryKeyExists(value);
    if (setup::IEquals(type, L"File")) return ::GetFileAttributesW(m_paths.Replace(value).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (setup::IEquals(type, L"OS")) return OsAtLeast(value);
    if (setup::IEquals(type, L"Platform")) return value == L"64" && NativeX64();
    if (setup::IEquals(type, L"ProductVersion")) {
        PackageIdentity identity;
        return ReadPackageIdentity(m_packagePath, identity) && setup::CompareVersions(identity.productVersion, value) >= 0;
    }
    if (setup::IEquals(type, L"NETFrameworkVersion")) return DotNetAtLeast(value);
    known = false;
    return false;
}

}  // namespace orvo::uninstaller
