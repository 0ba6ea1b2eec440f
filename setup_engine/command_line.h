// The engine's command-line record and its parser. Arguments come already
// split (CommandLineToArgvW on Windows); no Win32 here.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvo::setup {

enum CommandFlags : uint32_t {
    kFlagHelp = 0x1,
    kFlagLogging = 0x2,
    kFlagExtractSettings = 0x4,
    kFlagReplaceSettings = 0x8,
    kFlagNoWelcomeDlg = 0x10,
    kFlagNoWelcomeWave = 0x20,
    kFlagSetupType = 0x40,
    kFlagMoreHelp = 0x80,
    kFlagPassThrough = 0x100,
    kFlagAllowXddm = 0x200,
    kFlagQuiet = 0x400,
    kFlagReplaceLanguage = 0x800,
    kFlagRunningAfterReboot = 0x1000,
    kFlagUnpack = 0x2000,
};

// Field sizes of the record, terminating NUL included.
constexpr size_t kPathChars = 260;
constexpr size_t kSetupTypeChars = 100;

struct CommandLine {
    uint32_t flags = kFlagLogging;
    std::wstring extractSettingsPath;
    std::wstring replaceSettingsPath;
    std::wstring replaceLanguagePath;
    std::wstring unpackDirectory;
    std::wstring logPath;
    std::wstring setupType;
    std::wstring raw;
    // Installer section name (lower case: profile sections ignore case) to
    // the commands passed through to it, escapes not yet replaced.
    std::map<std::wstring, std::vector<std::wstring>> passThrough;

    bool Has(uint32_t flag) const { return (flags & flag) != 0; }
};

struct ParseOutcome {
    bool ok = true;
    // Why parsing was refused (a value longer than its field): for the log.
    std::wstring error;
};

// args excludes the program name. A value that does not fit its field is
// refused, never cut: a cut path could name a different file.
ParseOutcome ParseCommandLine(const std::vector<std::wstring>& args, const std::wstring& raw, CommandLine& out);

// "#0" -> "#", "#1" -> "-", "#2" -> "/"; "#" and any other character vanish.
std::wstring ReplacePassThroughEscapes(const std::wstring& command);

// Adds "sections@command" to the table; false when there is no "@".
bool AddPassThrough(const std::wstring& value, std::map<std::wstring, std::vector<std::wstring>>& table);

}  // namespace orvo::setup
