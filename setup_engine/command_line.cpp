#include "setup_engine/command_line.h"

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

enum class ValueKind { None, Optional, Required };
enum class Clean { None, Path, Blanks };

struct Switch {
    const wchar_t* name;
    ValueKind value;
    Clean clean;
};

// In the order they are tested; every switch that matches takes effect.
constexpr Switch kSwitches[] = {
    {L"help", ValueKind::None, Clean::None},
    {L"?", ValueKind::None, Clean::None},
    {L"ExtractSettings", ValueKind::Optional, Clean::Path},
    {L"log", ValueKind::Optional, Clean::Path},
    {L"nolog", ValueKind::None, Clean::None},
    {L"morehelp", ValueKind::None, Clean::None},
    {L"NoWelcomeDlg", ValueKind::None, Clean::None},
    {L"NoWelcomeWave", ValueKind::None, Clean::None},
    {L"passthru", ValueKind::Required, Clean::None},
    {L"ReplaceSettings", ValueKind::Required, Clean::Path},
    {L"ReplaceLanguage", ValueKind::Required, Clean::Path},
    {L"RunningAfterReboot", ValueKind::None, Clean::None},
    {L"Type", ValueKind::Required, Clean::Blanks},
    {L"allowxddm", ValueKind::None, Clean::None},
    {L"q", ValueKind::None, Clean::None},
    {L"unpack", ValueKind::Optional, Clean::Blanks},
};

bool IsSwitch(const std::wstring& arg) { return !arg.empty() && (arg[0] == L'-' || arg[0] == L'/'); }

std::wstring Cleaned(const std::wstring& value, Clean clean) {
    switch (clean) {
    case Clean::Path: return UnquoteSpaces(RemoveBlanks(value));
    case Clean::Blanks: return RemoveBlanks(value);
    case Clean::None: break;
    }
    return value;
}

bool Store(std::wstring& field, const std::wstring& value, size_t fieldChars, const wchar_t* name, ParseOutcome& outcome) {
    if (value.size() >= fieldChars) {
        outcome.ok = false;
        outcome.error = std::wstring(L"The value of the ") + name + L" switch is too long.";
        return false;
    }
    field = value;
    return true;
}

}  // namespace

std::wstring ReplacePassThroughEscapes(const std::wstring& command) {
    std::wstring out;
    out.reserve(command.size());
    for (size_t i = 0; i < command.size(); ++i) {
        if (command[i] != L'#') {
            out += command[i];
            continue;
        }
        if (++i >= command.size()) break;
        switch (command[i]) {
        case L'0': out += L'#'; break;
        case L'1': out += L'-'; break;
        case L'2': out += L'/'; break;
        default: break;
        }
    }
    return out;
}

bool AddPassThrough(const std::wstring& value, std::map<std::wstring, std::vector<std::wstring>>& table) {
    const size_t at = value.find(L'@');
    if (at == std::wstring::npos) return false;
    const std::wstring command = value.substr(at + 1);
    for (const auto& section : Split(value.substr(0, at), L',')) {
        const std::wstring name = ToLower(RemoveBlanks(section));
        if (!name.empty()) table[name].push_back(command);
    }
    return true;
}

ParseOutcome ParseCommandLine(const std::vector<std::wstring>& args, const std::wstring& raw, CommandLine& out) {
    ParseOutcome outcome;
    out.raw = raw;
    for (size_t i = 0; i < args.size() && outcome.ok; ++i) {
        const std::wstring& arg = args[i];
        if (!IsSwitch(arg)) continue;
        const std::wstring body = arg.substr(1);
        const bool hasValue = i + 1 < args.size() && !IsSwitch(args[i + 1]);
        for (const Switch& s : kSwitches) {
            if (!IStartsWith(body, s.name)) continue;
            const std::wstring name = s.name;
            const std::wstring value = hasValue ? Cleaned(args[i + 1], s.clean) : std::wstring();
            if (s.value == ValueKind::Required && !hasValue) continue;
            if (name == L"help" || name == L"?") {
                out.flags = (out.flags & ~uint32_t{kFlagHelp | kFlagLogging}) | kFlagHelp;
            } else if (name == L"ExtractSettings") {
                out.flags |= kFlagExtractSettings;
                if (hasValue) Store(out.extractSettingsPath, value, kPathChars, s.name, outcome);
            } else if (name == L"log") {
                if (hasValue) Store(out.logPath, value, kPathChars, s.name, outcome);
            } else if (name == L"nolog") {
                out.flags &= ~uint32_t{kFlagLogging};
            } else if (name == L"morehelp") {
                out.flags = (out.flags & ~uint32_t{kFlagMoreHelp | kFlagLogging}) | kFlagMoreHelp;
            } else if (name == L"NoWelcomeDlg") {
                out.flags |= kFlagNoWelcomeDlg;
            } else if (name == L"NoWelcomeWave") {
                out.flags |= kFlagNoWelcomeWave;
            } else if (name == L"passthru") {
                if (AddPassThrough(value, out.passThrough)) out.flags |= kFlagPassThrough;
            } else if (name == L"ReplaceSettings") {
                out.flags |= kFlagReplaceSettings;
                Store(out.replaceSettingsPath, value, kPathChars, s.name, outcome);
            } else if (name == L"ReplaceLanguage") {
                out.flags |= kFlagReplaceLanguage;
                Store(out.replaceLanguagePath, value, kPathChars, s.name, outcome);
            } else if (name == L"RunningAfterReboot") {
                out.flags |= kFlagRunningAfterReboot;
            } else if (name == L"Type") {
                out.flags |= kFlagSetupType;
                Store(out.setupType, value, kSetupTypeChars, s.name, outcome);
            } else if (name == L"allowxddm") {
                out.flags |= kFlagAllowXddm;
            } else if (name == L"q") {
                out.flags |= kFlagQuiet;
            } else if (name == L"unpack") {
                out.flags |= kFlagUnpack;
                if (hasValue) Store(out.unpackDirectory, value, kPathChars, s.name, outcome);
            }
        }
    }
    return outcome;
}

}  // namespace orvo::setup
