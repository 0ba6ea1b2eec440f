// Test rig of the uninstaller: copies of UninstallOrvoVistrel.exe in folders
// whose names hold spaces, settings written beside them, the stub installer's
// journal, Windows Installer packages, and a clicker that answers the boxes
// and dialogs the uninstaller shows.
#pragma once
#include <windows.h>
#include <msi.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "uninstaller_version.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::test::uninstall {

inline std::wstring Widen(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 4, '\0');
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline std::string ReadText(const std::wstring& path) {
    win32::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

inline bool WriteText(const std::wstring& path, const std::string& text) {
    win32::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1], longer[MAX_PATH * 2];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    const DWORD m = ::GetLongPathNameW(std::wstring(buffer, n).c_str(), longer, MAX_PATH * 2);
    std::wstring path = m ? std::wstring(longer, m) : std::wstring(buffer, n);
    if (path.back() != L'\\') path += L'\\';
    return path;
}

inline std::wstring PackageName() { return L"UninstallOrvoVistrel_" + Widen(ORVO_PRODUCT_VERSION_TEXT); }
inline std::wstring LogFolder() { return TempFolder() + PackageName() + L"\\"; }
inline std::wstring LogPath() { return LogFolder() + L"Zel_Setup_Package.log"; }
inline std::string Log() { return ReadText(LogPath()); }

inline void RemoveFolderFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileW((folder + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

inline std::set<std::wstring> RunFolders() {
    std::set<std::wstring> folders;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((TempFolder() + L"ZelSetup*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return folders;
    do folders.insert(TempFolder() + found.cFileName + L"\\");
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return folders;
}

// The folder of a run's private copies that was not there before (a killed
// run leaves its own behind).
inline std::wstring NewRunFolder(const std::set<std::wstring>& before) {
    for (const auto& folder : RunFolders())
        if (!before.count(folder)) return folder;
    return {};
}


inline std::wstring RunOnceName() { return PackageName() + L"_SetupPackage"; }

// The RunOnce value of the uninstaller, or empty.
inline std::wstring RunOnceValue() {
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return {};
    wchar_t value[4096];
    DWORD size = sizeof value - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), RunOnceName().c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return {};
    value[size / sizeof(wchar_t)] = L'\0';
    return value;
}

inline void DeleteRunOnce() {
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), RunOnceName().c_str());
}

// Starts a program and waits for it; -1 when it had to be killed.
inline int RunProgram(const std::wstring& commandLine, const std::wstring& directory = {}, DWORD timeoutMs = 240000,
                      HANDLE token = nullptr) {
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const wchar_t* dir = directory.empty() ? nullptr : directory.c_str();
    const BOOL ok = token ? ::CreateProcessAsUserW(token, nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi)
                          : ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi);
    if (!ok) return -2;
    win32::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 99);
        ::WaitForSingleObject(process.get(), 10000);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

inline std::wstring SystemMsiexec() {
    wchar_t system[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, n) + L"\\msiexec.exe";
}

inline std::wstring PackagePath(const std::wstring& name) { return ExeFolder() + L"uninstaller_packages\\" + name + L".msi"; }

inline int InstallPackage(const std::wstring& name) {
    return RunProgram(L"\"" + SystemMsiexec() + L"\" /i \"" + PackagePath(name) + L"\" /qn");
}

inline void RemoveProduct(const std::wstring& code) {
    if (::MsiQueryProductStateW(code.c_str()) == INSTALLSTATE_DEFAULT)
        RunProgram(L"\"" + SystemMsiexec() + L"\" /x " + code + L" /qn ORVO_TEST_CLEANUP=1");
}

inline bool Installed(const std::wstring& code) { return ::MsiQueryProductStateW(code.c_str()) == INSTALLSTATE_DEFAULT; }

