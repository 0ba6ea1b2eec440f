#include "uninstaller/uninstall_run.h"

#include <windows.h>

#include "setup_engine/memory_profile.h"
#include "setup_engine/text.h"
#include "uninstaller/admin.h"
#include "uninstaller/installer_runner.h"
#include "uninstaller/progress_dialog.h"
#include "uninstaller/property_store.h"
#include "uninstaller/reboot.h"
#include "uninstaller/resource_ids.h"
#include "win32/unique_reg_key.h"

namespace orvo::uninstaller {
namespace {

constexpr const wchar_t* kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr int kRebootStartedResult = 1641;
constexpr int kRebootNeededResult = 3010;

}  // namespace

int UninstallRun::Load() {
    ClearPropertyStore();
    const std::wstring& path = m_engine.SettingsPath();
    if (path.empty() || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Log(L"DoSettings_Uninstall - No Settings file to run.");
        m_engine.UI().ErrorBox(IDS_NO_SETTINGS);
        return setup::kNoSettingsFile;
    }
    // Parsed once, as the profile functions would read it (the readers are
    // compared on a fuzzed corpus): no installer sees a different file.
    m_settings = std::make_unique<setup::MemoryProfile>(m_engine.SettingsText());
    setup::SettingsReader reader(*m_settings, m_engine.Paths(), [this](const std::wstring& line) { Log(line); });
    const std::wstring& type = m_engine.SetupType();
    if (reader.ReadSetupType(type, m_engine.setupType) != setup::kSettingsOk) {
        if (!type.empty()) m_engine.UI().ErrorBox(IDS_NO_INSTALLERS, {type});
        return setup::kSettingsError;
    }
    auto& settings = m_engine.setupType;
    m_engine.removeShared = settings.removeShared;
    ChooseUpgrade();
    // Package-level requirements are recorded, not enforced: the uninstaller
    // must be able to remove what was installed wherever it was installed.
    if (!settings.reqOS.empty() || !settings.blockOS.empty() || !settings.reqPlatform.empty())
        Log(L"DoSettings_Uninstall - ReqOS, BlockOS and ReqPlatform are not enforced for an uninstall.");
    if (settings.reqPermission == L"admin" && !IsAdministrator()) {
        m_engine.UI().ErrorBox(IDS_NEED_ADMIN);
        return 5;
    }
    if (settings.reqPermission == L"poweruser" && !IsPowerUserOrAdministrator()) {
        m_engine.UI().ErrorBox(IDS_NEED_POWER_USER);
        return 5;
    }
    return 0;
}

void UninstallRun::ChooseUpgrade() {
    auto& settings = m_engine.setupType;
    const auto takeUpgrade = [&settings](const std::wstring& section) {
        settings.preInstall += L"|" + section;
        settings.mainInstall.clear();
    };
    if (!settings.upgradeInstall.empty()) {
        InstallerRunner check(m_engine, *m_settings);
        if (check.Run(settings.upgradeInstall, true, true).reinstall) {
            Log(L"SetListSection - Minor upgrade with " + settings.upgradeInstall + L".");
            takeUpgrade(settings.upgradeInstall);
            return;
        }
    }
    const std::wstring& source = m_engine.SourceDirectory();
    const std::wstring& temp = m_engine.TempFolder();
    if (!settings.majorUpgradeInstall.empty() && temp.size() >= source.size() &&
        setup::IEquals(temp.substr(0, source.size()), source)) {
        Log(L"SetListSection - Major upgrade with " + settings.majorUpgradeInstall + L".");
        takeUpgrade(settings.majorUpgradeInstall);
        return;
    }
    Log(L"SetListSection - Run the installer as usual.");
}

void UninstallRun::WriteRunOnce() {
    const auto& command = m_engine.Command();
    const std::wstring lower = setup::ToLower(command.raw);
    // Quoted: under "Program Files" an unquoted path would start "C:\Program".
    std::wstring data = L"\"" + m_engine.ExePath() + L"\" " + command.raw;
    if (m_engine.setupType.welcomeDlg && lower.find(L"nowelcomedlg") == std::wstring::npos) data += L" /NoWelcomeDlg";
    if (m_engine.setupType.welcomeWave && lower.find(L"nowelcomewave") == std::wstring::npos) data += L" /NoWelcomeWave";
    if (lower.find(L"runningafterreboot") == std::wstring::npos) data += L" /RunningAfterReboot";
    win32::UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring name = m_engine.PackageName() + L"_SetupPackage";
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    Log(L"DoSettings_Uninstall - RunOnce: " + data);
}

void UninstallRun::DeleteRunOnce() {
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key.get(), (m_engine.PackageName() + L"_SetupPackage").c_str());
}

