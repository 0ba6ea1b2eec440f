#include "uninstaller/progress_dialog.h"

#include <commctrl.h>

#include "uninstaller/resource_ids.h"
#include "win32/message_wait.h"

namespace orvo::uninstaller {

ProgressDialog::ProgressDialog(HMODULE language, int steps)
    : m_language(language), m_steps(steps), m_ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!m_ready) return;
    m_thread.reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    // The dialog exists (or failed) before the first step is posted to it.
    if (m_thread) {
        HANDLE both[] = {m_ready.get(), m_thread.get()};
        ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
    }
}

ProgressDialog::~ProgressDialog() {
    if (!m_thread) return;
    if (m_dialog) ::PostMessageW(m_dialog, WM_CLOSE, 0, 0);
    // Keep our own windows answering while the dialog's thread ends.
    win32::WaitPumpingMessages(m_thread.get(), INFINITE);
}

void ProgressDialog::Step() {
    if (m_dialog) ::PostMessageW(m_dialog, WM_PROGRESS_STEP, 0, 0);
}

void ProgressDialog::SetText(const std::wstring& text) {
    if (m_dialog) ::SendMessageTimeoutW(::GetDlgItem(m_dialog, IDC_PROGRESS_TEXT), WM_SETTEXT, 0,
                                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000, nullptr);
}

INT_PTR CALLBACK ProgressDialog::DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* self = reinterpret_cast<ProgressDialog*>(lParam);
        ::SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, self->m_steps > 0 ? self->m_steps : 1);
        ::SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        return TRUE;
    }
    case WM_PROGRESS_STEP: ::SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0); return TRUE;
    case WM_CLOSE: ::DestroyWindow(dialog); return TRUE;
    case WM_DESTROY: ::PostQuitMessage(0); return TRUE;
    default: return FALSE;
    }
}

DWORD WINAPI ProgressDialog::ThreadMain(void* parameter) {
    auto* self = static_cast<ProgressDialog*>(parameter);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    HWND dialog = ::CreateDialogParamW(self->m_language, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, DialogProc,
                                       reinterpret_cast<LPARAM>(self));
    self->m_dialog = dialog;
    ::SetEvent(self->m_ready.get());
    if (!dialog) return 0;
    ::ShowWindow(dialog, SW_SHOW);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(dialog, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return 0;
}

}  // namespace orvo::uninstaller
