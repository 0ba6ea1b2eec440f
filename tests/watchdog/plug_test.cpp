// A camera plugged while a user is logged on, end to end: the service core in
// orvo_sessions.exe starts this build's agent (and the 32-bit build's, when it
// can run here) beside the real capture source; the stand-in proxy serves.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "agent_rig.h"
#include "ksproxy_rig.h"
#include "sessions_tool.h"
#include "system/system_rig.h"
#include "tools/vcapture/capture_graph.h"
#include "watchdog/agent/bookkeeping.h"
#include "watchdog/common/names.h"
#include "watchdog/proxy/proxy_contract.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::watchdog {
namespace {

using test::ChildProcess;
using namespace test_rig;

constexpr const wchar_t* kProduct = L"Plug camera";
std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

bool KeyExists(const std::wstring& path, REGSAM view) {
    win32::UniqueRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

// The class key and the capture category's instance key of a CLSID.
bool ClassKeysExist(const std::wstring& clsid, REGSAM view) {
    return KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + clsid, view) &&
           KeyExists(L"SOFTWARE\\Classes\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + clsid, view);
}

// Devices whose name is the product's, numbered or not.
int TimesListedAsProduct(const std::wstring& product) {
    int times = 0;
    for (const auto& device : vcapture::ListDevices())
        times += device.name == product || device.name.rfind(product + L" ", 0) == 0;
    return times;
}

bool Listed(const std::wstring& name) { return TimesListed(name) > 0; }

// The CLSIDs of the values the native agent wrote, in any session.
std::vector<std::wstring> AllNativeValues() {
    std::vector<std::wstring> clsids;
    for (const auto& [clsid, entry] : Bookkeeping())
        if ((entry.flags & kBookkeepingWow64Flag) == 0) clsids.push_back(clsid);
    return clsids;
}

// Counts media-class arrivals broadcast to top-level windows, on a thread of
// its own so that it answers whatever the test thread is doing.
class BroadcastListener {
public:
    BroadcastListener() {
        m_ready.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_thread.reset(CreateThread(nullptr, 0, &Run, this, 0, &m_threadId));
        if (m_thread) WaitForSingleObject(m_ready.get(), 10000);
    }
    ~BroadcastListener() {
        if (!m_thread) return;
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_thread.get(), INFINITE);
    }
    static int Arrivals() { return s_arrivals.load(); }

private:
    static DWORD WINAPI Run(void* context) {
        auto* self = static_cast<BroadcastListener*>(context);
        WNDCLASSW wc{};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"WatchdogPlugListener";
        RegisterClassW(&wc);
        HWND window = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                    wc.hInstance, nullptr);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before the ready signal
        SetEvent(self->m_ready.get());
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        if (window) DestroyWindow(window);
        return 0;
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL && lParam) {
            const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            if (record->dbcc_size >= sizeof(*record) && record->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
                IsEqualGUID(record->dbcc_classguid, kMediaClass)) {
                ++s_arrivals;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    static std::atomic<int> s_arrivals;
    win32::UniqueHandle m_ready, m_thread;
    DWORD m_threadId = 0;
};
std::atomic<int> BroadcastListener::s_arrivals{0};

struct ParsedRecord {
    ProxyRegistrationHeader header{};
    std::wstring instanceId, displayName;
    bool exact = false;  // sizes add up and both strings end in their NUL
};

ParsedRecord Parse(const std::vector<uint8_t>& record) {
    ParsedRecord parsed;
    if (record.size() < sizeof(parsed.header)) return parsed;
    std::memcpy(&parsed.header, record.data(), sizeof(parsed.header));
    const size_t n = parsed.header.instanceIdBytes, m = parsed.header.displayNameBytes;
    if (record.size() != sizeof(parsed.header) + n + m || n < 2 || m < 2 || n % 2 || m % 2) return parsed;
    const auto* id = reinterpret_cast<const wchar_t*>(record.data() + sizeof(parsed.header));
    const auto* name = reinterpret_cast<const wchar_t*>(record.data() + sizeof(parsed.header) + n);
    parsed.instanceId.assign(id, n / 2 - 1);
    parsed.displayName.assign(name, m / 2 - 1);
    parsed.exact = id[n / 2 - 1] == L'\0' && name[m / 2 - 1] == L'\0' &&
                   parsed.instanceId.find(L'\0') == std::wstring::npos &&
                   parsed.displayName.find(L'\0') == std::wstring::npos;
    return parsed;
}

// Runs vcapture.exe of one build as the third process; its output on failure.
std::string GrabInOtherProcess(const std::wstring& bin, const std::wstring& name, const std::wstring& out) {
    CreateDirectoryW(out.c_str(), nullptr);
    ChildProcess grab;
    if (!grab.Start(bin + L"vcapture.exe", L"grab \"" + name + L"\" 3 --out \"" + out + L"\"")) return "not started";
    const int code = grab.Wait(60000);
    return code == 0 && grab.Output().find("RGB24") != std::string::npos ? "" : grab.Output();
}

// The staged agents of this build and, when it runs here, of the 32-bit one.
struct Stage {
    std::wstring bin = test::ExeFolder();
    std::wstring folder = bin + L"watchdog plug stage\\";
    std::wstring other = test::OtherArchFolder();
    bool haveX86 = false;
    bool Make() {
        if (!StageAgent(bin, folder)) return false;
        haveX86 = !other.empty() && StageAgent(other, folder + kX86Folder + L"\\");
        return true;
    }
};

TEST(WatchdogPlugTest, CamerasOfTheModelAreRegisteredEverywhereAndUnplugRemovesAll) {
    Stage staged;
    ASSERT_TRUE(staged.Make());
    const std::wstring& bin = staged.bin;
    const std::wstring& stage = staged.folder;
    const std::wstring& other = staged.other;
    const bool haveX86 = staged.haveX86;
    const size_t agents = haveX86 ? 2 : 1;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));