inline bool RegistryValueExists(const std::wstring& key, const wchar_t* value, REGSAM view) {
    win32::UniqueRegKey opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, opened.put()) != ERROR_SUCCESS) return false;
    return ::RegQueryValueExW(opened.get(), value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The stub installer's journal and scripted exit codes, passed through the
// environment to every process the uninstaller starts.
class StubScript {
public:
    explicit StubScript(const std::wstring& codes = L"") {
        ::CreateDirectoryW(L"C:\\orvo_test", nullptr);
        m_journal = L"C:\\orvo_test\\stub_journal.txt";
        ::DeleteFileW(m_journal.c_str());
        ::SetEnvironmentVariableW(L"ORVO_STUB_JOURNAL", m_journal.c_str());
        ::SetEnvironmentVariableW(L"ORVO_STUB_CODES", codes.c_str());
    }
    ~StubScript() {
        ::SetEnvironmentVariableW(L"ORVO_STUB_JOURNAL", nullptr);
        ::SetEnvironmentVariableW(L"ORVO_STUB_CODES", nullptr);
    }
    StubScript(const StubScript&) = delete;
    StubScript& operator=(const StubScript&) = delete;
    // One entry per start: own path | current directory | command line.
    std::vector<std::string> Starts() const {
        std::vector<std::string> lines;
        const std::string text = ReadText(m_journal);
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find("\r\n", start);
            lines.push_back(text.substr(start, end - start));
            if (end == std::string::npos) break;
            start = end + 2;
        }
        return lines;
    }

private:
    std::wstring m_journal;
};

inline std::wstring StubPath() { return ExeFolder() + L"orvo_stub_msiexec.exe"; }

// Settings text: a setup type and installer sections.
inline std::string TypeSection(const std::string& type, const std::string& main, const std::string& pre, bool removeShared,
                               const std::string& extra = "") {
    return "[" + type + "]\r\nName=OrvoVistrel\r\nMainInstall=" + main + "\r\nPreInstall=" + pre +
           "\r\nRemoveShared=" + (removeShared ? "yes" : "no") + "\r\n" + extra + "\r\n";
}

// An installer section run by the stub installer (its name holds "msiexec").
inline std::string StubSection(const std::string& name, const std::string& extra = "") {
    return "[" + name + "]\r\nName=" + name + "\r\nFile=" + Narrow(StubPath()) +
           "\r\nArguments=/x {00000000-1111-2222-3333-444444444444} /qn\r\nDoNotExtract=yes\r\nForceRun=yes\r\n"
           "FailCodes=1602|1603|1618|1638\r\nRebootCodes=3010\r\n" + extra + "\r\n";
}

// An installer section removing a real package by product code.
inline std::string MsiSection(const std::string& name, const std::wstring& code, const std::string& extra = "") {
    return "[" + name + "]\r\nName=" + name + "\r\nFile=msiexec\r\nArguments=/x " + Narrow(code) +
           " /qn\r\nDoNotExtract=yes\r\nForceRun=yes\r\nFailCodes=1602|1603|1618|1638\r\nRebootCodes=3010\r\n" + extra + "\r\n";
}

constexpr const wchar_t* kChoiceCaption = L"Uninstall OrvoVistrel";
constexpr const wchar_t* kConfirmCaption = L"Remove shared components";
constexpr const wchar_t* kPromptCaption = L"OrvoVistrel Setup Package";
constexpr const wchar_t* kErrorCaption = L"Setup Package Error";

// A copy of the uninstaller in "C:\orvo_test\<name> folder\", with settings.
class Uninstaller {
public:
    explicit Uninstaller(const std::wstring& name, bool withSideModule = false) {
        ::CreateDirectoryW(L"C:\\orvo_test", nullptr);
        m_folder = L"C:\\orvo_test\\" + name + L" folder\\";
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        RemoveFolderFiles(m_folder);
        ::CopyFileW((ExeFolder() + L"UninstallOrvoVistrel.exe").c_str(), Exe().c_str(), FALSE);
        if (withSideModule) ::CopyFileW((ExeFolder() + L"orvo_uninstaller_side_module.dll").c_str(), (m_folder + L"UninstallOrvoVistrel.enu").c_str(), FALSE);
        RemoveFolderFiles(LogFolder());
        DeleteRunOnce();
    }
    ~Uninstaller() {
        RemoveFolderFiles(m_folder);
        ::RemoveDirectoryW(m_folder.c_str());
        DeleteRunOnce();
    }
    Uninstaller(const Uninstaller&) = delete;
    Uninstaller& operator=(const Uninstaller&) = delete;

