#include <gtest/gtest.h>

#include "setup_engine/command_line.h"

using namespace orvo::setup;

namespace {

CommandLine Parse(std::vector<std::wstring> args, bool expectOk = true) {
    CommandLine line;
    const auto outcome = ParseCommandLine(args, L"raw", line);
    EXPECT_EQ(expectOk, outcome.ok);
    return line;
}

}  // namespace

TEST(CommandLine, SwitchesMatchByPrefixIgnoringCase) {
    const auto line = Parse({L"/TYPE", L"  SilentRemoveShared ", L"-quiet", L"/NOWELCOMEDLG", L"/allowXDDM"});
    EXPECT_EQ(L"SilentRemoveShared", line.setupType);
    EXPECT_TRUE(line.Has(kFlagSetupType));
    EXPECT_TRUE(line.Has(kFlagQuiet));
    EXPECT_TRUE(line.Has(kFlagNoWelcomeDlg));
    EXPECT_FALSE(line.Has(kFlagNoWelcomeWave));
    EXPECT_TRUE(line.Has(kFlagAllowXddm));
    EXPECT_TRUE(line.Has(kFlagLogging));
    EXPECT_EQ(L"raw", line.raw);
}

TEST(CommandLine, TypeGluedWithEqualsTakesOnlyTheNextArgument) {
    auto line = Parse({L"/Type=Silent"});
    EXPECT_FALSE(line.Has(kFlagSetupType));
    EXPECT_TRUE(line.setupType.empty());
    line = Parse({L"/Type=Silent", L"Other"});
    EXPECT_EQ(L"Other", line.setupType);
}

TEST(CommandLine, ValuesAreNeverSwitchesAndPathsAreCleaned) {
    auto line = Parse({L"/log", L"/nolog"});
    EXPECT_TRUE(line.logPath.empty());
    EXPECT_FALSE(line.Has(kFlagLogging));
    line = Parse({L"/nolog", L"/log", L" \"C:\\a b\\x.log\" "});
    EXPECT_EQ(L"C:\\a b\\x.log", line.logPath);
    EXPECT_FALSE(line.Has(kFlagLogging));
    line = Parse({L"/unpack", L" \"C:\\u\" "});
    EXPECT_EQ(L"\"C:\\u\"", line.unpackDirectory);  // blanks only, as the switch table says
    EXPECT_TRUE(line.Has(kFlagUnpack));
}

TEST(CommandLine, HelpAndMoreHelpTurnLoggingOff) {
    auto line = Parse({L"/?"});
    EXPECT_EQ(uint32_t{kFlagHelp}, line.flags);
    line = Parse({L"/morehelp"});
    EXPECT_EQ(uint32_t{kFlagMoreHelp}, line.flags);
    // "help" is a prefix of nothing else, but "h" alone matches nothing.
    line = Parse({L"/h"});
    EXPECT_EQ(uint32_t{kFlagLogging}, line.flags);
}

TEST(CommandLine, OverlongValuesAreRefusedNotCut) {
    Parse({L"/log", std::wstring(259, L'a')});
    Parse({L"/log", std::wstring(260, L'a')}, false);
    Parse({L"/Type", std::wstring(99, L'a')});
    Parse({L"/Type", std::wstring(100, L'a')}, false);
    Parse({L"/ReplaceSettings", std::wstring(4000, L'a')}, false);
}

TEST(CommandLine, PassThroughAndEscapes) {
    const auto line = Parse({L"/passthru", L"Main,Shared@PROP=#0#1#2l##x#9", L"/passthru", L"no at sign"});
    EXPECT_TRUE(line.Has(kFlagPassThrough));
    ASSERT_EQ(1u, line.passThrough.at(L"main").size());
    ASSERT_EQ(1u, line.passThrough.at(L"shared").size());
    EXPECT_EQ(L"PROP=#-/lx", ReplacePassThroughEscapes(line.passThrough.at(L"main")[0]));
    EXPECT_EQ(L"/l", ReplacePassThroughEscapes(L"#2l"));
    EXPECT_EQ(L"ab", ReplacePassThroughEscapes(L"a##b#"));
}
