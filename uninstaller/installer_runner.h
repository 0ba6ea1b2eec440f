// Running one installer: reading its section, finding and extracting its
// file, deciding whether it runs, building its command line, starting it and
// waiting, and acting on its exit code.
#pragma once
#include <cstdint>
#include <string>

#include "setup_engine/profile_source.h"
#include "setup_engine/settings.h"
#include "uninstaller/engine.h"

namespace orvo::uninstaller {

constexpr uint32_t kSkipped = 0xFFFFFFFF;

struct InstallerResult {
    uint32_t exitCode = 0;
    bool settingsError = false;  // the run stops with 13
    bool reinstall = false;      // check-only: it would be a reinstall
};

class ProgressDialog;

class InstallerRunner {
public:
    InstallerRunner(SetupEngine& engine, const setup::ProfileSource& settings) : m_engine(engine), m_settings(settings) {}

    InstallerResult Run(const std::wstring& section, bool prerequisite, bool checkOnly, ProgressDialog* progress = nullptr);
    // The action for the last installer's exit code, prompts answered.
    int Classify(uint32_t exitCode, bool retrying);
    // Reboot prompt of the given mode; true when accepted.
    bool AskReboot(int mode);

private:
    bool AllowToRun(const std::wstring& packagePath, bool& reinstall);
    bool RunCleanupTool();
    uint32_t Launch(const std::wstring& program, const std::wstring& arguments);
    std::wstring ProgramOf(const std::wstring& outputPath) const;
    void Log(const std::wstring& text) { m_engine.Log(text); }

    SetupEngine& m_engine;
    const setup::ProfileSource& m_settings;
    setup::InstallerSettings m_current;
    bool m_downloaded = false;
};

}  // namespace orvo::uninstaller
