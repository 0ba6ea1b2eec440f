#include "setup_engine/settings.h"

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

constexpr const wchar_t* kTypeStep = L"SetListSection";
constexpr const wchar_t* kInstallerStep = L"SetInstallerSection";

}  // namespace

bool InstallerSettings::IsMsi() const { return IContains(file, L"msiexec"); }

std::wstring SettingsReader::Text(const std::wstring& section, const wchar_t* key, size_t keep,
                                  const std::wstring& fallback) const {
    auto value = m_source.ReadString(section, key);
    if (!value) return fallback;
    if (value->size() > keep) value->resize(keep);
    return *value;
}

bool SettingsReader::YesNo(const std::wstring& section, const wchar_t* key, bool fallback) const {
    const auto value = m_source.ReadString(section, key);
    if (!value) return fallback;
    // Read into a four-character buffer: "yes" followed by anything is cut to "yes".
    return IEquals(value->substr(0, 3), L"yes");
}

void SettingsReader::LogValue(const wchar_t* step, const wchar_t* key, const std::wstring& value) const {
    m_log(std::wstring(step) + L" - " + key + L" key: " + value + L".");
}

int SettingsReader::ReadSetupType(const std::wstring& type, SetupTypeSettings& out) const {
    out = SetupTypeSettings{};
    if (type.empty()) {
        m_log(L"SetListSection - Setup type is undefined.");
        return kSettingsError;
    }
    const auto text = [&](const wchar_t* key, size_t keep, std::wstring& field, bool lower = false) {
        field = Text(type, key, keep);
        if (lower) field = ToLower(field);
        LogValue(kTypeStep, key, field);
    };
    const auto yesNo = [&](const wchar_t* key, bool& field) {
        field = YesNo(type, key, field);
        LogValue(kTypeStep, key, field ? L"yes" : L"no");
    };
    text(L"PreInstall", 4095, out.preInstall);
    text(L"MainInstall", 99, out.mainInstall);
    out.name = Text(type, L"Name", 99, out.mainInstall);
    LogValue(kTypeStep, L"Name", out.name);
    yesNo(L"WelcomeDlg", out.welcomeDlg);
    yesNo(L"WelcomeWave", out.welcomeWave);
    text(L"ReqPermission", 24, out.reqPermission, true);
    yesNo(L"RebootWave", out.rebootWave);
    yesNo(L"ShowProgressBar", out.showProgressBar);
    yesNo(L"RestartProductDlg", out.restartProductDlg);
    yesNo(L"FinishInstallDlg", out.finishInstallDlg);
    yesNo(L"FinishUninstallDlg", out.finishUninstallDlg);
    yesNo(L"RemoveShared", out.removeShared);
    yesNo(L"FinishWave", out.finishWave);
    text(L"ReqOS", 14, out.reqOS, true);
    text(L"BlockOS", 14, out.blockOS, true);
    text(L"ReqPlatform", 9, out.reqPlatform, true);
    text(L"CheckExistence", 519, out.checkExistence, true);
    out.playTone = m_source.ReadInt(type, L"PlayTone", 0);
    LogValue(kTypeStep, L"PlayTone", std::to_wstring(out.playTone));
    text(L"UpgradeInstall", 99, out.upgradeInstall);
    text(L"MajorUpgradeInstall", 99, out.majorUpgradeInstall);
    if (out.preInstall.empty() && out.mainInstall.empty()) {
        m_log(L"SetListSection - No prerequisite installers nor a main installer was specified for the " + type +
              L" setup type.  At least one must be specified.");
        return kSettingsError;
    }
    return kSettingsOk;
}

int SettingsReader::ReadInstaller(const std::wstring& section, InstallerSettings& out, std::wstring* missingKey) const {
    out = InstallerSettings{};
    if (!m_source.SectionHasContent(section)) {
        m_log(L"SetInstallerSection - The section does not exist in Settings.");
        return kSettingsError;
    }
    const auto text = [&](const wchar_t* key, size_t keep, std::wstring& field) {
        field = Text(section, key, keep);
        LogValue(kInstallerStep, key, field);
    };
    // A value that would be cut is refused: a cut path or command line runs
    // something other than what the settings say.
    const auto whole = [&](const wchar_t* key, size_t limit, std::wstring& field, bool lower) {
        const auto value = m_source.ReadString(section, key);
        field = value ? m_paths.Replace(*value) : std::wstring();
        if (lower) field = ToLower(field);
        if (field.size() > limit) {
            m_log(std::wstring(L"SetInstallerSection - The ") + key + L" value is longer than " + std::to_wstring(limit) +
                  L" characters.");
            return false;
        }
        LogValue(kInstallerStep, key, field);
        return true;
    };
    const auto flag = [&](const wchar_t* key, uint32_t bit) {
        const bool on = YesNo(section, key, false);
        if (on) out.flags |= bit;
        LogValue(kInstallerStep, key, on ? L"yes" : L"no");
    };
    const auto codes = [&](const wchar_t* key, CodeList& field) {
        const std::wstring value = Text(section, key, 4095);
        field = ParseCodeList(value);
        LogValue(kInstallerStep, key, value);
    };
    text(L"Name", 99, out.name);
    if (!whole(L"File", kMaxFileChars, out.file, true)) return kSettingsError;
    if (!whole(L"Arguments", kMaxArgumentsChars, out.arguments, false)) return kSettingsError;
    text(L"ProductVersion", 49, out.productVersion);
    text(L"ProductCode", 49, out.productCode);
    text(L"UpgradeCode", 49, out.upgradeCode);
    if (!whole(L"ProductInfoFile", kMaxFileChars, out.productInfoFile, true)) return kSettingsError;
    text(L"URL", 519, out.url);
    out.exitRules.rebootMode = ToLower(Text(section, L"Reboot", 24, L"defer"));
    LogValue(kInstallerStep, L"Reboot", out.exitRules.rebootMode);
    codes(L"RebootCodes", out.exitRules.rebootCodes);
    codes(L"FailCodes", out.exitRules.failCodes);
    codes(L"ExitCodes", out.exitRules.exitCodes);
    codes(L"SilentCodes", out.exitRules.silentCodes);
    codes(L"ReinstallCodes", out.exitRules.reinstallCodes);
    out.dynamicInstall = m_source.ReadInt(section, L"DynamicInstall", 0);
    out.playTone = m_source.ReadInt(section, L"PlayTone", 0);
    flag(L"ForceRun", kForceRun);
    flag(L"AddSourceDir", kAddSourceDir);
    flag(L"DoNotExtract", kDoNotExtract);
    text(L"CheckExistence", 519, out.checkExistence);
    flag(L"ProgramCompatibility", kProgramCompatibility);
    const wchar_t* missing = out.name.empty() ? L"Name" : out.file.empty() ? L"File" : nullptr;
    if (missing) {
        m_log(std::wstring(L"SetInstallerSection - No ") + missing + L" key was specified in the section.");
        if (missingKey) *missingKey = missing;
        return kMissingKey;
    }
    return kSettingsOk;
}

}  // namespace orvo::setup
