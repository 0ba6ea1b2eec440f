// UninstallOrvoVistrel: removes the product and, on request, the shared
// components, through the setup-package engine.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "setup_engine/text.h"
#include "uninstaller/admin.h"
#include "uninstaller/engine.h"
#include "uninstaller/help_dialog.h"
#include "uninstaller/prompts.h"
#include "uninstaller/resource_ids.h"
#include "uninstaller/uninstall_run.h"
#include "win32/unique_local.h"
#include "win32/unique_module.h"

namespace orvo::uninstaller {
namespace {

constexpr int kExitNotAdmin = 5;
constexpr int kExitNotPrepared = 13;

// The side file of the user's language ("UninstallOrvoVistrel.deu"), else
// the English one; loaded for its resources only.
HMODULE LoadLanguageSideFile() {
    wchar_t abbreviation[16] = L"";
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, abbreviation, 16);
    std::wstring suffix = setup::ToLower(abbreviation);
    static const wchar_t* const kMap[][2] = {{L"ar", L"arb"}, {L"de", L"deu"}, {L"en", L"enu"}, {L"es", L"esn"},
                                             {L"fr", L"fra"}, {L"it", L"ita"}, {L"ms", L"msl"}, {L"nl", L"nld"},
                                             {L"ch", L"chs"}, {L"zh", L"zhh"}};
    for (const auto& entry : kMap)
        if (suffix.compare(0, 2, entry[0]) == 0) suffix = entry[1];
    wchar_t exe[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
    std::wstring base(exe, length);
    const size_t dot = base.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > base.find_last_of(L'\\')) base.resize(dot);
    HMODULE module = LoadResourceModule(base + L"." + suffix);
    if (!module) module = LoadResourceModule(base + L".enu");
    return module;
}

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    if (!argv) return args;
    win32::UniqueLocal owned(argv);
    for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
    return args;
}

int Run(SetupEngine& engine) {
    if (!IsAdministrator()) {
        const HMODULE self = ::GetModuleHandleW(nullptr);
        ::MessageBoxW(nullptr, LoadModuleString(self, IDS_NOT_ADMIN).c_str(), LoadModuleString(self, IDS_UNINSTALL_CAPTION).c_str(),
                      MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
        return kExitNotAdmin;
    }
    if (!engine.Prepare()) return kExitNotPrepared;
    UninstallRun run(engine);
    if (const int stop = run.Load()) return stop;
    // "Silent" and "SilentRemoveShared" are the documented unattended types:
    // whatever their spelling, no dialog waits for an answer, and the
    // settings say whether shared components go.
    if (!setup::IContains(engine.SetupType(), L"silent")) {
        for (;;) {
            bool removeShared = engine.setupType.removeShared;
            if (ShowRemoveChoice(removeShared) != IDOK) return 0;
            engine.removeShared = removeShared;
            if (!removeShared) break;
            const INT_PTR confirm = ShowConfirmShared();
            if (confirm == IDC_NEXT) break;
            if (confirm != IDC_BACK) return 0;
        }
    }
    return run.Run();
}

}  // namespace
}  // namespace orvo::uninstaller

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    using namespace orvo;
    setup::CommandLine line;
    const auto parsed = setup::ParseCommandLine(uninstaller::Arguments(), commandLine ? commandLine : L"", line);
    win32::UniqueModule parentLanguage(uninstaller::LoadLanguageSideFile());
    int result = 0;
    {
        uninstaller::SetupEngine engine(line, parentLanguage.get());
        engine.SetMoreHelp({instance, 0, {IDS_HELP_DEFAULT, IDS_HELP_SILENT, IDS_HELP_SILENT_REMOVE_SHARED, IDS_HELP_OPTIONS}});
        if (!parsed.ok) {
            // Refused, never cut: a cut path or type would act on something else.
            engine.Log(L"ParseCommandLine - " + parsed.error);
            result = uninstaller::kExitNotPrepared;
        } else {
            result = uninstaller::Run(engine);
        }
    }
    return result;
}
