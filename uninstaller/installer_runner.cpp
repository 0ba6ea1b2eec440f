#include "uninstaller/installer_runner.h"

#include <windows.h>
#include <shellapi.h>

#include "setup_engine/argument_builder.h"
#include "setup_engine/output_name.h"
#include "setup_engine/text.h"
#include "support/sync/shared_security.h"
#include "uninstaller/download.h"
#include "uninstaller/existence_probe.h"
#include "uninstaller/msi_query.h"
#include "uninstaller/progress_dialog.h"
#include "uninstaller/property_store.h"
#include "uninstaller/reboot.h"
#include "uninstaller/resource_ids.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::uninstaller {
namespace {

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Tone() { ::Beep(880, 150); }

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH * 2, buffer);
    return length && length < MAX_PATH * 2 ? std::wstring(buffer, length) : std::wstring();
}

void MarkForCompatibilityAssistant(const std::wstring& path) {
    win32::UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER,
                          L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted", 0,
                          nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    const DWORD one = 1;
    ::RegSetValueExW(key.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
}

void SignalEvent(const wchar_t* name) {
    try {
        SharedSecurityAttributes attributes;
        CZelEvent event(false, true, name, attributes.get());
        event.Set();
    } catch (const char*) {
    }
}

}  // namespace

std::wstring InstallerRunner::ProgramOf(const std::wstring& outputPath) const {
    if (!m_current.IsMsi()) return outputPath;
    // A bare name would be looked up through the current directory (our
    // working folder) and the search path: take the system's own program.
    if (m_current.file.find_first_of(L"\\/:") != std::wstring::npos) return m_current.file;
    std::wstring program = m_engine.Paths().system32 + L"\\" + m_current.file;
    if (m_current.file.find(L'.') == std::wstring::npos) program += L".exe";
    return program;
}

