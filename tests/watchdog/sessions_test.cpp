// The service core in orvo_sessions.exe with real agents (this build's
// watchdog and, when it can run here, the 32-bit build in "x86"), staged in a
// folder whose path has a blank, beside a stand-in capture source.
#include <gtest/gtest.h>

#include <string>

#include "sessions_tool.h"
#include "support/child_process.h"
#include "watchdog/common/names.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::watchdog {
namespace {

using test::SessionsTool;

bool Copy(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0; }

// Stages the agent files of one build into folder; false when one is missing.
bool StageBuild(const std::wstring& bin, const std::wstring& folder, const wchar_t* agentImage) {
    CreateDirectoryW(folder.c_str(), nullptr);
    return Copy(bin + agentImage, folder + L"OrvoVistrelWatchdog.exe") && Copy(bin + L"orvoApi.dll", folder + L"orvoApi.dll") &&
           Copy(bin + L"WinUsb.dll", folder + L"WinUsb.dll") &&
           Copy(bin + L"fake_OrvoVistrel.dll", folder + L"OrvoVistrel.dll");
}

DWORD WindowProcess(const wchar_t* title) {
    HWND window = FindWindowW(nullptr, title);
    DWORD pid = 0;
    if (window) GetWindowThreadProcessId(window, &pid);
    return pid;
}

bool MutexExists(const wchar_t* name) {
    win32::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name));
    return static_cast<bool>(mutex);
}

// Polls until the agent of that title runs (or runs no longer).
DWORD WaitForAgent(const wchar_t* title, bool running, DWORD timeoutMs = 60000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const DWORD pid = WindowProcess(title);
        if ((pid != 0) == running || GetTickCount64() > deadline) return pid;
        Sleep(50);
    }
}

class SessionsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::wstring bin = test::ExeFolder();
        s_stage = bin + L"watchdog stage\\";
        ASSERT_TRUE(StageBuild(bin, s_stage, L"OrvoVistrelWatchdog.exe"));
        const std::wstring other = test::OtherArchFolder();
        s_haveX86 = !other.empty() && StageBuild(other, s_stage + L"x86\\", L"OrvoVistrelWatchdog.exe");
    }
    void SetUp() override {
        ASSERT_TRUE(tool.Start(test::ExeFolder() + L"orvo_sessions.exe", s_stage + L"OrvoVistrelWatchdog.exe"))
            << tool.Output();
    }
    void TearDown() override {
        EXPECT_TRUE(tool.Command("stop"));
        EXPECT_TRUE(tool.WaitFor("stopped", 60000)) << tool.Output();
        EXPECT_EQ(0u, WaitForAgent(kNativeWindowTitle, false));
        EXPECT_EQ(0u, WaitForAgent(kWow64WindowTitle, false));
    }

    static std::wstring s_stage;
    static bool s_haveX86;
    SessionsTool tool;
};
std::wstring SessionsTest::s_stage;
bool SessionsTest::s_haveX86 = false;

TEST_F(SessionsTest, LogonStartsBothAgentsOnceAndLogoffEndsThem) {
    ASSERT_TRUE(tool.Command("logon 1"));
    const DWORD native = WaitForAgent(kNativeWindowTitle, true);
    ASSERT_NE(0u, native) << tool.Output();
    EXPECT_TRUE(MutexExists(kNativeInstanceMutex));
    DWORD wow64 = 0;
    if (s_haveX86) {
        wow64 = WaitForAgent(kWow64WindowTitle, true);
        ASSERT_NE(0u, wow64);
        EXPECT_TRUE(MutexExists(kWow64InstanceMutex));
    }
    EXPECT_EQ(" 1", tool.Sessions());

    // Again: nothing changes.
    ASSERT_TRUE(tool.Command("logon 1"));
    Sleep(1000);
    EXPECT_EQ(native, WindowProcess(kNativeWindowTitle));
    if (s_haveX86) {
        EXPECT_EQ(wow64, WindowProcess(kWow64WindowTitle));
        // The 32-bit agent dies: the next logon restarts it alone.
        win32::UniqueHandle victim(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, wow64));
        ASSERT_TRUE(victim);
        TerminateProcess(victim.get(), 7);
        WaitForSingleObject(victim.get(), 10000);
        EXPECT_EQ(0u, WaitForAgent(kWow64WindowTitle, false));
        ASSERT_TRUE(tool.Command("logon 1"));
        const DWORD restarted = WaitForAgent(kWow64WindowTitle, true);
        EXPECT_NE(0u, restarted) << tool.Output();
        EXPECT_NE(wow64, restarted);
        wow64 = restarted;
        EXPECT_EQ(native, WindowProcess(kNativeWindowTitle));
    }

    // Logoff: both end by themselves with 0, within the service's 5000 ms.
    win32::UniqueHandle nativeProcess(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, native));
    win32::UniqueHandle wow64Process(
        wow64 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, wow64) : nullptr);
    ASSERT_TRUE(tool.Command("logoff 1"));
    for (HANDLE process : {nativeProcess.get(), wow64Process.get()}) {
        if (!process) continue;
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 10000));
        DWORD code = 99;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(0u, code);
    }
    EXPECT_EQ("", tool.Sessions());
    EXPECT_EQ(std::string::npos, tool.Output().find("status 1")) << "the service stays running";

    // A later logon works.
    ASSERT_TRUE(tool.Command("logon 1"));
    EXPECT_NE(0u, WaitForAgent(kNativeWindowTitle, true));
}

