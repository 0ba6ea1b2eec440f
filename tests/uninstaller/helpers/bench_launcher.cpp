// The benchmark's reference: runs the msiexec removals the uninstaller
// would run, one after the other, and nothing else.
//   orvo_uninstaller_bench_launcher.exe SOURCE_DIR LOG_FOLDER|- NAME=CODE...
#include <windows.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring sourceDir = argv[1], logFolder = argv[2];
    wchar_t system[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring msiexec = std::wstring(system, n) + L"\\msiexec.exe";
    for (int i = 3; i < argc; ++i) {
        const std::wstring entry = argv[i];
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) return 2;
        std::wstring line = L"\"" + msiexec + L"\" /x " + entry.substr(equals + 1) + L" /qn SOURCE_DIR=\"" + sourceDir +
                            L"\" REMOVESHARED=1";
        if (logFolder != L"-") line += L" /l*v \"" + logFolder + L"\\" + entry.substr(0, equals) + L".log\"";
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.push_back(L'\0');
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 3;
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    return 0;
}