InstallerResult InstallerRunner::Run(const std::wstring& section, bool prerequisite, bool checkOnly, ProgressDialog* progress) {
    InstallerResult result;
    m_current = setup::InstallerSettings{};
    m_downloaded = false;
    if (section.empty()) {
        result.settingsError = true;
        return result;
    }
    setup::SettingsReader reader(m_settings, m_engine.Paths(), [this](const std::wstring& line) { Log(line); });
    std::wstring missingKey;
    const int read = reader.ReadInstaller(section, m_current, &missingKey);
    if (read != setup::kSettingsOk) {
        if (read == setup::kMissingKey) m_engine.UI().ErrorBox(IDS_MISSING_KEY, {missingKey, section});
        else if (!m_settings.SectionHasContent(section)) m_engine.UI().ErrorBox(IDS_NO_SECTION, {section});
        else m_engine.UI().ErrorBox(IDS_NO_SECTION, {section});
        Log(L"RunInstaller - Failed to read the installer-specific section in Settings.");
        result.settingsError = true;
        return result;
    }
    const bool extract = !(m_current.flags & setup::kDoNotExtract);
    const std::wstring folder = extract ? m_engine.WorkFolder() : m_engine.SourceDirectory();
    std::wstring outputPath;
    bool productCodeOnly = false;
    if (m_current.IsMsi()) {
        const auto name = setup::ParseMsiPackageName(m_current.arguments);
        if (name.found) {
            productCodeOnly = name.isProductCode;
            if (name.isProductCode && m_current.productCode.empty()) m_current.productCode = name.name;
            outputPath = setup::JoinOutputPath(folder, name.name);
        } else {
            Log(L"GetOutputFileName - The file or product code could not be found in the command-line arguments.");
        }
    } else {
        outputPath = setup::JoinOutputPath(folder, m_current.file);
    }
    bool extracted = false;
    if (extract) {
        if (outputPath.empty() || productCodeOnly) {
            m_engine.UI().ErrorBox(IDS_NO_OUTPUT_NAME, {m_current.name});
            result.settingsError = true;
            return result;
        }
        std::wstring resourceName = L"INSTALLER_" + m_current.name;
        for (auto& c : resourceName)
            if (c == L' ') c = L'_';
        const void* data = nullptr;
        DWORD size = 0;
        HMODULE modules[] = {m_engine.ParentLanguage(), m_engine.ExeModule()};
        for (HMODULE module : modules) {
            HRSRC found = module ? ::FindResourceW(module, resourceName.c_str(), L"INSTALLER") : nullptr;
            HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
            if (loaded && (data = ::LockResource(loaded)) != nullptr) {
                size = ::SizeofResource(module, found);
                break;
            }
        }
        if (!data || !WriteNewFile(outputPath, data, size)) {
            Log(L"RunInstaller - Failed to extract the installer " + resourceName + L".");
            m_engine.UI().ErrorBox(IDS_EXTRACT_INSTALLER_FAILED, {m_current.name});
            result.settingsError = true;
            return result;
        }
        extracted = true;
    }
    const bool download = !extract && m_current.dynamicInstall != 0 && !productCodeOnly && !outputPath.empty() &&
                          !FileExists(outputPath);
    const auto removeExtracted = [&] {
        if (extracted) ::DeleteFileW(outputPath.c_str());
    };

    bool reinstall = false;
    const bool allowed = AllowToRun(productCodeOnly ? std::wstring() : outputPath, reinstall);
    if (checkOnly) {
        removeExtracted();
        result.reinstall = reinstall;
        return result;
    }
    if (!allowed) {
        removeExtracted();
        Log(L"RunInstaller - Skipping this installer.");
        result.exitCode = kSkipped;
        return result;
    }
    if (download) {
        const size_t slash = outputPath.find_last_of(L'\\');
        outputPath = m_engine.WorkFolder() + outputPath.substr(slash + 1);
        if (progress) progress->SetText(m_engine.UI().Text(IDS_DOWNLOADING, {m_current.name}));
        const unsigned tone = static_cast<unsigned>(m_current.playTone > 0 ? m_current.playTone : 0);
        if (!Download(m_current.url, outputPath, tone, tone ? std::function<void()>(Tone) : nullptr)) {
            RecordProperty(L"DownloadErrorProperty", m_current.name);
            Log(L"RunInstaller - Dynamic Download of the installer file Failed");
            result.exitCode = 50;
            return result;
        }
        m_downloaded = true;
    }

    setup::ArgumentInputs in;
    in.arguments = m_current.arguments;
    in.isMsi = m_current.IsMsi();
    in.addSourceDir = (m_current.flags & setup::kAddSourceDir) != 0;
    in.sourceDirectory = m_engine.SourceDirectory();
    if (!in.sourceDirectory.empty() && in.sourceDirectory.back() == L'\\') in.sourceDirectory.pop_back();
    in.reinstall = reinstall;
    in.removeShared = m_engine.removeShared;
    in.allowXddm = m_engine.Command().Has(setup::kFlagAllowXddm);
    in.quiet = m_engine.Command().Has(setup::kFlagQuiet);
    const auto passThrough = m_engine.Command().passThrough.find(setup::ToLower(section));
    if (passThrough != m_engine.Command().passThrough.end()) in.passThrough = passThrough->second;
    in.logging = m_engine.Logging();
    in.logFolder = m_engine.LogFolder();
    in.installerName = m_current.name;
    in.silent = m_engine.Silent();
    const std::wstring arguments = setup::BuildArguments(in, [this](const std::wstring& line) { Log(line); });

    const std::wstring previousDirectory = CurrentDirectory();
    if (extracted || m_downloaded) ::SetCurrentDirectoryW(m_engine.WorkFolder().c_str());
    if ((m_current.flags & setup::kProgramCompatibility) && !outputPath.empty()) MarkForCompatibilityAssistant(outputPath);

    const std::wstring progressText = m_engine.UI().Text(prerequisite ? IDS_REMOVING : IDS_INSTALLING, {m_current.name});
    if (progress) progress->SetText(progressText);
    const std::wstring program = ProgramOf(outputPath);
    if (!m_current.IsMsi() && !FileExists(program)) {
        Log(L"Run - File \"" + program + L"\" does not exist. Continuing with installation.");
        result.exitCode = ERROR_FILE_NOT_FOUND;
    } else {
        Log(L"Run - " + program + L" " + arguments);
        result.exitCode = Launch(program, arguments);
        Log(L"Run - Exit code: " + std::to_wstring(result.exitCode) + L".");
    }
    if (!previousDirectory.empty()) ::SetCurrentDirectoryW(previousDirectory.c_str());
    removeExtracted();
    return result;
}

