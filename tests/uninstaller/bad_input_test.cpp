// Bad settings and command lines end with a clear code and remove nothing.
#include <gtest/gtest.h>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

TEST(BadInput, MissingOrBrokenSettingsRemoveNothing) {
    StubScript stub;
    struct Case {
        const char* label;
        std::string settings;  // empty: no file at all
        const wchar_t* args;
        int expected;
        const char* logged;
    } cases[] = {
        {"no settings file", "", L"/Type Silent", 2, "DoSettings_Uninstall - No Settings file to run."},
        {"no such type", TypeSection("default", "Stub", "", false) + StubSection("Stub"), L"/Type SilentNone", 13,
         "No prerequisite installers nor a main installer was specified for the SilentNone setup type."},
        {"empty lists", TypeSection("Silent", "", "", true), L"/Type Silent", 13, "At least one must be specified."},
        {"missing section", TypeSection("Silent", "Nowhere", "", false), L"/Type Silent", 13,
         "SetInstallerSection - The section does not exist in Settings."},
        {"no File", TypeSection("Silent", "Broken", "", false) + "[Broken]\r\nName=Broken\r\n", L"/Type Silent", 13,
         "SetInstallerSection - No File key was specified in the section."},
        {"prerequisite without Name", TypeSection("Silent", "", "Broken", true) + "[Broken]\r\nFile=msiexec\r\n", L"/Type Silent", 13,
         "SetInstallerSection - No Name key was specified in the section."},
        {"over-long Arguments", TypeSection("Silent", "Long", "", false) + StubSection("Long") + "", L"/Type Silent", 0, nullptr},
        {"format characters", TypeSection("Silent", "Fmt", "", false) + StubSection("Fmt", "ProductVersion=%s%n%s%n%x"),
         L"/Type Silent", 0, "SetInstallerSection - ProductVersion key: %s%n%s%n%x."},
        {"over-long command-line value", TypeSection("Silent", "Stub", "", false) + StubSection("Stub"),
         nullptr, 13, "ParseCommandLine - The value of the log switch is too long."},
    };
    // Arguments beyond 999 characters are refused, not cut.
    cases[6].settings = TypeSection("Silent", "Long", "", false) + "[Long]\r\nName=Long\r\nFile=" + Narrow(StubPath()) +
                        "\r\nArguments=/x {00000000-1111-2222-3333-444444444444} " + std::string(1000, 'A') + "\r\nDoNotExtract=yes\r\n";
    cases[6].expected = 13;
    cases[6].logged = "SetInstallerSection - The Arguments value is longer than 999 characters.";
    const std::wstring longLog = L"/Type Silent /log C:\\" + std::wstring(300, L'x');
    for (auto& c : cases) {
        Uninstaller uninstaller(L"Bad input");
        if (!c.settings.empty()) uninstaller.Settings(c.settings);
        const bool formatCase = std::string(c.label) == "format characters";
        const size_t startsBefore = stub.Starts().size();
        EXPECT_EQ(c.expected, uninstaller.Run(c.args ? c.args : longLog.c_str())) << c.label;
        if (c.logged) {
            EXPECT_NE(std::string::npos, Log().find(c.logged)) << c.label << "\n" << Log();
        }
        if (!formatCase) {
            EXPECT_EQ(startsBefore, stub.Starts().size()) << c.label;
        }
        EXPECT_TRUE(RunOnceValue().empty()) << c.label;
    }
}

TEST(BadInput, UnpackNeverOverwrites) {
    Uninstaller uninstaller(L"Unpack", true);
    const std::wstring target = L"C:\\orvo_test\\unpack target\\";
    ::CreateDirectoryW(target.c_str(), nullptr);
    RemoveFolderFiles(target);
    EXPECT_EQ(13, uninstaller.Run(L"/Type Silent /unpack \"C:\\orvo_test\\unpack target\""));
    EXPECT_TRUE(Exists(target + L"INSTALLER_CLEANUP"));
    EXPECT_TRUE(Exists(target + L"LANG_BOOTSTRAPPER"));
    RemoveFolderFiles(target);
    WriteText(target + L"LANG_BOOTSTRAPPER", "keep me");
    EXPECT_EQ(13, uninstaller.Run(L"/Type Silent /unpack \"C:\\orvo_test\\unpack target\""));
    EXPECT_EQ("keep me", ReadText(target + L"LANG_BOOTSTRAPPER"));
    EXPECT_NE(std::string::npos, Log().find("Unpack - Stopped."));
    RemoveFolderFiles(target);
    ::RemoveDirectoryW(target.c_str());
}
