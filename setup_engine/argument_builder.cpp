#include "setup_engine/argument_builder.h"

#include "setup_engine/command_line.h"
#include "setup_engine/text.h"

namespace orvo::setup {

std::wstring BuildArguments(const ArgumentInputs& in, const LogLine& log) {
    std::wstring out = in.arguments;
    // Tested against what the section wrote, so an added property never hides
    // another one.
    const auto add = [&](bool wanted, const std::wstring& property, const std::wstring& text) {
        if (!wanted) return;
        if (IContains(in.arguments, property)) {
            log(L"AddToArguments - Did not add the " + property + L" property.");
            return;
        }
        out += text;
    };
    add(in.isMsi && in.addSourceDir, L"SOURCE_DIR", L" SOURCE_DIR=\"" + in.sourceDirectory + L"\"");
    if (in.isMsi && in.reinstall) {
        add(true, L"REINSTALL", L" REINSTALL=ALL");
        add(true, L"REINSTALLMODE", L" REINSTALLMODE=vomus");
    }
    add(in.isMsi && in.removeShared, L"REMOVESHARED", L" REMOVESHARED=1");
    add(in.isMsi && in.allowXddm, L"ALLOWXDDM", L" ALLOWXDDM=1");
    add(in.isMsi && in.quiet, L"IGNOREERROR", L" IGNOREERROR=1");
    for (const auto& command : in.passThrough) out += L" " + ReplacePassThroughEscapes(command);
    add(in.isMsi && in.logging, L"/l", L" /l*v \"" + in.logFolder + L"\\" + in.installerName + L".log\"");
    add(in.isMsi && in.silent, L"SUPPRESS_RUNTIME_SPEECH", L" SUPPRESS_RUNTIME_SPEECH=1");
    return out;
}

}  // namespace orvo::setup
