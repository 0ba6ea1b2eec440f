// Resource ids of the uninstaller and of its language module (also read by
// windres: plain #defines only).
#pragma once

// The uninstaller's own string table.
#define IDS_UNINSTALL_CAPTION 1
#define IDS_NOT_ADMIN 2
#define IDS_HELP_DEFAULT 3
#define IDS_HELP_SILENT 4
#define IDS_HELP_SILENT_REMOVE_SHARED 5
#define IDS_HELP_OPTIONS 6

// The uninstaller's dialogs.
#define IDD_REMOVE_CHOICE 101
#define IDD_CONFIRM_SHARED 102
#define IDC_REMOVE_PRODUCT 1000
#define IDC_REMOVE_SHARED 1001
#define IDC_BACK 103
#define IDC_NEXT 1

// Language module: dialogs and controls.
#define IDD_HELP 101
#define IDD_PROGRESS 102
#define IDC_HELP_TEXT 1100
#define IDC_PROGRESS_TEXT 1101
#define IDC_PROGRESS_BAR 1102
#define WM_PROGRESS_STEP 1029

// Language module: strings.
#define IDS_ERROR_CAPTION 1
#define IDS_LOAD_LANGUAGE_FAILED 3
#define IDS_EXTRACT_SETTINGS_FAILED 8
#define IDS_NO_SETTINGS 9
#define IDS_NO_INSTALLERS 10
#define IDS_MISSING_KEY 11
#define IDS_HELP_FAILED 12
#define IDS_WELCOME_FAILED 13
#define IDS_NO_SECTION 15
#define IDS_EXTRACT_INSTALLER_FAILED 16
#define IDS_NO_OUTPUT_NAME 18
#define IDS_MORE_HELP_FAILED 19
#define IDS_HELP_TITLE 20
#define IDS_HELP_BODY 21
#define IDS_PROMPT_CAPTION 55
#define IDS_REBOOT 58
#define IDS_FAIL_CAPTION 59
#define IDS_FAILED_COMPONENT 60
#define IDS_REINSTALL 61
#define IDS_NEED_ADMIN 62
#define IDS_NEED_POWER_USER 63
#define IDS_REBOOT_SPEECH 70
#define IDS_UNINSTALL_COMPLETE 71
#define IDS_INSTALL_COMPLETE 74
#define IDS_ALREADY_RUNNING 75
#define IDS_DOWNLOADING 77
#define IDS_INSTALLING 78
#define IDS_EXTRACTING 79
#define IDS_REMOVING 80
#define IDS_PLEASE_WAIT 81
