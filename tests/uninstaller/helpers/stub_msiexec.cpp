// Stands in for an installer program. Each start appends
//   <own path>|<current directory>|<command line>
// to the journal named by ORVO_STUB_JOURNAL and exits with the code listed
// for this start in ORVO_STUB_CODES ("0,1618,block,..."; the count of journal
// lines before ours picks the entry; missing entries mean 0). "block" sets the
// event "OrvoStubBlocked" and waits for "OrvoStubRelease" (then exits 0).
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
    return length && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

int wmain() {
    const std::wstring journal = Env(L"ORVO_STUB_JOURNAL");
    if (journal.empty()) return 0;
    HANDLE lock = ::CreateMutexW(nullptr, FALSE, L"OrvoStubJournalLock");
    ::WaitForSingleObject(lock, 30000);
    size_t starts = 0;
    HANDLE file = ::CreateFileW(journal.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char buffer[65536];
        DWORD read = 0;
        while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
            for (DWORD i = 0; i < read; ++i) starts += buffer[i] == '\n';
        wchar_t self[MAX_PATH], cwd[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        const std::wstring line = std::wstring(self) + L"|" + cwd + L"|" + ::GetCommandLineW() + L"\r\n";
        std::string utf8(line.size() * 4, '\0');
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(),
                                                static_cast<int>(utf8.size()), nullptr, nullptr);
        DWORD written = 0;
        ::SetFilePointer(file, 0, nullptr, FILE_END);
        ::WriteFile(file, utf8.data(), static_cast<DWORD>(bytes), &written, nullptr);
        ::CloseHandle(file);
    }
    ::ReleaseMutex(lock);
    ::CloseHandle(lock);

    std::vector<std::wstring> codes;
    const std::wstring list = Env(L"ORVO_STUB_CODES");
    size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const size_t comma = list.find(L',', start);
        codes.push_back(list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    if (starts >= codes.size()) return 0;
    if (codes[starts] == L"block") {
        HANDLE blocked = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubBlocked");
        HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubRelease");
        ::SetEvent(blocked);
        ::WaitForSingleObject(release, 300000);
        ::CloseHandle(blocked);
        ::CloseHandle(release);
        return 0;
    }
    return _wtoi(codes[starts].c_str());
}