uint32_t InstallerRunner::Launch(const std::wstring& program, const std::wstring& arguments) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;  // no box of ours needs to own the installer's
    info.lpVerb = L"open";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOW;
    if (!::ShellExecuteExW(&info) || !info.hProcess) {
        const DWORD error = ::GetLastError();
        Log(L"Run - Could not start " + program + L" (error " + std::to_wstring(error) + L").");
        return error ? error : ERROR_FILE_NOT_FOUND;
    }
    win32::UniqueHandle process(info.hProcess);
    const DWORD step = m_current.playTone > 0 ? static_cast<DWORD>(m_current.playTone) * 1000 : INFINITE;
    // Our windows (the prompts' owner, the progress dialog) keep answering.
    while (!win32::WaitPumpingMessages(process.get(), step))
        if (step != INFINITE) Tone();
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

bool InstallerRunner::AllowToRun(const std::wstring& packagePath, bool& reinstall) {
    SystemProbe probe(m_engine.Paths(), packagePath);
    const int outcome = setup::EvaluateExistence(m_current.checkExistence, probe, [this](const std::wstring& l) { Log(l); });
    if (outcome == setup::kExistenceSkip) {
        Log(L"DoWeAllowInstallerToRun - Skipping this installer because of CheckExistence.");
        return false;
    }
    const bool skipIfInstalled = !(m_current.flags & setup::kForceRun) && outcome != setup::kExistencePresent;
    PackageIdentity identity;
    int answer = -2;
    if (!m_current.upgradeCode.empty() && !m_current.productVersion.empty() && !m_current.productCode.empty()) {
        identity = {m_current.productCode, m_current.upgradeCode, m_current.productVersion};
        answer = CompareInstalledVersion(identity);
    } else if (!m_current.productInfoFile.empty() && FileExists(m_current.productInfoFile)) {
        if (ReadPackageIdentity(m_current.productInfoFile, identity)) answer = CompareInstalledVersion(identity);
    } else if (m_current.IsMsi() && !packagePath.empty() && FileExists(packagePath)) {
        if (ReadPackageIdentity(packagePath, identity)) answer = CompareInstalledVersion(identity);
    }
    if (answer == 0 || answer == 1) {
        if (skipIfInstalled) {
            Log(L"DoWeAllowInstallerToRun - Skipping this installer because of version.");
            return false;
        }
        Log(L"DoWeAllowInstallerToRun - Installer is the same or newer but bypassing the skip.");
    }
    reinstall = outcome == setup::kExistencePresent || answer == -1;
    return true;
}

