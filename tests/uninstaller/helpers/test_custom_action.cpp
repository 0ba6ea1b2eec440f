// Custom actions of the test packages: one records the properties a removal
// was given, the others fail it as a user cancel (1602) or an error (1603).
#include <windows.h>
#include <msiquery.h>

#include <string>

namespace {

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    wchar_t value[1024];
    DWORD size = 1024;
    if (::MsiGetPropertyW(install, name, value, &size) != ERROR_SUCCESS) return {};
    return std::wstring(value, size);
}

}  // namespace

// Appends "ProductName|SOURCE_DIR|REMOVESHARED|IGNOREERROR" to
// C:\orvo_test\custom_action.txt.
extern "C" __declspec(dllexport) UINT __stdcall RecordProperties(MSIHANDLE install) {
    ::CreateDirectoryW(L"C:\\orvo_test", nullptr);
    const std::wstring line = Property(install, L"ProductName") + L"|" + Property(install, L"SOURCE_DIR") + L"|" +
                              Property(install, L"REMOVESHARED") + L"|" + Property(install, L"IGNOREERROR") + L"\r\n";
    HANDLE file = ::CreateFileW(L"C:\\orvo_test\\custom_action.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char utf8[4096];
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8, sizeof utf8, nullptr, nullptr);
        DWORD written = 0;
        ::WriteFile(file, utf8, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
        ::CloseHandle(file);
    }
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall Fail1602(MSIHANDLE) { return ERROR_INSTALL_USEREXIT; }

extern "C" __declspec(dllexport) UINT __stdcall Fail1603(MSIHANDLE) { return ERROR_INSTALL_FAILURE; }
