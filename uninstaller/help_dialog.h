// The help dialog (dialog 101 of the language module) and the uninstaller's
// own choice dialogs (101 and 102 of the executable).
#pragma once
#include <windows.h>

#include <vector>

namespace orvo::uninstaller {

// Shows the language module's help dialog filled with strings of textModule
// (a missing title keeps the dialog's own); false when it cannot be shown.
bool ShowHelpDialog(HMODULE dialogModule, HMODULE textModule, UINT titleId, const std::vector<UINT>& textIds);

// Dialog 101: IDOK with removeShared set from the choice, or what ended it.
INT_PTR ShowRemoveChoice(bool& removeShared);
// Dialog 102: IDC_NEXT, IDC_BACK or IDCANCEL.
INT_PTR ShowConfirmShared();

}  // namespace orvo::uninstaller
