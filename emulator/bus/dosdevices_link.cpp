#include "emulator/bus/dosdevices_link.h"

#include <windows.h>
#include <vector>

#include "win32/unique_handle.h"

namespace orvo::emu {
namespace {

// kernel32 of Wine exports the translation; Windows has none.
using UnixNameFn = char*(CDECL*)(LPCWSTR);

std::string DosDevicesFolder() {
    std::string drive = UnixPath(L"C:\\");  // .../dosdevices/c:/
    const std::string tail = "c:/";
    if (drive.size() <= tail.size() || drive.compare(drive.size() - tail.size(), tail.size(), tail) != 0) return {};
    return drive.substr(0, drive.size() - tail.size());
}

// Starts a Linux program: Wine runs non-PE executables natively, but hands
// back no process handle, so callers check the program's effect instead.
bool StartUnix(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::string& arg : args) {
        commandLine += L" \"";
        commandLine += std::wstring(arg.begin(), arg.end());
        commandLine += L"\"";
    }
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return false;
    }
    win32::UniqueHandle thread(process.hThread);
    win32::UniqueHandle handle(process.hProcess);
    return true;
}

// Whether "\\?\name" opens, as the product will open it.
bool Opens(const std::wstring& name) {
    win32::UniqueFileHandle file(::CreateFileW((L"\\\\?\\" + name).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid();
}

bool WaitUntil(const std::wstring& name, bool present) {
    for (int i = 0; i < 500; ++i) {
        if (Opens(name) == present) return true;
        ::Sleep(10);
    }
    return false;
}

bool SafeName(const std::wstring& name) {
    for (wchar_t c : name) {
        if (c < 0x20 || c > 0x7E || c == L'"') return false;
    }
    return !name.empty() && name.find(L'/') == std::wstring::npos && name.find(L'\\') == std::wstring::npos &&
           name != L"." && name != L"..";
}

}  // namespace

std::string UnixPath(const std::wstring& windowsPath) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto convert = kernel ? reinterpret_cast<UnixNameFn>(
                                reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")))
                          : nullptr;
    if (!convert) return {};
    char* unix = convert(windowsPath.c_str());
    if (!unix) return {};
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

bool MakeDosDeviceLink(const std::wstring& name, const std::wstring& windowsTarget) {
    const std::string folder = DosDevicesFolder();
    const std::string target = UnixPath(windowsTarget);
    if (folder.empty() || target.empty() || !SafeName(name)) return false;
    const std::string link = folder + std::string(name.begin(), name.end());
    return StartUnix(L"/bin/ln", {"-sfn", target, link}) && WaitUntil(name, true);
}

bool RemoveDosDeviceLink(const std::wstring& name) {
    const std::string folder = DosDevicesFolder();
    if (folder.empty() || !SafeName(name)) return false;
    return StartUnix(L"/bin/rm", {"-f", folder + std::string(name.begin(), name.end())}) && WaitUntil(name, false);
}

}  // namespace orvo::emu
