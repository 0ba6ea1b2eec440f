#include "uninstaller/help_dialog.h"

#include <string>

#include "uninstaller/prompts.h"
#include "uninstaller/resource_ids.h"

namespace orvo::uninstaller {
namespace {

struct HelpText {
    std::wstring title;
    std::wstring body;
};

INT_PTR CALLBACK HelpProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto* text = reinterpret_cast<const HelpText*>(lParam);
        if (!text->title.empty()) ::SetWindowTextW(dialog, text->title.c_str());
        ::SetDlgItemTextW(dialog, IDC_HELP_TEXT, text->body.c_str());
        ::SetForegroundWindow(dialog);
        // Focus on OK, so the text is not shown all selected.
        ::SetFocus(::GetDlgItem(dialog, IDOK));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default: break;
    }
    return FALSE;
}

INT_PTR CALLBACK ChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* removeShared = reinterpret_cast<bool*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::CheckRadioButton(dialog, IDC_REMOVE_PRODUCT, IDC_REMOVE_SHARED,
                           *removeShared ? IDC_REMOVE_SHARED : IDC_REMOVE_PRODUCT);
        ::SetForegroundWindow(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            auto* removeShared = reinterpret_cast<bool*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            *removeShared = ::IsDlgButtonChecked(dialog, IDC_REMOVE_SHARED) == BST_CHECKED;
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL: ::EndDialog(dialog, IDCANCEL); return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

INT_PTR CALLBACK ConfirmProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: ::SetForegroundWindow(dialog); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NEXT:
        case IDC_BACK:
        case IDCANCEL: ::EndDialog(dialog, LOWORD(wParam)); return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

}  // namespace

bool ShowHelpDialog(HMODULE dialogModule, HMODULE textModule, UINT titleId, const std::vector<UINT>& textIds) {
    if (!dialogModule) return false;
    HelpText text;
    text.title = LoadModuleString(textModule, titleId);
    for (UINT id : textIds) {
        if (!text.body.empty()) text.body += L"\r\n\r\n";
        text.body += LoadModuleString(textModule, id);
    }
    return ::DialogBoxParamW(dialogModule, MAKEINTRESOURCEW(IDD_HELP), nullptr, HelpProc, reinterpret_cast<LPARAM>(&text)) > 0;
}

INT_PTR ShowRemoveChoice(bool& removeShared) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_REMOVE_CHOICE), nullptr, ChoiceProc,
                             reinterpret_cast<LPARAM>(&removeShared));
}

INT_PTR ShowConfirmShared() {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIRM_SHARED), nullptr, ConfirmProc, 0);
}

}  // namespace orvo::uninstaller
