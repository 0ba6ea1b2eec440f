// Drives orvo_sessions.exe: lines to its standard input, its output
// collected by a reader thread and waited for by content.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo::test {

class SessionsTool {
public:
    ~SessionsTool() {
        if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            Send("stop");
            if (WaitForSingleObject(m_process.get(), 30000) != WAIT_OBJECT_0) TerminateProcess(m_process.get(), 9);
        }
        m_input.reset();
        if (m_reader) WaitForSingleObject(m_reader.get(), 5000);
    }

    bool Start(const std::wstring& tool, const std::wstring& agentImage) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE inRead, inWrite, outRead, outWrite;
        if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return false;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
        win32::UniqueHandle childIn(inRead), childOut(outWrite);
        m_input.reset(inWrite);
        m_output.reset(outRead);
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn.get();
        si.hStdOutput = childOut.get();
        si.hStdError = childOut.get();
        std::wstring line = L"\"" + tool + L"\" \"" + agentImage + L"\"";
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(tool.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        m_process.reset(pi.hProcess);
        m_reader.reset(CreateThread(nullptr, 0, &ReadOutput, this, 0, nullptr));
        return WaitFor("status 4", 30000);
    }

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(m_input.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    // Sends a command and waits for its acknowledgement.
    bool Command(const std::string& line, DWORD timeoutMs = 60000) {
        const size_t from = Length();
        Send(line);
        return WaitFor("ok " + line.substr(0, line.find(' ')), timeoutMs, from);
    }

    bool WaitFor(const std::string& text, DWORD timeoutMs, size_t from = 0) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            {
                win32::CriticalSectionLock lock(m_lock);
                if (m_text.find(text, from) != std::string::npos) return true;
            }
            if (GetTickCount64() > deadline) return false;
            Sleep(20);
        }
    }

    // The session ids the service lists.
    std::string Sessions() {
        const size_t from = Length();
        Send("sessions");
        if (!WaitFor("sessions:", 30000, from)) return "?";
        win32::CriticalSectionLock lock(m_lock);
        const size_t at = m_text.find("sessions:", from) + 9;
        return m_text.substr(at, m_text.find('\n', at) - at);
    }

    size_t Length() {
        win32::CriticalSectionLock lock(m_lock);
        return m_text.size();
    }
    std::string Output() {
        win32::CriticalSectionLock lock(m_lock);
        return m_text;
    }
    HANDLE Process() const { return m_process.get(); }

private:
    static DWORD WINAPI ReadOutput(void* context) {
        auto* self = static_cast<SessionsTool*>(context);
        char chunk[1024];
        DWORD got = 0;
        while (ReadFile(self->m_output.get(), chunk, sizeof(chunk), &got, nullptr) && got) {
            win32::CriticalSectionLock lock(self->m_lock);
            for (DWORD i = 0; i < got; ++i)
                if (chunk[i] != '\r') self->m_text.push_back(chunk[i]);
        }
        return 0;
    }

    win32::CriticalSection m_lock;
    std::string m_text;
    win32::UniqueHandle m_process, m_input, m_output, m_reader;
};

}  // namespace orvo::test
