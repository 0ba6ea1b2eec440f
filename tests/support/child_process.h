// Starts a helper program as a separate process with its output captured;
// the process is killed and reaped if the test ends early.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace orvo::test {

// Folder of the running test executable; helpers are built beside it.
inline std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// bin folder of the other architecture's build (both share one Wine prefix),
// or empty when that build cannot run here.
inline std::wstring OtherArchFolder() {
    wchar_t runnable[8] = L"";
    ::GetEnvironmentVariableW(L"ORVO_X86_RUNNABLE", runnable, 8);
    wchar_t unixPath[1024] = L"";
    if (std::wstring(runnable) != L"1" || !::GetEnvironmentVariableW(L"ORVO_OTHER_ARCH_BIN", unixPath, 1024)) return {};
    // The build passes a Unix path; Wine maps the root file system to Z:.
    std::wstring path = L"Z:" + std::wstring(unixPath);
    for (auto& c : path) if (c == L'/') c = L'\\';
    if (path.back() != L'\\') path += L'\\';
    return path;
}

class ChildProcess {
public:
    // Starts "program args"; its standard output and error go to a pipe.
    bool Start(const std::wstring& program, const std::wstring& args) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
        m_output.reset(readEnd);
        win32::UniqueHandle writer(writeEnd);
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writer.get();
        si.hStdError = writer.get();
        si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        std::wstring commandLine = L"\"" + program + L"\" " + args;
        std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back(L'\0');
        PROCESS_INFORMATION pi{};
        // Wine now and then refuses a process start with ERROR_INTERNAL_ERROR
        // while other processes of the prefix start and end around it (seen
        // under load); Windows does not. A few retries keep such a hiccup
        // from failing a suite about something else.
        for (int attempt = 0;; ++attempt) {
            if (::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
                break;
            }
            if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == 4) return false;
            ::Sleep(100);
        }
        ::CloseHandle(pi.hThread);
        m_process.reset(pi.hProcess);
        m_pid = pi.dwProcessId;
        return true;
    }

    // Waits for the end and returns the exit code, or -1 after the time-out
    // (the process is then killed).
    int Wait(DWORD timeoutMs = 30000) {
        DrainOutput(timeoutMs);
        if (::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) {
            ::TerminateProcess(m_process.get(), 99);
            ::WaitForSingleObject(m_process.get(), 5000);
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(m_process.get(), &code);
        return static_cast<int>(code);
    }

    const std::string& Output() const { return m_text; }
    DWORD Pid() const { return m_pid; }
    HANDLE Process() const { return m_process.get(); }

    ~ChildProcess() {
        if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_process.get(), 98);
            ::WaitForSingleObject(m_process.get(), 5000);
        }
    }

private:
    // Reads until the child closes its end (it exits), within the time limit.
    void DrainOutput(DWORD timeoutMs) {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        char chunk[4096];
        while (m_output && ::GetTickCount64() < deadline) {
            DWORD available = 0;
            if (!::PeekNamedPipe(m_output.get(), nullptr, 0, nullptr, &available, nullptr)) break;  // closed
            if (available == 0) {
                if (::WaitForSingleObject(m_process.get(), 10) == WAIT_OBJECT_0) {
                    // Exited: collect what is left, then stop.
                    DWORD got = 0;
                    while (::PeekNamedPipe(m_output.get(), nullptr, 0, nullptr, &available, nullptr) && available &&
                           ::ReadFile(m_output.get(), chunk, sizeof(chunk), &got, nullptr) && got) {
                        m_text.append(chunk, got);
                    }
                    break;
                }
                continue;
            }
            DWORD got = 0;
            if (!::ReadFile(m_output.get(), chunk, sizeof(chunk), &got, nullptr) || got == 0) break;
            m_text.append(chunk, got);
        }
    }

    win32::UniqueHandle m_process;
    win32::UniqueHandle m_output;
    DWORD m_pid = 0;
    std::string m_text;
};

// A name no other process or test run uses, for named objects of one test.
inline std::wstring UniqueName(const wchar_t* stem) {
    static LONG counter = 0;
    return std::wstring(stem) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::InterlockedIncrement(&counter)) + L"_" + std::to_wstring(::GetTickCount64());
}

}  // namespace orvo::test