bool InstallerRunner::AskReboot(int mode) {
    if (m_engine.Silent()) return false;
    const bool okCancel = mode == setup::kRebootModeFinishDeferred || mode == setup::kRebootModeImmediate ||
                          mode == setup::kRebootModeDriver;
    if (m_engine.setupType.rebootWave) {
        const wchar_t* wave = mode == setup::kRebootModeDriver ? L"IDR_REBOOT_OKCANCEL3_WAV"
                              : okCancel ? (mode == setup::kRebootModeFinishDeferred ? L"IDR_REBOOT_OKCANCEL1_WAV" : L"IDR_REBOOT_OKCANCEL2_WAV")
                                         : (mode == setup::kRebootModeFinishDeferredForced ? L"IDR_REBOOT_OK1_WAV" : L"IDR_REBOOT_OK2_WAV");
        m_engine.UI().PlayWave(wave);
    }
    const std::wstring text = m_engine.UI().Text(mode == setup::kRebootModeDriver ? IDS_REBOOT_SPEECH : IDS_REBOOT);
    const std::wstring caption = m_engine.UI().Text(IDS_PROMPT_CAPTION, {m_engine.setupType.name});
    const int answer = m_engine.UI().Show(text, caption, (okCancel ? MB_OKCANCEL : MB_OK) | MB_ICONINFORMATION);
    return answer == IDOK || answer == IDYES;
}

bool InstallerRunner::RunCleanupTool() {
    HMODULE modules[] = {m_engine.ParentLanguage(), m_engine.ExeModule()};
    for (HMODULE module : modules) {
        HRSRC found = module ? ::FindResourceW(module, L"INSTALLER_CLEANUP", L"INSTALLER") : nullptr;
        HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
        const void* data = loaded ? ::LockResource(loaded) : nullptr;
        if (!data) continue;
        const std::wstring tool = m_engine.WorkFolder() + L"MsiZap.exe";
        if (!WriteNewFile(tool, data, ::SizeofResource(module, found))) return false;
        const std::wstring previous = CurrentDirectory();
        ::SetCurrentDirectoryW(m_engine.WorkFolder().c_str());
        const std::wstring target = m_current.productCode.empty() ? m_current.name : m_current.productCode;
        const uint32_t code = Launch(tool, L"TW! " + target);
        if (!previous.empty()) ::SetCurrentDirectoryW(previous.c_str());
        ::DeleteFileW(tool.c_str());
        return code == 0;
    }
    return false;
}

int InstallerRunner::Classify(uint32_t exitCode, bool retrying) {
    const auto plan = setup::ClassifyExitCode(exitCode, m_current.exitRules, retrying, m_downloaded);
    m_engine.deferredBits |= plan.deferredBits;
    if (plan.signalEvent) SignalEvent(plan.signalEvent);
    if (plan.recordInstallError) RecordProperty(L"InstallErrorProperty", m_current.name);
    if (plan.becomeSilent) m_engine.BecomeSilent();
    if (!plan.logLine.empty()) Log(plan.logLine);
    if (plan.failurePrompt) {
        const std::wstring& package = m_engine.setupType.name;
        m_engine.UI().Show(m_engine.UI().Text(IDS_FAILED_COMPONENT, {package, m_current.name}),
                           m_engine.UI().Text(IDS_FAIL_CAPTION, {package}), MB_OK | MB_ICONERROR);
    }
    switch (plan.ask) {
    case setup::ExitCodePlan::Ask::None: return plan.action;
    case setup::ExitCodePlan::Ask::Reboot:
        if (!AskReboot(plan.rebootMode)) return plan.action;
        StartReboot();
        return setup::kActionRebootStarted;
    case setup::ExitCodePlan::Ask::Reinstall: {
        m_engine.UI().PlayWave(L"IDR_REINSTALL_WAV");
        const int answer = m_engine.UI().Show(m_engine.UI().Text(IDS_REINSTALL, {m_current.name}),
                                              m_engine.UI().Text(IDS_PROMPT_CAPTION, {m_engine.setupType.name}),
                                              MB_OKCANCEL | MB_ICONQUESTION);
        if (answer != IDOK) {
            Log(L"CheckExitCode - The user decided to cancel the installation.");
            return setup::kActionStop;
        }
        if (!RunCleanupTool()) {
            Log(L"CheckExitCode - Failed to cleanup the existing installation.");
            return setup::kActionStop;
        }
        return plan.actionIfAccepted;
    }
    }
    return plan.action;
}

}  // namespace orvo::uninstaller
