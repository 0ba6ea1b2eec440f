// Exit codes of installers and what the run makes of them: real packages
// whose removal is cancelled, fails or asks for a reboot, and the stub
// installer for the codes a package cannot produce on demand.
#include <gtest/gtest.h>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

namespace {

const std::wstring kFail1602 = L"{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7A02}";
const std::wstring kFail1603 = L"{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7A03}";
const std::wstring kReboot = L"{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7A10}";
const std::wstring kNotInstalled = L"{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7AFF}";

bool EventSignalled(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

TEST(ExitCodes, RealCancelStopsWithoutAPrompt) {
    RemoveProduct(kFail1602);
    ASSERT_EQ(0, InstallPackage(L"fail1602"));
    StubScript stub;
    Uninstaller uninstaller(L"Cancel");
    uninstaller.Settings(TypeSection("default", "Cancelling", "Stub", true) + MsiSection("Cancelling", kFail1602) + StubSection("Stub"));
    Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 1}, {kErrorCaption, IDOK}});
    EXPECT_EQ(1602, uninstaller.Run(L""));
    EXPECT_FALSE(clicker.SawText(kErrorCaption));
    EXPECT_TRUE(Installed(kFail1602));
    EXPECT_TRUE(stub.Starts().empty());
    EXPECT_TRUE(RunOnceValue().empty());
    RemoveProduct(kFail1602);
}

TEST(ExitCodes, RealFailureShowsTheFailurePromptAndStops) {
    RemoveProduct(kFail1603);
    ASSERT_EQ(0, InstallPackage(L"fail1603"));
    StubScript stub;
    Uninstaller uninstaller(L"Failure");
    uninstaller.Settings(TypeSection("default", "Failing", "Stub", true) + MsiSection("Failing", kFail1603) + StubSection("Stub"));
    Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 1}, {kErrorCaption, IDOK}});
    EXPECT_EQ(1603, uninstaller.Run(L""));
    EXPECT_TRUE(clicker.SawText(L"The OrvoVistrel setup package could not install the required component Failing."));
    EXPECT_TRUE(stub.Starts().empty());
    EXPECT_TRUE(RunOnceValue().empty());
    RemoveProduct(kFail1603);
}

TEST(ExitCodes, UnknownProductGoesOn) {
    StubScript stub;
    Uninstaller uninstaller(L"Unknown");
    uninstaller.Settings(TypeSection("SilentRemoveShared", "Gone", "Stub", true) + MsiSection("Gone", kNotInstalled) + StubSection("Stub"));
    EXPECT_EQ(0, uninstaller.Run(L"/Type SilentRemoveShared"));
    EXPECT_NE(std::string::npos, Log().find("Run - Exit code: 1605."));
    EXPECT_EQ(1u, stub.Starts().size());
}

TEST(ExitCodes, DeferredRebootEndsWithTheRebootPrompt) {
    const std::string settings = TypeSection("default", "Rebooting", "", false) + TypeSection("Silent", "Rebooting", "", false) +
                                 MsiSection("Rebooting", kReboot);
    struct Case {
        const wchar_t* args;
        int answer;
        int expected;
    } cases[] = {{L"", IDOK, 1641}, {L"", IDCANCEL, 3010}, {L"/Type Silent", 0, 3010}};
    for (const auto& c : cases) {
        RemoveProduct(kReboot);
        ASSERT_EQ(0, InstallPackage(L"reboot"));
        Uninstaller uninstaller(L"Reboot");
        uninstaller.Settings(settings);
        Clicker clicker({{kChoiceCaption, IDOK}, {kPromptCaption, c.answer}});
        EXPECT_EQ(c.expected, uninstaller.Run(c.args)) << c.answer;
        EXPECT_FALSE(Installed(kReboot));
        if (c.answer) {
            EXPECT_TRUE(clicker.SawText(L"require you to restart your computer"));
        }
    }
}

TEST(ExitCodes, FailCodesSignalTheirEvents) {
    HANDLE fail = ::CreateEventW(nullptr, TRUE, FALSE, L"InstallationBootstrapperFailEvent");
    HANDLE another = ::CreateEventW(nullptr, TRUE, FALSE, L"InstallationBootstrapperAnotherVersionEvent");
    {
        StubScript stub(L"1618");
        Uninstaller uninstaller(L"Busy");
        uninstaller.Settings(TypeSection("Silent", "Stub", "", false) + StubSection("Stub"));
        EXPECT_EQ(1618, uninstaller.Run(L"/Type Silent"));
        EXPECT_TRUE(EventSignalled(fail));
        EXPECT_FALSE(EventSignalled(another));
    }
    ::ResetEvent(fail);
    {
        StubScript stub(L"1638");
        Uninstaller uninstaller(L"Another");
        uninstaller.Settings(TypeSection("Silent", "Stub", "", false) + StubSection("Stub"));
        EXPECT_EQ(1638, uninstaller.Run(L"/Type Silent"));
        EXPECT_TRUE(EventSignalled(another));
        EXPECT_FALSE(EventSignalled(fail));
        EXPECT_TRUE(RunOnceValue().empty());
    }
    ::CloseHandle(fail);
    ::CloseHandle(another);
}

