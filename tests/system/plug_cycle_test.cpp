// Plugging and unplugging one camera again and again while the client opens,
// streams and closes it: nothing crashes, the process's handles and GDI
// objects do not grow, and each plug-in gets a device id never seen before.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "system/system_rig.h"

namespace orvo::test {
namespace {

constexpr int kCycles = 200;
constexpr int kWarmUpCycles = 10;   // thread pools, caches and the like settle first

struct Usage {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
};

// The system's list of every open handle, counted for this process: Wine
// answers GetProcessHandleCount with 0, but keeps this list.
DWORD HandlesInSystemList() {
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT value;
        void* object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kSystemHandleInformation = 16;
    if (!query) return 0;
    for (ULONG size = 1u << 20; size <= (64u << 20); size *= 2) {
        std::vector<uint8_t> buffer(size);
        ULONG needed = 0;
        if (query(kSystemHandleInformation, buffer.data(), size, &needed) != 0) continue;
        const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
        const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + alignof(Entry));
        const size_t fits = (size - alignof(Entry)) / sizeof(Entry);
        DWORD mine = 0;
        for (size_t i = 0; i < count && i < fits; ++i) mine += entries[i].process == ::GetCurrentProcessId();
        return mine;
    }
    return 0;
}

Usage ProcessUsage() {
    Usage usage;
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles) || usage.handles == 0) {
        usage.handles = HandlesInSystemList();
    }
    usage.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    return usage;
}

// The bus in a process of its own (orvo_usbbus.exe), as the hardware is no
// part of the client: what plugging costs that process stays out of the
// client's count.
class BusProcess {
public:
    bool Plug(const emu::DeviceSettings& settings, std::wstring* path) {
        std::wstring args = L"plug winusb";
        for (const auto& [key, value] : settings) args += L" \"" + Wide(key) + L"=" + Wide(value) + L"\"";
        ChildProcess tool;
        const bool ran = Run(tool, args);
        lastOutput = tool.Output();
        if (!ran) return false;
        const std::string& out = tool.Output();
        *path = Wide(out.substr(0, out.find_first_of("\r\n")));
        return !path->empty();
    }
    // What the tool printed the last time it ran (its reason when it failed).
    std::string lastOutput;
    int lastExit = 0;   // -1: killed after its time-out, -2: not started (startError says why)
    DWORD startError = 0;

    std::string Said() const {
        return "orvo_usbbus (exit " + std::to_string(lastExit) + ", start error " + std::to_string(startError) +
               ") said: " + lastOutput;
    }

    bool Unplug(const std::wstring& path) {
        ChildProcess tool;
        const bool ran = Run(tool, L"unplug " + path);
        lastOutput = tool.Output();
        return ran;
    }

private:
    // The tool's broadcast waits for this thread's window: pump meanwhile.
    bool Run(ChildProcess& tool, const std::wstring& args) {
        lastExit = -2;   // not started
        if (!tool.Start(ExeFolder() + L"orvo_usbbus.exe", args)) {
            startError = ::GetLastError();
            return false;
        }
        WaitPumping(tool.Process(), 30000);
        lastExit = tool.Wait();
        return lastExit == 0;
    }
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
};

TEST(PlugCycles, AClientSurvivesCamerasComingAndGoing) {
    LibraryClient client;
    ASSERT_TRUE(client.Start());
    BusProcess bus;
    const std::wstring serial = UniqueSerial(L"C");
    int lastId = -1;
    Usage warm;
    const ULONGLONG start = ::GetTickCount64();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        if (cycle == kWarmUpCycles) warm = ProcessUsage();
        std::wstring path;
        ASSERT_TRUE(bus.Plug(AlderCamera(serial), &path)) << bus.Said();
        // A failing cycle leaves no camera behind for the suites after it.
        struct Unplugger {
            BusProcess& bus;
            std::wstring& path;
            ~Unplugger() {
                if (!path.empty()) bus.Unplug(path);
            }
        } unplugger{bus, path};
        const int id = client.WaitListed(serial);
        ASSERT_GT(id, lastId) << "device ids are never reused";
        lastId = id;

        int handle = 0;
        ASSERT_EQ(client.api.orvo_Open(id, &handle), ORVO_OK);
        const int mode = cycle % 3;   // close then unplug; unplug while streaming; open and close only
        if (mode != 2) {
            VideoStream stream(client.api, handle);
            ASSERT_EQ(stream.Start(), ORVO_OK);
            ASSERT_NE(stream.NextFrame(), 0u) << "check " << int(stream.lastCheck);
            if (mode == 1) {
                ::ResetEvent(stream.statusEvent.get());
                ASSERT_TRUE(bus.Unplug(path)) << bus.Said();
                path.clear();
                ASSERT_TRUE(WaitPumping(stream.statusEvent.get())) << "event 2 after the unplug";
            }
        }
        EXPECT_EQ(client.api.orvo_Close(handle), ORVO_OK);
        if (mode != 1) {
            ASSERT_TRUE(bus.Unplug(path)) << bus.Said();
            path.clear();
        }
        // The removal reaches the window on this thread.
        for (int i = 0; i < 50 && client.Find(serial) >= 0; ++i) WaitPumping(client.apiEvent.get(), 100);
        ASSERT_EQ(client.Find(serial), -1);
    }
    const double seconds = double(::GetTickCount64() - start) / 1000.0;
    WaitPumping(nullptr, 500);
    const Usage end = ProcessUsage();
    std::printf("%d cycles in %.1f s; handles %lu -> %lu, GDI objects %lu -> %lu\n", kCycles, seconds,
                warm.handles, end.handles, warm.gdiObjects, end.gdiObjects);
    // A leak of one handle per cycle would show as 190 more; a few come and
    // go with the system's own bookkeeping.
    EXPECT_GT(warm.handles, 0u) << "the handle count is observable";
    EXPECT_LE(end.handles, warm.handles + 8);
    EXPECT_LE(end.gdiObjects, warm.gdiObjects);
}

}  // namespace
}  // namespace orvo::test
