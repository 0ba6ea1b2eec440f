// The uninstall run: the main installer, then (when chosen) each shared
// component, with the RunOnce entry that resumes an interrupted run, and the
// closing prompts.
#pragma once
#include <memory>

#include "setup_engine/profile_source.h"
#include "uninstaller/engine.h"

namespace orvo::uninstaller {

class UninstallRun {
public:
    explicit UninstallRun(SetupEngine& engine) : m_engine(engine) {}

    // Settings file, setup type and permission: 0 to go on, else the result.
    int Load();
    // Everything after the user's choices; the process exit code.
    int Run();

private:
    // Minor or major upgrade: the upgrade installer joins the prerequisites
    // and the main installer is dropped.
    void ChooseUpgrade();
    void WriteRunOnce();
    void DeleteRunOnce();
    int FinishPrompt();
    void Log(const std::wstring& text) { m_engine.Log(text); }

    SetupEngine& m_engine;
    std::unique_ptr<setup::ProfileSource> m_settings;
};

}  // namespace orvo::uninstaller
