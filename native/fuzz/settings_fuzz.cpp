// libFuzzer target of the setup engine's text handling: the settings reader
// and model, the command-line parser, existence rules and the output-name
// and argument builders, fed from one input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "setup_engine/argument_builder.h"
#include "setup_engine/command_line.h"
#include "setup_engine/existence_rules.h"
#include "setup_engine/memory_profile.h"
#include "setup_engine/output_name.h"
#include "setup_engine/settings.h"
#include "setup_engine/text.h"
#include "setup_engine/version.h"

namespace {

class AlternatingProbe : public orvo::setup::ExistenceProbe {
public:
    bool Test(const std::wstring& type, const std::wstring& value, bool& known) override {
        known = type.size() % 3 != 0;
        return value.size() % 2 == 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i] < 0x80 ? data[i] : L'?');
    const orvo::setup::LogLine log = [](const std::wstring&) {};
    orvo::setup::MemoryProfile profile(text);
    orvo::setup::PathVariables paths{L"C:", L"C:\\Program Files", L"C:\\Windows", L"C:\\Windows\\System32"};
    orvo::setup::SettingsReader reader(profile, paths, log);
    orvo::setup::SetupTypeSettings type;
    reader.ReadSetupType(L"default", type);
    for (const auto& section : orvo::setup::Split(type.preInstall + L"|" + type.mainInstall, L'|')) {
        orvo::setup::InstallerSettings installer;
        if (reader.ReadInstaller(section, installer) != orvo::setup::kSettingsOk) continue;
        AlternatingProbe probe;
        orvo::setup::EvaluateExistence(installer.checkExistence, probe, log);
        orvo::setup::ParseMsiPackageName(installer.arguments);
        orvo::setup::ArgumentInputs in;
        in.arguments = installer.arguments;
        in.isMsi = installer.IsMsi();
        in.passThrough = {installer.name};
        orvo::setup::BuildArguments(in, log);
        orvo::setup::CompareVersions(installer.productVersion, type.name);
    }
    orvo::setup::CommandLine line;
    orvo::setup::ParseCommandLine(orvo::setup::Split(text, L' '), text, line);
    return 0;
}
