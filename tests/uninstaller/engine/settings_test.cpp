#include <gtest/gtest.h>

#include "setup_engine/memory_profile.h"
#include "setup_engine/settings.h"

using namespace orvo::setup;

namespace {

PathVariables Paths() { return {L"C:", L"C:\\Program Files", L"C:\\Windows", L"C:\\Windows\\System32"}; }

struct Reader {
    explicit Reader(const std::wstring& text) : profile(text), reader(profile, paths, [this](const std::wstring& l) { log += l + L"\n"; }) {}
    MemoryProfile profile;
    PathVariables paths = Paths();
    std::wstring log;
    SettingsReader reader;
};

}  // namespace

TEST(Settings, SetupTypeDefaultsAndYesNoValues) {
    Reader r(L"[default]\nMainInstall=Main\nRemoveShared=YES\nWelcomeDlg=true\nRebootWave=yesplease\n");
    SetupTypeSettings s;
    ASSERT_EQ(kSettingsOk, r.reader.ReadSetupType(L"DEFAULT", s));
    EXPECT_EQ(L"Main", s.name);  // Name defaults to MainInstall
    EXPECT_TRUE(s.removeShared);
    EXPECT_FALSE(s.welcomeDlg);  // "true" is not "yes"
    EXPECT_TRUE(s.rebootWave);   // read into four characters: "yes" plus its terminator
    EXPECT_TRUE(s.finishUninstallDlg);
    EXPECT_TRUE(s.finishWave);
    EXPECT_FALSE(s.showProgressBar);
}

TEST(Settings, SetupTypeErrors) {
    Reader r(L"[default]\nName=x\n");
    SetupTypeSettings s;
    EXPECT_EQ(kSettingsError, r.reader.ReadSetupType(L"default", s));
    EXPECT_NE(std::wstring::npos, r.log.find(L"No prerequisite installers nor a main installer was specified for the default setup type."));
    EXPECT_EQ(kSettingsError, r.reader.ReadSetupType(L"missing", s));
    EXPECT_EQ(kSettingsError, r.reader.ReadSetupType(L"", s));
    EXPECT_NE(std::wstring::npos, r.log.find(L"SetListSection - Setup type is undefined."));
}

TEST(Settings, InstallerSectionValues) {
    std::wstring codes;
    for (int i = 1; i <= 50; ++i) codes += std::to_wstring(i) + L"|";
    Reader r(L"[Main]\nName=Product\nFile=$(SYSTEM32)\\MSIEXEC.exe\nArguments=/x \"$(ProgramFiles)\\a b\\p.msi\" /qn\n"
             L"FailCodes=" + codes + L"\nRebootCodes=3010| 1641 |x\nForceRun=yes\nDoNotExtract=Yes\n");
    InstallerSettings s;
    ASSERT_EQ(kSettingsOk, r.reader.ReadInstaller(L"main", s));
    EXPECT_EQ(L"c:\\windows\\system32\\msiexec.exe", s.file);
    EXPECT_TRUE(s.IsMsi());
    // Only whole path components are variables: "/x \"$(ProgramFiles)" is not one.
    EXPECT_EQ(L"/x \"$(ProgramFiles)\\a b\\p.msi\" /qn", s.arguments);
    EXPECT_EQ(L"defer", s.exitRules.rebootMode);
    EXPECT_EQ(49u, s.exitRules.failCodes.size());
    EXPECT_FALSE(Contains(s.exitRules.failCodes, 50));
    EXPECT_EQ((CodeList{3010, 1641}), s.exitRules.rebootCodes);
    EXPECT_EQ(uint32_t{kForceRun | kDoNotExtract}, s.flags);
}

TEST(Settings, InstallerSectionErrors) {
    Reader r(L"[NoName]\nFile=msiexec\n[NoFile]\nName=x\n[Long]\nName=x\nFile=msiexec\nArguments=" +
             std::wstring(1000, L'a') + L"\n[Fmt]\nName=%s%n%x\nFile=%s%n\n");
    InstallerSettings s;
    std::wstring key;
    EXPECT_EQ(kMissingKey, r.reader.ReadInstaller(L"NoName", s, &key));
    EXPECT_EQ(L"Name", key);
    EXPECT_EQ(kMissingKey, r.reader.ReadInstaller(L"NoFile", s, &key));
    EXPECT_EQ(L"File", key);
    EXPECT_EQ(kSettingsError, r.reader.ReadInstaller(L"Long", s));
    EXPECT_EQ(kSettingsError, r.reader.ReadInstaller(L"Absent", s));
    EXPECT_NE(std::wstring::npos, r.log.find(L"SetInstallerSection - The section does not exist in Settings."));
    EXPECT_EQ(kSettingsOk, r.reader.ReadInstaller(L"Fmt", s));
    EXPECT_NE(std::wstring::npos, r.log.find(L"SetInstallerSection - Name key: %s%n%x."));
}

TEST(MemoryProfile, ReadsLikeAProfileFile) {
    MemoryProfile p(L"; comment\r\nKey=outside\r\n[ One ]\r\n  Key  =  \"quoted value\"  \r\nkey=second\r\n"
                    L"Empty=\r\nNum= 42abc\r\nNeg=-7\r\nBare\r\n[two]\r\n[ONE]\r\nLater=1\r\n");
    EXPECT_EQ(L"quoted value", p.ReadString(L"one", L"KEY").value());
    EXPECT_EQ(L"", p.ReadString(L"one", L"Empty").value());
    EXPECT_FALSE(p.ReadString(L"one", L"Missing"));
    EXPECT_FALSE(p.ReadString(L"one", L"Later"));  // in a second [ONE], which is never read
    EXPECT_FALSE(p.ReadString(L"one", L"; comment"));
    EXPECT_EQ(42, p.ReadInt(L"one", L"Num", 5));
    EXPECT_EQ(-7, p.ReadInt(L"one", L"Neg", 5));
    EXPECT_EQ(5, p.ReadInt(L"one", L"Missing", 5));
    EXPECT_FALSE(p.SectionHasContent(L"two"));
    EXPECT_FALSE(p.SectionHasContent(L"three"));
    EXPECT_TRUE(p.SectionHasContent(L"one"));
}
