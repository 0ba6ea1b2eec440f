// Drives the uninstaller through each of its dialogs and prompts on a
// visible desktop, asking the screenshot script for a picture of each before
// answering it. Handshake through files in the folder given as the argument:
// this program writes "<name>.ready" and waits for "<name>.shot".
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

namespace {

std::wstring g_handshake;
int g_failures = 0;

struct Found {
    const wchar_t* caption;
    HWND window = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    wchar_t cls[64], caption[256];
    ::GetClassNameW(window, cls, 64);
    ::GetWindowTextW(window, caption, 256);
    if (::IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0 && std::wstring(caption).find(found->caption) != std::wstring::npos) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(const wchar_t* caption) {
    for (int i = 0; i < 1200; ++i) {
        Found found{caption};
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
        if (found.window) return found.window;
        ::Sleep(100);
    }
    return nullptr;
}

// Pictures the window with this caption, then clicks one of its buttons.
void Shoot(const wchar_t* caption, const std::wstring& name, int button) {
    HWND window = WaitForDialog(caption);
    if (!window) {
        std::fwprintf(stderr, L"shooter: no window \"%ls\" for %ls\n", caption, name.c_str());
        ++g_failures;
        return;
    }
    ::SetForegroundWindow(window);
    ::Sleep(700);  // painted
    WriteText(g_handshake + name + L".ready", "");
    for (int i = 0; i < 600 && !Exists(g_handshake + name + L".shot"); ++i) ::Sleep(100);
    HWND control = ::GetDlgItem(window, button);
    if (control) ::PostMessageW(control, BM_CLICK, 0, 0);
    else ::PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
    ::Sleep(300);
}

void Scenario(const wchar_t* folder, const std::string& settings, const std::wstring& args, bool sideModule,
              const std::function<void()>& answers) {
    Uninstaller uninstaller(folder, sideModule);
    uninstaller.Settings(settings);
    if (!uninstaller.Start(args)) {
        ++g_failures;
        return;
    }
    answers();
    if (::WaitForSingleObject(uninstaller.Process(), 120000) != WAIT_OBJECT_0) {
        uninstaller.Kill();
        ++g_failures;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    g_handshake = argv[1];
    if (g_handshake.back() != L'\\') g_handshake += L'\\';
    const std::string twoStubs = TypeSection("default", "Main", "Shared", true, "ShowProgressBar=yes\r\n") + StubSection("Main") +
                                 StubSection("Shared", "ReinstallCodes=1612");
    HANDLE blocked = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubBlocked");
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubRelease");
    {
        // Choice, confirmation, reinstall question, progress, finish.
        StubScript stub(L"0,1612,0,block");
        Scenario(L"Shots", twoStubs, L"", true, [&] {
            Shoot(kChoiceCaption, L"dialog_101_choice", IDOK);
            Shoot(kConfirmCaption, L"dialog_102_confirm_shared", 1);
            Shoot(kPromptCaption, L"prompt_reinstall", IDOK);
            ::WaitForSingleObject(blocked, 60000);
            Shoot(L"Please wait", L"dialog_progress", IDCANCEL);
            ::SetEvent(release);
            Shoot(kPromptCaption, L"prompt_finish", IDOK);
        });
    }
    {
        StubScript stub(L"1603");
        Scenario(L"Shots failure", twoStubs, L"", false, [&] {
            Shoot(kChoiceCaption, L"dialog_101_product_only", IDOK);  // pre-selected: shared too
            Shoot(kConfirmCaption, L"dialog_102_back", 103);
            ::Sleep(300);
            HWND choice = WaitForDialog(kChoiceCaption);
            if (choice) ::SendMessageW(::GetDlgItem(choice, 1000), BM_CLICK, 0, 0);
            Shoot(kChoiceCaption, L"dialog_101_after_back", IDOK);
            Shoot(kErrorCaption, L"prompt_failure", IDOK);
        });
    }
    {
        StubScript stub(L"3010");
        Scenario(L"Shots reboot", TypeSection("default", "Main", "", false) + StubSection("Main"), L"", false, [&] {
            Shoot(kChoiceCaption, L"dialog_101_reboot_run", IDOK);
            Shoot(kPromptCaption, L"prompt_reboot", IDCANCEL);
        });
    }
    Scenario(L"Shots help", "", L"/?", false, [&] { Shoot(L"Setup Package Help", L"dialog_help", IDOK); });
    Scenario(L"Shots more help", "", L"/morehelp", false, [&] { Shoot(L"Help", L"dialog_more_help", IDOK); });
    {
        HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"InstallationBootstrapperSingleInstance");
        Scenario(L"Shots second", "", L"", false, [&] { Shoot(L"Installation Error", L"prompt_already_running", IDOK); });
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
    Scenario(L"Shots missing", "", L"", false, [&] { Shoot(L"Installation Error", L"prompt_no_settings", IDOK); });
    {
        // Not an administrator: Administrators only for denying.
        HANDLE token = nullptr, restricted = nullptr;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) &&
            ::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
            SID_AND_ATTRIBUTES deny{admins, 0};
            if (::CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted)) {
                Uninstaller uninstaller(L"Shots not admin");
                std::thread run([&] { uninstaller.Run(L"", {}, restricted); });
                Shoot(L"Uninstallation", L"prompt_not_admin", IDOK);
                run.join();
                ::CloseHandle(restricted);
            }
            ::FreeSid(admins);
        }
        if (token) ::CloseHandle(token);
    }
    ::CloseHandle(blocked);
    ::CloseHandle(release);
    WriteText(g_handshake + L"done", std::to_string(g_failures));
    return g_failures == 0 ? 0 : 1;
}
