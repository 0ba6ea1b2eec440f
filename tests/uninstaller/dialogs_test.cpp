// The uninstaller's own dialogs and the language module's help, driven as a
// user would.
#include <gtest/gtest.h>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

TEST(Dialogs, ChoiceIsPreselectedFromSettingsAndBackReturnsToIt) {
    StubScript stub;
    Uninstaller uninstaller(L"Dialogs");
    uninstaller.Settings(TypeSection("default", "Main", "Shared", true) + StubSection("Main") + StubSection("Shared"));
    // 101 (shared pre-selected) OK, 102 Back, 101 choose product only, OK.
    Clicker clicker({{kChoiceCaption, IDOK}, {kConfirmCaption, 103}, {kChoiceCaption, IDOK, 1000}, {kPromptCaption, IDOK}});
    EXPECT_EQ(0, uninstaller.Run(L""));
    const auto seen = clicker.SeenWindows();
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(1001, seen[0].checked);
    EXPECT_EQ(std::wstring(kConfirmCaption), seen[1].caption);
    EXPECT_NE(std::wstring::npos, seen[3].text.find(L"Uninstallation is complete."));
    EXPECT_EQ(1u, stub.Starts().size());  // the product only
    EXPECT_NE(std::string::npos, Log().find("DoSettings_Uninstall - Skipping uninstallation of prerequisites"));
}

TEST(Dialogs, ConfirmingSharedRemovalRunsBoth) {
    StubScript stub;
    Uninstaller uninstaller(L"Dialogs next");
    uninstaller.Settings(TypeSection("default", "Main", "Shared", false, "ShowProgressBar=yes\r\n") + StubSection("Main") +
                         StubSection("Shared"));
    Clicker clicker({{kChoiceCaption, IDOK, 1001}, {kConfirmCaption, 1}, {kPromptCaption, IDOK}});
    EXPECT_EQ(0, uninstaller.Run(L""));
    EXPECT_EQ(1000, clicker.SeenWindows().at(0).checked);
    const auto starts = stub.Starts();
    ASSERT_EQ(2u, starts.size());
    EXPECT_NE(std::string::npos, starts[1].find("REMOVESHARED=1"));
}

TEST(Dialogs, CancelEndsWithNothingRemoved) {
    StubScript stub;
    for (int step = 0; step < 2; ++step) {
        Uninstaller uninstaller(L"Dialogs cancel");
        uninstaller.Settings(TypeSection("default", "Main", "Shared", true) + StubSection("Main") + StubSection("Shared"));
        std::vector<Clicker::Rule> rules = {{kChoiceCaption, step == 0 ? IDCANCEL : IDOK}};
        if (step == 1) rules.push_back({kConfirmCaption, IDCANCEL});
        Clicker clicker(rules);
        EXPECT_EQ(0, uninstaller.Run(L""));
        EXPECT_TRUE(stub.Starts().empty());
    }
}

TEST(Dialogs, HelpAndMoreHelpEndWith13) {
    Uninstaller uninstaller(L"Help");
    {
        Clicker clicker({{L"Setup Package Help", IDOK}});
        EXPECT_EQ(13, uninstaller.Run(L"/?"));
        EXPECT_TRUE(clicker.SawText(L"/passthru"));
    }
    {
        Clicker clicker({{L"Help", IDOK}});
        EXPECT_EQ(13, uninstaller.Run(L"/morehelp"));
        EXPECT_TRUE(clicker.SawText(L"SilentRemoveShared"));
    }
}
