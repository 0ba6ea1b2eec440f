// Plugging and unplugging one camera again and again while the client opens,
// streams and closes it: nothing crashes, the process's handles and GDI
// objects do not grow, and each plug-in gets a device id never seen before.
#include <gtest/gtest.h>

#include <cstdio>

#include "system/system_rig.h"

namespace orvo::test {
namespace {

constexpr int kCycles = 200;
constexpr int kWarmUpCycles = 10;   // thread pools, caches and the like settle first

struct Usage {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
};

Usage ProcessUsage() {
    Usage usage;
    ::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles);
    usage.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    return usage;
}

TEST(PlugCycles, AClientSurvivesCamerasComingAndGoing) {
    LibraryClient client;
    ASSERT_TRUE(client.Start());
    emu::CEmulatedUsbBus bus;
    const std::wstring serial = UniqueSerial(L"C");
    int lastId = -1;
    Usage warm;
    const ULONGLONG start = ::GetTickCount64();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        if (cycle == kWarmUpCycles) warm = ProcessUsage();
        emu::PluggedDevice device;
        ASSERT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, AlderCamera(serial), &device)) << Narrow(bus.LastError());
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
                ASSERT_TRUE(bus.Unplug(device.path));
                ASSERT_TRUE(WaitPumping(stream.statusEvent.get())) << "event 2 after the unplug";
            }
        }
        EXPECT_EQ(client.api.orvo_Close(handle), ORVO_OK);
        if (mode != 1) {
            ASSERT_TRUE(bus.Unplug(device.path));
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
    EXPECT_LE(end.handles, warm.handles + 8);
    EXPECT_LE(end.gdiObjects, warm.gdiObjects);
}

}  // namespace
}  // namespace orvo::test