    test::KsProxyRig proxy;
    ASSERT_TRUE(proxy.Start());
    BroadcastListener listener;
    test::SessionsTool tool;
    ASSERT_TRUE(tool.Start(bin + L"orvo_sessions.exe", stage + L"OrvoVistrelWatchdog.exe")) << tool.Output();
    ASSERT_TRUE(tool.Command("logon 1"));
    ASSERT_TRUE(Bookkeeping().empty());

    PluggedCameras bus;
    std::vector<emu::PluggedDevice> plugged(2);
    GUID feeders[2] = {};
    const std::wstring names[2] = {kProduct, std::wstring(kProduct) + L" 2"};
    for (int camera = 0; camera < 2; ++camera) {
        const int arrivalsBefore = BroadcastListener::Arrivals();
        ASSERT_TRUE(bus.Plug(kProduct, &plugged[camera])) << bus.LastError();
        SCOPED_TRACE(test::Narrow(names[camera]));

        // One value per agent and camera, this session's, flagged by bitness.
        ASSERT_TRUE(PumpUntil([&] { return Bookkeeping().size() == agents * (camera + 1); }))
            << Bookkeeping().size();
        int native = 0, wow64 = 0;
        for (const auto& [clsid, entry] : Bookkeeping()) {
            EXPECT_EQ(1u, entry.sessionId);
            EXPECT_EQ(0u, entry.flags & ~kBookkeepingWow64Flag);
            const bool is32 = (entry.flags & kBookkeepingWow64Flag) != 0;
            (is32 ? wow64 : native)++;
            // The value is written first, the class keys after it.
            EXPECT_TRUE(PumpUntil([&] { return ClassKeysExist(clsid, is32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY); }))
                << test::Narrow(clsid) << (is32 ? " 32-bit" : " 64-bit");
        }
        EXPECT_EQ(camera + 1, native);
        EXPECT_EQ(haveX86 ? camera + 1 : 0, wow64);

        EXPECT_TRUE(PumpUntil([&] { return Listed(names[camera]); }));
        EXPECT_TRUE(PumpUntil([&] { return BroadcastListener::Arrivals() > arrivalsBefore; }, 5000));
        EXPECT_EQ("", GrabInOtherProcess(bin, names[camera], bin + L"watchdog plug frames"));
        if (haveX86) {
            EXPECT_EQ("", GrabInOtherProcess(other, names[camera], bin + L"watchdog plug frames"));
        }

        // The proxy's record names the camera's device and the proxy's name.
        ParsedRecord record;
        EXPECT_TRUE(PumpUntil([&] {
            record = Parse(proxy.LastRecord());
            return record.exact && record.displayName == names[camera] + L" Proxy";
        })) << test::Narrow(record.displayName);
        EXPECT_EQ(Upper(plugged[camera].instanceId), Upper(record.instanceId));
        EXPECT_EQ(40u, record.header.format.biSize);
        EXPECT_EQ(640, record.header.format.biWidth);
        EXPECT_EQ(480, record.header.format.biHeight);
        EXPECT_EQ(24, record.header.format.biBitCount);
        EXPECT_EQ(640u * 480u * 3u, record.header.format.biSizeImage);
        feeders[camera] = record.header.feederGuid;
        ZKSP_FRAME frame{};
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(proxy.ReadFrame(feeders[camera], frame, pixels));
    }

