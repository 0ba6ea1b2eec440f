// The real agents under the service core of orvo_sessions.exe, with the real
// capture source and the stand-in proxy: a logon that comes while the
// start's clean-up runs still work, messages that arrive together, a
// capture source planted on PATH, and proxies that fail the agent.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_rig.h"
#include "ksproxy_rig.h"
#include "sessions_tool.h"
#include "watchdog/proxy/proxy_contract.h"

namespace orvo::watchdog {
namespace {

using namespace test_rig;

struct AgentTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(StageAgent(bin, stage));
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    void TearDown() override { CoUninitialize(); }

    bool StartService() { return tool.Start(bin + L"orvo_sessions.exe", stage + L"OrvoVistrelWatchdog.exe"); }
    void StopService() {
        EXPECT_TRUE(tool.Command("stop"));
        EXPECT_TRUE(tool.WaitFor("stopped", 60000)) << tool.Output();
    }

    std::wstring bin = test::ExeFolder();
    std::wstring stage = bin + L"watchdog agent stage\\";
    test::KsProxyRig proxy;
    PluggedCameras bus;
    test::SessionsTool tool;
};

// The service starts its clean-up runs and a user logs on at once, with a
// camera already plugged: the session's agents start only after the runs,
// so neither finds the other's instance mutex and nothing the session
// registers is cleaned up behind it.
TEST_F(AgentTest, ALogonRightAfterTheStartKeepsItsCameraOnceTheCleanUpRunsAreDone) {
    ASSERT_TRUE(proxy.Start());
    const std::wstring product = L"Early camera";
    emu::PluggedDevice plugged;
    ASSERT_TRUE(bus.Plug(product, &plugged)) << bus.LastError();
    // The clean-up runs take a while: the clean-up mutex is held (as by
    // another agent's clean-up) until the logon has come.
    win32::UniqueHandle cleanup(CreateMutexW(nullptr, TRUE, kCleanupMutex));
    ASSERT_TRUE(cleanup);
    ASSERT_TRUE(StartService()) << tool.Output();
    const size_t before = tool.Length();
    tool.Send("logon 1");
    test::WaitPumping(nullptr, 2000);
    ASSERT_TRUE(ReleaseMutex(cleanup.get()));
    ASSERT_TRUE(tool.WaitFor("ok logon", 60000, before));

    std::wstring clsid;
    ASSERT_TRUE(PumpUntil([&] {
        const auto values = NativeValues(1);
        if (values.size() != 1) return false;
        clsid = values[0];
        return TimesListed(product) == 1;
    }, 30000)) << "registered " << NativeValues(1).size() << ", listed " << TimesListed(product) << ", all values "
               << Bookkeeping().size() << ", agent " << WindowProcess(kNativeWindowTitle) << "\n" << tool.Output();
    // Well past the clean-up runs the registration stands, and the agent
    // that made it runs.
    test::WaitPumping(nullptr, 5000);
    EXPECT_EQ(std::vector<std::wstring>{clsid}, NativeValues(1));
    EXPECT_EQ(1, TimesListed(product));
    EXPECT_NE(0u, WindowProcess(kNativeWindowTitle));

    EXPECT_TRUE(bus.Unplug(plugged.path));
    EXPECT_TRUE(PumpUntil([] { return NativeValues(1).empty(); }));
    EXPECT_TRUE(tool.Command("logoff 1"));
    StopService();
}

// Messages posted while the agent is busy (here: its main thread waits out
// an ADD the proxy holds) are all handled once it is back in its loop, the
// last one too: a close message ends the agent's window.
TEST_F(AgentTest, MessagesPostedWhileTheAgentIsBusyAreAllHandled) {
    ASSERT_TRUE(proxy.Start());
    ASSERT_TRUE(StartService()) << tool.Output();
    ASSERT_TRUE(tool.Command("logon 1"));
    ASSERT_TRUE(PumpUntil([] { return WindowProcess(kNativeWindowTitle) != 0; }, 30000));
    const HWND window = FindWindowW(nullptr, kNativeWindowTitle);
    ASSERT_TRUE(window);

    ASSERT_TRUE(proxy.SetFaults(ZKSP_FAULT_HOLD_ADD));
    emu::PluggedDevice plugged;
    ASSERT_TRUE(bus.Plug(L"Busy camera", &plugged)) << bus.LastError();
    // The record reaches the proxy before the ADD is held: the agent's main
    // thread waits in it now, for up to its 2000 ms bound.
    ASSERT_TRUE(PumpUntil([&] { return !proxy.LastRecord().empty(); }));
    // More messages than the agent has other reasons to wake for: taken one
    // per wake, the close would wait behind them.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(PostMessageW(window, WM_NULL, 0, 0));
    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 15000)) << "the close message was left waiting";
    ASSERT_TRUE(proxy.SetFaults(0));

    EXPECT_TRUE(bus.Unplug(plugged.path));
    EXPECT_TRUE(PumpUntil([] { return NativeValues(1).empty(); }));
    EXPECT_TRUE(tool.Command("logoff 1"));
    StopService();
}