    const std::wstring& Folder() const { return m_folder; }
    std::wstring Exe() const { return m_folder + L"UninstallOrvoVistrel.exe"; }
    void Settings(const std::string& text) { WriteText(m_folder + L"Settings.ini", text); }
    void ShippedSettings() { ::CopyFileW((ExeFolder() + L"Settings.ini").c_str(), (m_folder + L"Settings.ini").c_str(), FALSE); }

    int Run(const std::wstring& args, const std::wstring& directory = {}, HANDLE token = nullptr) {
        return RunProgram(L"\"" + Exe() + L"\" " + args, directory, 240000, token);
    }
    bool Start(const std::wstring& args) {
        std::wstring line = L"\"" + Exe() + L"\" " + args;
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.push_back(L'\0');
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
        ::CloseHandle(pi.hThread);
        m_process.reset(pi.hProcess);
        return true;
    }
    HANDLE Process() const { return m_process.get(); }
    void Kill() {
        ::TerminateProcess(m_process.get(), 77);
        ::WaitForSingleObject(m_process.get(), 30000);
    }

private:
    std::wstring m_folder;
    win32::UniqueHandle m_process;
};

// Answers the uninstaller's windows: a rule names a caption (substring) and
// the control to click, and answers one window; every window answered is
// recorded with its texts.
class Clicker {
public:
    struct Rule {
        std::wstring caption;
        int button;
        int selectFirst = 0;  // a radio button to click before the button
    };
    struct Seen {
        std::wstring caption;
        std::wstring text;
        int checked = 0;  // the first checked radio button, if any
    };

    explicit Clicker(std::vector<Rule> rules) : m_rules(std::move(rules)), m_thread([this] { Loop(); }) {}
    ~Clicker() {
        m_stop = true;
        m_thread.join();
    }
    Clicker(const Clicker&) = delete;
    Clicker& operator=(const Clicker&) = delete;

    std::vector<Seen> SeenWindows() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    bool SawText(const std::wstring& part) {
        for (const auto& s : SeenWindows())
            if (s.text.find(part) != std::wstring::npos || s.caption.find(part) != std::wstring::npos) return true;
        return false;
    }

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM param) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
    }
    static BOOL CALLBACK CollectText(HWND child, LPARAM param) {
        wchar_t cls[64], text[2048];
        ::GetClassNameW(child, cls, 64);
        if (lstrcmpiW(cls, L"Static") == 0 || lstrcmpiW(cls, L"Edit") == 0) {
            ::SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
            auto* out = reinterpret_cast<std::wstring*>(param);
            *out += text;
            *out += L"\n";
        }
        return TRUE;
    }
    void Loop() {
        std::set<HWND> answered;
        while (!m_stop) {
            std::vector<HWND> windows;
            ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
            for (HWND window : windows) {
                if (!::IsWindowVisible(window) || answered.count(window)) continue;
                wchar_t cls[64], caption[512];
                ::GetClassNameW(window, cls, 64);
                if (lstrcmpW(cls, L"#32770") != 0) continue;
                ::GetWindowTextW(window, caption, 512);
                for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
                    const Rule rule = *it;
                    if (std::wstring(caption).find(rule.caption) == std::wstring::npos) continue;
                    m_rules.erase(it);
                    ::Sleep(300);  // let the dialog finish painting and initialising
                    Seen seen{caption, L"", 0};
                    ::EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&seen.text));
                    for (int id : {1000, 1001})
                        if (::GetDlgItem(window, id) && ::SendMessageW(::GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED) {
                            seen.checked = id;
                            break;
                        }
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_seen.push_back(seen);
                    }
                    if (rule.selectFirst) ::SendMessageW(::GetDlgItem(window, rule.selectFirst), BM_CLICK, 0, 0);
                    HWND button = ::GetDlgItem(window, rule.button);
                    if (button) ::PostMessageW(button, BM_CLICK, 0, 0);
                    else ::PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(rule.button), 0);
                    answered.insert(window);
                    break;
                }
            }
            ::Sleep(100);
        }
    }

    std::vector<Rule> m_rules;
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace orvo::test::uninstall
