// The setup-package engine of one process: its context (paths, log, language
// module, single-instance mutex, settings file) and its preparation.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "setup_engine/command_line.h"
#include "setup_engine/path_variables.h"
#include "setup_engine/settings.h"
#include "support/sync/zel_sync_object.h"
#include "uninstaller/prompts.h"
#include "uninstaller/run_folder.h"
#include "uninstaller/setup_log.h"
#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace orvo::uninstaller {

// Loads a module for its resources only: nothing in it runs.
HMODULE LoadResourceModule(const std::wstring& path);

struct MoreHelp {
    HMODULE module = nullptr;
    UINT titleId = 0;
    std::vector<UINT> stringIds;
};

class SetupEngine {
public:
    // Start-up: paths, package name, log, setup type, path variables.
    SetupEngine(setup::CommandLine commandLine, HMODULE parentLanguage);
    ~SetupEngine();
    SetupEngine(const SetupEngine&) = delete;
    SetupEngine& operator=(const SetupEngine&) = delete;

    // Runs once; true when the engine can run. False ends the process with 13.
    bool Prepare();

    void Log(const std::wstring& text) { m_log.Write(text); }
    void SetMoreHelp(MoreHelp help) { m_moreHelp = std::move(help); }

    const setup::CommandLine& Command() const { return m_command; }
    const std::wstring& PackageName() const { return m_packageName; }
    const std::wstring& ExePath() const { return m_exePath; }
    const std::wstring& SourceDirectory() const { return m_sourceDirectory; }  // trailing backslash
    const std::wstring& TempFolder() const { return m_tempFolder; }            // the user's, trailing backslash
    const std::wstring& WorkFolder() const { return m_runFolder.Path(); }      // this run's, trailing backslash
    const std::wstring& SettingsPath() const { return m_settingsPath; }
    // The settings text, read once through the held handle: what was there
    // when the run began is what every installer is run with.
    std::wstring SettingsText() const;
    std::wstring LogFolder() const;
    const std::wstring& SetupType() const { return m_setupType; }
    const setup::PathVariables& Paths() const { return m_paths; }
    bool Logging() const { return m_log.Enabled(); }
    HMODULE ParentLanguage() const { return m_parentLanguage; }
    HMODULE ExeModule() const { return ::GetModuleHandleW(nullptr); }
    Prompts& UI() { return m_prompts; }
    bool Silent() const { return m_prompts.Silent(); }
    void BecomeSilent() { m_prompts.SetSilent(true); }

    // The run's shared state.
    setup::SetupTypeSettings setupType;
    bool removeShared = false;
    uint32_t deferredBits = 0;
    int rebootNeeded = 0;

private:
    bool PrepareLanguage();
    bool TakeSingleInstance();
    bool ShowHelp(const MoreHelp* help);
    bool ExtractSettingsTo(const std::wstring& path);
    void AcquireSettings();
    bool Unpack(const std::wstring& directory);
    // A resource of the parent language module when it has one, else of the
    // executable.
    bool FindPackageResource(const wchar_t* type, const wchar_t* name, const void** data, DWORD* size) const;

    // Declared first: removed last, after every file in it is closed.
    RunFolder m_runFolder;
    setup::CommandLine m_command;
    HMODULE m_parentLanguage;
    std::wstring m_exePath, m_packageName, m_sourceDirectory, m_tempFolder, m_languagePath, m_settingsPath, m_setupType;
    setup::PathVariables m_paths;
    SetupLog m_log;
    // The language module outlives the prompts, which stop its waves.
    win32::UniqueModule m_language;
    Prompts m_prompts;
    std::unique_ptr<CZelMutex> m_singleInstance;
    win32::UniqueFileHandle m_settingsFile;
    MoreHelp m_moreHelp;
    bool m_prepared = false;
    bool m_prepareResult = false;
};

}  // namespace orvo::uninstaller
