// An uninstaller killed while an installer runs: the RunOnce entry resumes
// the run, and the log holds only whole lines.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <regex>

#include "uninstaller_rig.h"
#include "win32/unique_local.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

TEST(Interrupted, RunOnceResumesAndEveryLogLineIsWhole) {
    HANDLE blocked = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubBlocked");
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubRelease");
    StubScript stub(L"block,0,0");
    Uninstaller uninstaller(L"Program Files Uninstaller");
    uninstaller.Settings(TypeSection("SilentRemoveShared", "Main", "Shared", true) + StubSection("Main") + StubSection("Shared"));
    const auto before = RunFolders();
    ASSERT_TRUE(uninstaller.Start(L"/Type SilentRemoveShared"));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(blocked, 120000));

    const std::wstring command = RunOnceValue();
    EXPECT_EQ(L"\"" + uninstaller.Exe() + L"\" /Type SilentRemoveShared /RunningAfterReboot", command);
    uninstaller.Kill();
    // A killed run cannot remove its private folder.
    const std::wstring left = NewRunFolder(before);
    EXPECT_FALSE(left.empty());
    RemoveFolderFiles(left);
    ::RemoveDirectoryW(left.c_str());
    ::SetEvent(release);
    ::Sleep(500);  // the released stub ends

    const std::string log = Log();
    const std::regex line(R"(\d{4}/\d{1,2}/\d{1,2} - \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} - [A-Za-z_]+ - .* )");
    size_t start = 0, lines = 0;
    while (start < log.size()) {
        const size_t end = log.find("\r\n", start);
        ASSERT_NE(std::string::npos, end) << "a line without its end: " << log.substr(start);
        const std::string text = log.substr(start, end - start);
        if (text.find("*** InstallationBootstrapper") == std::string::npos) {
            EXPECT_TRUE(std::regex_match(text, line)) << text;
        }
        start = end + 2;
        ++lines;
    }
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(std::string::npos, log.find("Finish. ***"));

    // What the next logon would do: run the entry's command.
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(command.c_str(), &argc);
    ASSERT_NE(nullptr, argv);
    orvo::win32::UniqueLocal owned(argv);
    EXPECT_EQ(uninstaller.Exe(), std::wstring(argv[0]));
    EXPECT_EQ(0, RunProgram(command));
    EXPECT_TRUE(RunOnceValue().empty());
    const auto starts = stub.Starts();
    ASSERT_EQ(3u, starts.size());  // the blocked main, then main and shared again
    EXPECT_NE(std::string::npos, Log().find("Finish. ***"));
    ::CloseHandle(blocked);
    ::CloseHandle(release);
}
