#include <gtest/gtest.h>

#include <map>

#include "setup_engine/argument_builder.h"
#include "setup_engine/existence_rules.h"
#include "setup_engine/exit_codes.h"
#include "setup_engine/output_name.h"
#include "setup_engine/path_variables.h"
#include "setup_engine/version.h"

using namespace orvo::setup;

namespace {

class FakeProbe : public ExistenceProbe {
public:
    std::map<std::wstring, bool> answers;  // "type:value" -> result
    std::vector<std::wstring> asked;
    bool Test(const std::wstring& type, const std::wstring& value, bool& known) override {
        asked.push_back(type + L":" + value);
        known = type == L"File" || type == L"RegKey";
        return answers[type + L":" + value];
    }
};

std::wstring g_log;
const LogLine kLog = [](const std::wstring& line) { g_log += line + L"\n"; };

}  // namespace

TEST(ExistenceRules, TwoRuleExample) {
    FakeProbe probe;
    probe.answers[L"File:C:\\present"] = true;
    EXPECT_EQ(1, EvaluateExistence(L"File|1|C:\\present;RegKey|0|HKEY_LOCAL_MACHINE\\Absent", probe, kLog));
    EXPECT_EQ(2u, probe.asked.size());
    probe.asked.clear();
    EXPECT_EQ(0, EvaluateExistence(L"File|1|C:\\absent;RegKey|0|HKEY_LOCAL_MACHINE\\Absent", probe, kLog));
    EXPECT_EQ(1u, probe.asked.size());
}

TEST(ExistenceRules, CombiningAndIgnoredRules) {
    FakeProbe probe;
    probe.answers[L"File:yes"] = true;
    EXPECT_EQ(2, EvaluateExistence(L"", probe, kLog));
    EXPECT_EQ(2, EvaluateExistence(L"File|1;File|9|yes;Odd|1|x;too|many|parts|here", probe, kLog));
    EXPECT_NE(std::wstring::npos, g_log.find(L"RunCheckExistence - Unknown rule value '9'."));
    EXPECT_NE(std::wstring::npos, g_log.find(L"RunCheckExistence - Ignoring unknown type 'Odd'."));
    EXPECT_EQ(1, EvaluateExistence(L"File|3|yes", probe, kLog));
    EXPECT_EQ(2, EvaluateExistence(L"File|2|yes", probe, kLog));
    EXPECT_EQ(2, EvaluateExistence(L"File|5|yes", probe, kLog));
    EXPECT_EQ(0, EvaluateExistence(L"File|4|yes;File|1|yes", probe, kLog));
}

TEST(Version, ComparesNumerically) {
    EXPECT_EQ(1, CompareVersions(L"1.10", L"1.9"));
    EXPECT_EQ(-1, CompareVersions(L"1.9", L"1.10"));
    EXPECT_EQ(0, CompareVersions(L"2.0.0", L"2"));
    EXPECT_EQ(-1, CompareVersions(L"", L"0.1"));
    EXPECT_EQ(1, CompareVersions(L"99999999999.1", L"4294967295"));
}

TEST(PathVariables, ReplacesWholeComponentsOnly) {
    PathVariables p{L"D:", L"D:\\Program Files", L"D:\\Win", L"D:\\Win\\System32"};
    EXPECT_EQ(L"D:\\Program Files\\x\\$(windows)y", p.Replace(L"$(PROGRAMFILES)\\x\\$(windows)y"));
    EXPECT_EQ(L"D:\\Win\\System32\\msiexec.exe", p.Replace(L"$(System32)\\msiexec.exe"));
    EXPECT_EQ(L"D:\\boot", p.Replace(L"$(WinDrive)\\boot"));
}

TEST(OutputName, FindsPackageOrProductCode) {
    auto n = ParseMsiPackageName(L"/x {11111111-2222-3333-4444-555555555555} /qn");
    EXPECT_TRUE(n.found);
    EXPECT_TRUE(n.isProductCode);
    EXPECT_EQ(L"{11111111-2222-3333-4444-555555555555}", n.name);
    n = ParseMsiPackageName(L"/qn /i \"C:\\My Packages\\p.msi\"");
    EXPECT_EQ(L"C:\\My Packages\\p.msi", n.name);  // a quoted name runs to its closing quote
    n = ParseMsiPackageName(L"/i \"a b.msi\" /qn");
    EXPECT_EQ(L"a b.msi", n.name);
    n = ParseMsiPackageName(L"/package p.msi/x /qn");
    EXPECT_EQ(L"p.msi/x", n.name);
    EXPECT_FALSE(ParseMsiPackageName(L"/qn").found);
    EXPECT_FALSE(ParseMsiPackageName(L"/x ").found);
    EXPECT_EQ(L"C:\\src\\p.msi", JoinOutputPath(L"C:\\src", L"p.msi"));
    EXPECT_EQ(L"D:\\p.msi", JoinOutputPath(L"C:\\src\\", L"D:\\p.msi"));
}