int UninstallRun::FinishPrompt() {
    auto& ui = m_engine.UI();
    const std::wstring caption = ui.Text(IDS_PROMPT_CAPTION, {m_engine.setupType.name});
    if (m_engine.deferredBits) {
        InstallerRunner prompts(m_engine, *m_settings);
        const bool forced = (m_engine.deferredBits & setup::kDeferredForced) != 0;
        if (prompts.AskReboot(forced ? setup::kRebootModeFinishDeferredForced : setup::kRebootModeFinishDeferred)) {
            StartReboot();
            return kRebootStartedResult;
        }
        // Declined or not asked (silent): the reboot is still needed.
        return kRebootNeededResult;
    }
    if (m_engine.setupType.finishWave) ui.PlayWave(L"IDR_FINISH_WAV");
    ui.Show(ui.Text(IDS_UNINSTALL_COMPLETE), caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}

int UninstallRun::Run() {
    auto& settings = m_engine.setupType;
    WriteRunOnce();
    InstallerRunner runner(m_engine, *m_settings);
    int lastAction = setup::kActionContinue;
    // The actions common to the main installer and the prerequisites: -1 to
    // go on, else the run's result.
    const auto handle = [&](int action, uint32_t exitCode) -> int {
        lastAction = action;
        switch (action) {
        case setup::kActionStop:
        case setup::kActionDeclinedForcedReboot: DeleteRunOnce(); return static_cast<int>(exitCode);
        case setup::kActionRebootStarted: return kRebootStartedResult;
        case setup::kActionReturn:
            if (m_engine.rebootNeeded == 0) m_engine.rebootNeeded = 1;
            lastAction = setup::kActionContinue;
            return -1;
        default: lastAction = setup::kActionContinue; return -1;
        }
    };
    if (!settings.mainInstall.empty()) {
        const auto result = runner.Run(settings.mainInstall, false, false);
        if (result.settingsError) {
            DeleteRunOnce();
            return setup::kSettingsError;
        }
        const int end = handle(runner.Classify(result.exitCode, false), result.exitCode);
        if (end >= 0) return end;
    }
    if (m_engine.removeShared) {
        std::vector<std::wstring> list;
        for (const auto& name : setup::Split(settings.preInstall, L'|'))
            if (!setup::RemoveBlanks(name).empty()) list.push_back(setup::RemoveBlanks(name));
        std::unique_ptr<ProgressDialog> progress;
        if (!list.empty() && settings.showProgressBar)
            progress = std::make_unique<ProgressDialog>(m_engine.UI().Language(), static_cast<int>(list.size()));
        for (const auto& section : list) {
            auto result = runner.Run(section, true, false, progress.get());
            if (result.settingsError) {
                DeleteRunOnce();
                return setup::kSettingsError;
            }
            int action = runner.Classify(result.exitCode, false);
            if (action == setup::kActionRetry) {
                result = runner.Run(section, true, false, progress.get());
                if (result.settingsError) {
                    DeleteRunOnce();
                    return setup::kSettingsError;
                }
                action = runner.Classify(result.exitCode, true);
                if (action == setup::kActionRetry) action = setup::kActionStop;
            }
            const int end = handle(action, result.exitCode);
            if (end >= 0) return end;
            if (progress) progress->Step();
        }
    } else {
        Log(L"DoSettings_Uninstall - Skipping uninstallation of prerequisites");
    }
    DeleteRunOnce();
    if (settings.finishUninstallDlg) {
        const int finish = FinishPrompt();
        if (finish != 0) return finish;
    } else if (m_engine.deferredBits) {
        return kRebootNeededResult;
    }
    return m_engine.rebootNeeded == 1 ? kRebootNeededResult : lastAction;
}

}  // namespace orvo::uninstaller
