// The settings model: a setup-type section and the installer sections it
// names, read through a profile source.
#pragma once
#include <cstdint>
#include <string>

#include "setup_engine/existence_rules.h"
#include "setup_engine/exit_codes.h"
#include "setup_engine/path_variables.h"
#include "setup_engine/profile_source.h"

namespace orvo::setup {

// Results of reading settings (the run's exit codes for these cases).
constexpr int kSettingsOk = 0;
constexpr int kNoSettingsFile = 2;
constexpr int kSettingsError = 13;
constexpr int kMissingKey = 161;

struct SetupTypeSettings {
    std::wstring preInstall, mainInstall, name;
    bool welcomeDlg = false, welcomeWave = false, rebootWave = false, showProgressBar = false;
    bool restartProductDlg = false, finishInstallDlg = false, finishUninstallDlg = true;
    bool removeShared = false, finishWave = true;
    std::wstring reqPermission, reqOS, blockOS, reqPlatform, checkExistence;
    int playTone = 0;
    std::wstring upgradeInstall, majorUpgradeInstall;
};

enum InstallerFlags : uint32_t { kForceRun = 0x1, kAddSourceDir = 0x2, kDoNotExtract = 0x4, kProgramCompatibility = 0x8 };

// Longest Arguments value (after path variables) and File value accepted;
// longer ones are refused, not cut.
constexpr size_t kMaxArgumentsChars = 999;
constexpr size_t kMaxFileChars = 259;

struct InstallerSettings {
    std::wstring name, file, arguments, productVersion, productCode, upgradeCode, productInfoFile, url;
    ExitCodeRules exitRules;
    int dynamicInstall = 0, playTone = 0;
    uint32_t flags = 0;
    std::wstring checkExistence;

    bool IsMsi() const;
};

class SettingsReader {
public:
    SettingsReader(const ProfileSource& source, const PathVariables& paths, LogLine log)
        : m_source(source), m_paths(paths), m_log(std::move(log)) {}

    // kSettingsOk, or kSettingsError (message 10 when neither list is set).
    int ReadSetupType(const std::wstring& type, SetupTypeSettings& out) const;
    // kSettingsOk; kSettingsError when the section is missing (message 15) or
    // a value is too long; kMissingKey when Name or File is missing
    // (message 11, missingKey names it).
    int ReadInstaller(const std::wstring& section, InstallerSettings& out, std::wstring* missingKey = nullptr) const;

private:
    std::wstring Text(const std::wstring& section, const wchar_t* key, size_t keep, const std::wstring& fallback = {}) const;
    bool YesNo(const std::wstring& section, const wchar_t* key, bool fallback) const;
    void LogValue(const wchar_t* step, const wchar_t* key, const std::wstring& value) const;

    const ProfileSource& m_source;
    const PathVariables& m_paths;
    LogLine m_log;
};

}  // namespace orvo::setup