TEST(Arguments, AddsPropertiesUnlessPresent) {
    ArgumentInputs in;
    in.arguments = L"/x {A} /qn REMOVESHARED=0";
    in.isMsi = in.addSourceDir = in.reinstall = in.removeShared = in.quiet = in.logging = in.silent = true;
    in.sourceDirectory = L"C:\\Program Files\\Orvo";
    in.logFolder = L"C:\\Temp\\pkg";
    in.installerName = L"Product";
    in.passThrough = {L"A=#2b"};
    g_log.clear();
    EXPECT_EQ(L"/x {A} /qn REMOVESHARED=0 SOURCE_DIR=\"C:\\Program Files\\Orvo\" REINSTALL=ALL REINSTALLMODE=vomus"
              L" IGNOREERROR=1 A=/b /l*v \"C:\\Temp\\pkg\\Product.log\" SUPPRESS_RUNTIME_SPEECH=1",
              BuildArguments(in, kLog));
    EXPECT_NE(std::wstring::npos, g_log.find(L"AddToArguments - Did not add the REMOVESHARED property."));
    in.isMsi = false;
    EXPECT_EQ(L"/x {A} /qn REMOVESHARED=0 A=/b", BuildArguments(in, kLog));
}

TEST(ExitCodes, Classification) {
    ExitCodeRules rules;
    rules.rebootCodes = {3010};
    rules.failCodes = {1602, 1603, 1638};
    rules.exitCodes = {42};
    rules.silentCodes = {7};
    rules.reinstallCodes = {7, 1612};
    auto p = ClassifyExitCode(3010, rules, false, false);
    EXPECT_EQ(kActionContinue, p.action);
    EXPECT_EQ(uint32_t{kDeferred}, p.deferredBits);
    p = ClassifyExitCode(1602, rules, false, false);
    EXPECT_EQ(kActionStop, p.action);
    EXPECT_FALSE(p.failurePrompt);
    EXPECT_STREQ(L"InstallationBootstrapperFailEvent", p.signalEvent);
    p = ClassifyExitCode(1638, rules, false, false);
    EXPECT_TRUE(p.failurePrompt);
    EXPECT_STREQ(L"InstallationBootstrapperAnotherVersionEvent", p.signalEvent);
    EXPECT_EQ(kActionStop, ClassifyExitCode(42, rules, false, false).action);
    EXPECT_EQ(kActionContinue, ClassifyExitCode(1605, rules, false, false).action);
    p = ClassifyExitCode(7, rules, false, false);
    EXPECT_TRUE(p.becomeSilent);
    EXPECT_EQ(ExitCodePlan::Ask::Reinstall, p.ask);
    EXPECT_EQ(kActionRetry, p.actionIfAccepted);
    p = ClassifyExitCode(1612, rules, true, false);
    EXPECT_EQ(ExitCodePlan::Ask::None, p.ask);
    EXPECT_EQ(kActionStop, p.action);
    rules.rebootMode = L"immediateforce";
    p = ClassifyExitCode(3010, rules, false, false);
    EXPECT_EQ(kRebootModeImmediateForced, p.rebootMode);
    EXPECT_EQ(kActionDeclinedForcedReboot, p.action);
    rules.rebootMode = L"force";
    EXPECT_EQ(kRebootModeForce, ClassifyExitCode(0, rules, false, false).rebootMode);
    rules.rebootMode = L"return";
    EXPECT_EQ(kActionReturn, ClassifyExitCode(0, rules, false, false).action);
    rules.rebootMode = L"none";
    EXPECT_EQ(0u, ClassifyExitCode(3010, rules, false, false).deferredBits);
    EXPECT_EQ(kActionContinue, ClassifyExitCode(1603, rules, false, true).action);  // downloaded: recorded, not stopped
    EXPECT_TRUE(ClassifyExitCode(1603, rules, false, true).recordInstallError);
}
