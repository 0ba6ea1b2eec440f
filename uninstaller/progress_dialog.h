// The "Please wait" dialog (dialog 102 of the language module), run on a
// thread of its own while prerequisites are removed.
#pragma once
#include <windows.h>

#include <string>

#include "win32/unique_handle.h"

namespace orvo::uninstaller {

class ProgressDialog {
public:
    ProgressDialog(HMODULE language, int steps);
    ~ProgressDialog();  // closes the dialog and joins its thread
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    void Step();
    void SetText(const std::wstring& text);

private:
    static DWORD WINAPI ThreadMain(void* self);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HMODULE m_language;
    int m_steps;
    win32::UniqueHandle m_ready;
    win32::UniqueHandle m_thread;
    HWND m_dialog = nullptr;
};

}  // namespace orvo::uninstaller