// An agent started from a folder without the capture source, with a DLL of
// that name in a folder on PATH: the agent never loads it and gives up its
// start, ending with 0 and leaving no window.
TEST_F(AgentTest, ACaptureSourcePlantedOnPathIsNeverLoaded) {
    const std::wstring bare = bin + L"watchdog agent without capture source\\";
    const std::wstring plant = bin + L"watchdog planted folder\\";
    const std::wstring mark = plant + L"loaded.mark";
    ASSERT_TRUE(StageAgent(bin, bare, false));
    DeleteFileW((bare + L"OrvoVistrel.dll").c_str());
    CreateDirectoryW(plant.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((bin + L"planted_OrvoVistrel.dll").c_str(), (plant + L"OrvoVistrel.dll").c_str(), FALSE));
    DeleteFileW(mark.c_str());

    // The agent inherits PATH and the mark's name from this process.
    wchar_t path[32767];
    const DWORD length = GetEnvironmentVariableW(L"PATH", path, 32767);
    const std::wstring oldPath(path, length < 32767 ? length : 0);
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (plant + L";" + oldPath).c_str()));
    SetEnvironmentVariableW(L"ORVO_PLANT_MARK", mark.c_str());
    win32::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    test::ChildProcess agent;
    const bool started = agent.Start(bare + L"OrvoVistrelWatchdog.exe",
                                     std::to_wstring(GetCurrentProcessId()) + L" " +
                                         std::to_wstring(reinterpret_cast<uintptr_t>(stop.get())));
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    SetEnvironmentVariableW(L"ORVO_PLANT_MARK", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(0, agent.Wait(30000)) << agent.Output();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(mark.c_str())) << "the planted DLL was loaded";
    EXPECT_EQ(0u, WindowProcess(kNativeWindowTitle));
}

// Whatever the proxy does (missing, refusing, never answering the ADD or
// the frame writes), the camera is DirectShow's all the same and a logoff
// ends the agent by itself with 0 within the service's wait.
TEST_F(AgentTest, AFailingProxyLeavesTheCameraInDirectShowAndTheAgentEndsAtLogoff) {
    struct Case {
        const char* name;
        bool installed;
        ULONG faults;
    };
    const Case cases[] = {{"absent", false, 0},
                          {"refusing", true, ZKSP_FAULT_REJECT_ADD},
                          {"never answering the ADD", true, ZKSP_FAULT_HOLD_ADD},
                          {"never answering writes", true, ZKSP_FAULT_HOLD_WRITES}};
    test::ChildProcess uninstall;
    ASSERT_TRUE(uninstall.Start(bin + L"orvo_ksproxy.exe", L"uninstall"));
    uninstall.Wait();
    ASSERT_TRUE(StartService()) << tool.Output();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.installed) {
            ASSERT_TRUE(proxy.control || proxy.Start());
            ASSERT_TRUE(proxy.SetFaults(c.faults));
        }
        ASSERT_TRUE(tool.Command("logon 1"));
        ASSERT_TRUE(PumpUntil([] { return WindowProcess(kNativeWindowTitle) != 0; }, 30000));
        win32::UniqueHandle agent(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, WindowProcess(kNativeWindowTitle)));
        ASSERT_TRUE(agent);

        const std::wstring product = L"Proxy " + std::to_wstring(&c - cases) + L" camera";
        emu::PluggedDevice plugged;
        ASSERT_TRUE(bus.Plug(product, &plugged)) << bus.LastError();
        EXPECT_TRUE(PumpUntil([&] { return NativeValues(1).size() == 1 && TimesListed(product) == 1; }, 30000));
        if (c.faults == ZKSP_FAULT_HOLD_WRITES) {
            // An application starts on the virtual camera: the feeder's
            // first write is held.
            GUID feeder{};
            std::vector<uint8_t> record;
            ASSERT_TRUE(PumpUntil([&] { return (record = proxy.LastRecord()).size() >= 16; }));
            std::memcpy(&feeder, record.data(), 16);
            ZKSP_FRAME frame{};
            std::vector<uint8_t> pixels;
            ASSERT_TRUE(PumpUntil([&] { return proxy.ReadFrame(feeder, frame, pixels); }));
            win32::UniqueHandle active(
                CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, feeder).c_str()));
            test::WaitPumping(nullptr, 2000);  // the feeder attaches and writes
            SetEvent(active.get());
            test::WaitPumping(nullptr, 1000);
        }
        EXPECT_EQ(1, TimesListed(product));

        EXPECT_TRUE(tool.Command("logoff 1"));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.get(), 10000));
        DWORD code = 99;
        GetExitCodeProcess(agent.get(), &code);
        EXPECT_EQ(0u, code) << "the service had to end the agent";
        if (c.installed) proxy.SetFaults(0);
        EXPECT_TRUE(bus.Unplug(plugged.path));
        EXPECT_TRUE(PumpUntil([] { return NativeValues(1).empty(); }));
    }
    StopService();
}

}  // namespace
}  // namespace orvo::watchdog