TEST(ExitCodes, ImmediateAndForcedReboots) {
    {
        StubScript stub(L"3010");
        Uninstaller uninstaller(L"Immediate");
        uninstaller.Settings(TypeSection("default", "Stub", "", false) + StubSection("Stub", "Reboot=immediate"));
        Clicker clicker({{kChoiceCaption, IDOK}, {kPromptCaption, IDOK}});
        EXPECT_EQ(1641, uninstaller.Run(L""));
    }
    {
        StubScript stub(L"3010");
        Uninstaller uninstaller(L"Immediate declined");
        uninstaller.Settings(TypeSection("default", "Stub", "", false) + StubSection("Stub", "Reboot=Immediate"));
        Clicker clicker({{kChoiceCaption, IDOK}, {kPromptCaption, IDCANCEL}, {kPromptCaption, IDOK}});
        EXPECT_EQ(0, uninstaller.Run(L""));
        EXPECT_TRUE(clicker.SawText(L"Uninstallation is complete."));
    }
    {
        StubScript stub(L"0");
        Uninstaller uninstaller(L"Forced");
        uninstaller.Settings(TypeSection("default", "Stub", "", false) + StubSection("Stub", "Reboot=force"));
        Clicker clicker({{kChoiceCaption, IDOK}, {kPromptCaption, IDOK}});
        EXPECT_EQ(1641, uninstaller.Run(L""));
        EXPECT_TRUE(clicker.SawText(L"require you to restart your computer"));
    }
}

TEST(ExitCodes, ReinstallRunsTheCleanUpOnceAndRetriesOnce) {
    const std::string settings = TypeSection("default", "Main", "Shared", true) + StubSection("Main") +
                                 StubSection("Shared", "ReinstallCodes=1612");
    {
        // main, shared (1612), clean-up tool, shared again
        StubScript stub(L"0,1612,0,0");
        Uninstaller uninstaller(L"Reinstall", true);
        uninstaller.Settings(settings);
        Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 1}, {kPromptCaption, IDOK}, {kPromptCaption, IDOK}});
        EXPECT_EQ(0, uninstaller.Run(L""));
        const auto starts = stub.Starts();
        ASSERT_EQ(4u, starts.size());
        EXPECT_NE(std::string::npos, starts[2].find("MsiZap.exe|")) << starts[2];
        EXPECT_NE(std::string::npos, starts[2].find("TW! {00000000-1111-2222-3333-444444444444}")) << starts[2];
        EXPECT_TRUE(clicker.SawText(L"reinstall the component"));
    }
    {
        StubScript stub(L"0,1612");
        Uninstaller uninstaller(L"Reinstall declined", true);
        uninstaller.Settings(settings);
        Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 1}, {kPromptCaption, IDCANCEL}});
        EXPECT_EQ(1612, uninstaller.Run(L""));
        EXPECT_EQ(2u, stub.Starts().size());
        EXPECT_NE(std::string::npos, Log().find("CheckExitCode - The user decided to cancel the installation."));
    }
    {
        StubScript stub(L"0,1612,0,1612");
        Uninstaller uninstaller(L"Reinstall twice", true);
        uninstaller.Settings(settings);
        Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 1}, {kPromptCaption, IDOK}});
        EXPECT_EQ(1612, uninstaller.Run(L""));
        EXPECT_EQ(4u, stub.Starts().size());
        EXPECT_NE(std::string::npos, Log().find("CheckExitCode - Already reinstalling."));
        EXPECT_TRUE(RunOnceValue().empty());
    }
}

TEST(ExitCodes, SilentCodeSilencesTheRest) {
    StubScript stub(L"5");
    Uninstaller uninstaller(L"Silenced");
    uninstaller.Settings(TypeSection("default", "Stub", "", false) + StubSection("Stub", "SilentCodes=5"));
    Clicker clicker({{kChoiceCaption, IDOK}, {kPromptCaption, IDOK}});
    EXPECT_EQ(0, uninstaller.Run(L""));
    EXPECT_FALSE(clicker.SawText(L"Uninstallation is complete."));
}