    const std::map<std::wstring, BookkeepingEntry> registered = Bookkeeping();
    for (const auto& device : plugged) EXPECT_TRUE(bus.Unplug(device.path));
    EXPECT_TRUE(PumpUntil([] { return Bookkeeping().empty(); })) << Bookkeeping().size();
    for (const auto& [clsid, entry] : registered) {
        EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + clsid, KEY_WOW64_64KEY)) << test::Narrow(clsid);
        EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + clsid, KEY_WOW64_32KEY)) << test::Narrow(clsid);
    }
    EXPECT_FALSE(Listed(names[0]));
    EXPECT_FALSE(Listed(names[1]));
    ZKSP_FRAME frame{};
    std::vector<uint8_t> pixels;
    for (const GUID& feeder : feeders) {
        EXPECT_TRUE(PumpUntil([&] { return !proxy.ReadFrame(feeder, frame, pixels); }, 10000));
    }

    EXPECT_TRUE(tool.Command("logoff 1"));
    EXPECT_TRUE(tool.Command("stop"));
    EXPECT_TRUE(tool.WaitFor("stopped", 60000)) << tool.Output();
    CoUninitialize();
}

// The native agent dies while the proxy holds its ADD: what it registered
// stays behind, and the next logon's agent removes it and registers anew.
TEST(WatchdogPlugTest, NativeAgentKilledWhileTheProxyHoldsItsAddLeavesOneRegistrationAfterTheNextLogon) {
    Stage staged;
    ASSERT_TRUE(staged.Make());
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const wchar_t* product = L"Crash camera";
    test::KsProxyRig proxy;
    ASSERT_TRUE(proxy.Start());
    ASSERT_TRUE(proxy.SetFaults(ZKSP_FAULT_HOLD_ADD));
    test::SessionsTool tool;
    ASSERT_TRUE(tool.Start(staged.bin + L"orvo_sessions.exe", staged.folder + L"OrvoVistrelWatchdog.exe"))
        << tool.Output();
    ASSERT_TRUE(tool.Command("logon 1"));
    PluggedCameras bus;
    emu::PluggedDevice plugged;
    ASSERT_TRUE(bus.Plug(product, &plugged)) << bus.LastError();

    // The record reaches the proxy before the ADD is held: the agent waits in it now.
    ASSERT_TRUE(PumpUntil([&] { return !proxy.LastRecord().empty(); }));
    const std::vector<std::wstring> stale = AllNativeValues();
    ASSERT_EQ(1u, stale.size());
    DWORD pid = 0;
    GetWindowThreadProcessId(FindWindowW(nullptr, kNativeWindowTitle), &pid);
    ASSERT_NE(0u, pid);
    {
        win32::UniqueHandle agent(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(agent);
        ASSERT_TRUE(TerminateProcess(agent.get(), 9));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.get(), 10000));
    }
    ASSERT_TRUE(proxy.SetFaults(0));

    ASSERT_TRUE(tool.Command("logon 1"));
    EXPECT_TRUE(PumpUntil([&] {
        const std::vector<std::wstring> now = AllNativeValues();
        return now.size() == 1 && now[0] != stale[0] && ClassKeysExist(now[0], KEY_WOW64_64KEY);
    })) << AllNativeValues().size();
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + stale[0], KEY_WOW64_64KEY));
    EXPECT_EQ(1, TimesListed(product));

    EXPECT_TRUE(bus.Unplug(plugged.path));
    EXPECT_TRUE(PumpUntil([] { return Bookkeeping().empty(); })) << Bookkeeping().size();
    EXPECT_TRUE(tool.Command("logoff 1"));
    EXPECT_TRUE(tool.Command("stop"));
    EXPECT_TRUE(tool.WaitFor("stopped", 60000)) << tool.Output();
    CoUninitialize();
}

