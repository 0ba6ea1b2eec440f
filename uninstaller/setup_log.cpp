#include "uninstaller/setup_log.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "win32/unique_handle.h"

namespace orvo::uninstaller {

void SetupLog::Write(const std::wstring& text) {
    if (!m_enabled) return;
    const std::wstring message = text.substr(0, 999);
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    // Converted in one piece and written with one call, so a line is whole
    // even when the process dies right after.
    const int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, message.c_str(), static_cast<int>(message.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string ansi(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, message.c_str(), static_cast<int>(message.size()), ansi.data(), bytes,
                              nullptr, nullptr);
    char head[80];
    std::snprintf(head, sizeof head, "%d/%d/%d - %d:%d:%d:%d - ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
    const std::string line = head + ansi + " \r\n";
    win32::UniqueFileHandle file(::CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    DWORD written = 0;
    if (!file || ::SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
        !::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size())
        m_enabled = false;
}

}  // namespace orvo::uninstaller