TEST_F(SessionsTest, ConsoleDisconnectStopsRemoteConnectDoesNot) {
    ASSERT_TRUE(tool.Command("remote-connect 1"));
    Sleep(1000);
    EXPECT_EQ(0u, WindowProcess(kNativeWindowTitle));
    ASSERT_TRUE(tool.Command("connect 1"));
    ASSERT_NE(0u, WaitForAgent(kNativeWindowTitle, true));
    ASSERT_TRUE(tool.Command("remote-disconnect 1"));
    EXPECT_EQ(" 1", tool.Sessions());
    ASSERT_TRUE(tool.Command("disconnect 1"));
    EXPECT_EQ(0u, WaitForAgent(kNativeWindowTitle, false));
    EXPECT_EQ("", tool.Sessions());
}

TEST_F(SessionsTest, InterrogateReportsAgainAndStopEndsAgents) {
    ASSERT_TRUE(tool.Command("logon 1"));
    ASSERT_NE(0u, WaitForAgent(kNativeWindowTitle, true));
    const size_t from = tool.Length();
    ASSERT_TRUE(tool.Command("interrogate"));
    EXPECT_TRUE(tool.WaitFor("status 4", 10000, from));
    // TearDown stops the service with the agents running.
}

// A second native agent in the session (the service's own clean-up is a
// different run) finds the instance mutex taken and leaves at once.
TEST_F(SessionsTest, SecondAgentOfABitnessExits) {
    ASSERT_TRUE(tool.Command("logon 1"));
    const DWORD native = WaitForAgent(kNativeWindowTitle, true);
    ASSERT_NE(0u, native);
    test::ChildProcess second;
    ASSERT_TRUE(second.Start(s_stage + L"OrvoVistrelWatchdog.exe", L"1 1234"));
    EXPECT_EQ(0, second.Wait(30000));
    EXPECT_EQ(native, WindowProcess(kNativeWindowTitle));
}

// Sleepers stand in for agents: 31 sessions fill the 64 handles of the wait
// loop, the 32nd gets no agents and the service runs on.
TEST(SessionsLimit, ThirtySecondSessionGetsNoAgents) {
    const std::wstring bin = test::ExeFolder();
    const std::wstring stage = bin + L"sleeper stage\\";
    CreateDirectoryW(stage.c_str(), nullptr);
    CreateDirectoryW((stage + L"x86").c_str(), nullptr);
    ASSERT_TRUE(Copy(bin + L"watchdog_sleeper_agent.exe", stage + L"OrvoVistrelWatchdog.exe"));
    ASSERT_TRUE(Copy(bin + L"watchdog_sleeper_agent.exe", stage + L"x86\\OrvoVistrelWatchdog.exe"));
    SessionsTool tool;
    ASSERT_TRUE(tool.Start(bin + L"orvo_sessions.exe", stage + L"OrvoVistrelWatchdog.exe")) << tool.Output();
    std::string expected;
    for (int session = 1; session <= 32; ++session) {
        ASSERT_TRUE(tool.Command("logon " + std::to_string(session)));
        if (session <= 31) expected += " " + std::to_string(session);
    }
    EXPECT_EQ(expected, tool.Sessions());
    // Room again after a logoff.
    ASSERT_TRUE(tool.Command("logoff 3"));
    ASSERT_TRUE(tool.Command("logon 32"));
    EXPECT_NE(std::string::npos, tool.Sessions().find(" 32"));
    EXPECT_EQ(std::string::npos, tool.Output().find("status 1")) << tool.Output();
    ASSERT_TRUE(tool.Command("stop"));
    EXPECT_TRUE(tool.WaitFor("status 1 exit 0 0", 120000)) << tool.Output();
}

}  // namespace
}  // namespace orvo::watchdog