// Another process holding the capture source's camera table makes
// RegisterCamera give up after its wait: the agents drop the camera and its
// values, and the next scan (here: another client opening the camera, which
// changes the device list) registers it once.
TEST(WatchdogPlugTest, HeldCameraTableFailsRegistrationUntilTheNextScan) {
    Stage staged;
    ASSERT_TRUE(staged.Make());
    const size_t agents = staged.haveX86 ? 2 : 1;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const wchar_t* product = L"Table camera";
    test::SessionsTool tool;
    ASSERT_TRUE(tool.Start(staged.bin + L"orvo_sessions.exe", staged.folder + L"OrvoVistrelWatchdog.exe"))
        << tool.Output();
    ASSERT_TRUE(tool.Command("logon 1"));
    // The agents map the table at their start and end when they cannot:
    // taken only once their windows show that they are past it.
    ASSERT_TRUE(PumpUntil([&] {
        return FindWindowW(nullptr, kNativeWindowTitle) && (!staged.haveX86 || FindWindowW(nullptr, kWow64WindowTitle));
    }));

    win32::UniqueHandle table(CreateMutexW(nullptr, FALSE, L"Kavrim_{94FCC833-C565-4939-8E81-FABC47B1FEC1}"));
    ASSERT_TRUE(table);
    const DWORD owned = WaitForSingleObject(table.get(), 10000);
    ASSERT_TRUE(owned == WAIT_OBJECT_0 || owned == WAIT_ABANDONED) << owned;

    PluggedCameras bus;
    emu::PluggedDevice plugged;
    const std::wstring serial = test::UniqueSerial(L"wt");
    // Each agent writes its value before it calls RegisterCamera and removes
    // it once the call has failed. The values are watched from a thread of
    // their own: the plug's arrival broadcast waits for the agents' windows,
    // whose thread waits for the table meanwhile.
    std::map<std::wstring, BookkeepingEntry> failed;
    std::atomic<bool> watching{true};
    std::atomic<size_t> seen{0};
    std::thread watcher([&] {
        while (watching) {
            const auto now = Bookkeeping();
            failed.insert(now.begin(), now.end());
            seen = failed.size();
            Sleep(20);
        }
    });
    const bool pluggedOk = bus.Plug(Camera(product, serial), &plugged);
    const bool settled = PumpUntil([&] { return seen >= agents && Bookkeeping().empty(); });
    watching = false;
    watcher.join();
    ASSERT_TRUE(pluggedOk) << bus.LastError();
    EXPECT_TRUE(settled) << failed.size() << " seen, " << Bookkeeping().size() << " left";
    EXPECT_EQ(agents, failed.size());
    for (const auto& [clsid, entry] : failed) {
        EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + clsid, KEY_WOW64_64KEY)) << test::Narrow(clsid);
        EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\CLSID\\" + clsid, KEY_WOW64_32KEY)) << test::Narrow(clsid);
    }
    EXPECT_EQ(0, TimesListedAsProduct(product));
    ASSERT_TRUE(ReleaseMutex(table.get()));

    const std::wstring readyName = test::UniqueName(L"wt_peer");
    win32::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ChildProcess peer;
    ASSERT_TRUE(peer.Start(staged.bin + L"system_camera_peer.exe", serial + L" " + readyName + L" 60"));
    EXPECT_TRUE(PumpUntil([&] {
        const auto now = Bookkeeping();
        if (now.size() != agents) return false;
        for (const auto& [clsid, entry] : now) {
            const bool is32 = (entry.flags & kBookkeepingWow64Flag) != 0;
            if (failed.count(clsid) || !ClassKeysExist(clsid, is32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY)) return false;
        }
        return true;
    })) << Bookkeeping().size();
    EXPECT_TRUE(PumpUntil([&] { return TimesListedAsProduct(product) == 1; })) << TimesListedAsProduct(product);

    TerminateProcess(peer.Process(), 0);
    peer.Wait(10000);
    EXPECT_TRUE(bus.Unplug(plugged.path));
    EXPECT_TRUE(PumpUntil([] { return Bookkeeping().empty(); })) << Bookkeeping().size();
    EXPECT_EQ(0, TimesListedAsProduct(product));
    EXPECT_TRUE(tool.Command("logoff 1"));
    EXPECT_TRUE(tool.Command("stop"));
    EXPECT_TRUE(tool.WaitFor("stopped", 60000)) << tool.Output();
    CoUninitialize();
}

}  // namespace
}  // namespace orvo::watchdog
