// The emulated bus and the real enumeration: plugged devices are found by
// CUsbEnumerator, opened by their device objects through the emulated
// WinUsb.dll, announced by WM_DEVICECHANGE, and gone after unplugging.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/usb_enumerator.h"
#include "camera_api/transport/winusb_device.h"
#include "emulator/bus/emulated_bus.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using emu::CEmulatedUsbBus;
using emu::DeviceSettings;
using emu::PluggedDevice;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Unplugs what a test plugged, whatever happens to the test.
class BusFixture : public ::testing::Test {
protected:
    PluggedDevice Plug(const GUID& interfaceClass, DeviceSettings settings) {
        PluggedDevice device;
        EXPECT_TRUE(bus.Plug(interfaceClass, settings, &device)) << Narrow(bus.LastError());
        plugged.push_back(device.path);
        return device;
    }
    void TearDown() override {
        for (const auto& path : plugged) bus.Unplug(path);
    }
    DeviceSettings Camera(const std::wstring& serial, const char* pid = "0x0102") {
        return {{"vid", "0x2D4E"}, {"pid", pid}, {"serial", Narrow(serial)}, {"product", "Bus camera"},
                {"release", "0x0203"}};
    }
    std::wstring Serial(const wchar_t* stem) {
        std::wstring name = test::UniqueName(stem);
        name.erase(std::remove(name.begin(), name.end(), L'_'), name.end());
        return name;
    }

    struct Found {
        std::wstring path;
        DWORD instance;
        size_t position;
    };
    std::vector<Found> Enumerate(const GUID& interfaceClass, uint32_t maxChars = kMaxDevicePathChars) {
        std::vector<Found> found;
        CUsbEnumerator enumerator;
        if (!enumerator.Begin(&interfaceClass)) return found;
        std::vector<wchar_t> path(maxChars + 16, L'#');
        DWORD instance = 0;
        while (enumerator.Next(maxChars, &instance, path.data())) {
            EXPECT_EQ(path[maxChars], L'#');  // nothing written past the buffer
            found.push_back({path.data(), instance, found.size()});
        }
        return found;
    }

    CEmulatedUsbBus bus;
    std::vector<std::wstring> plugged;
};

TEST_F(BusFixture, EnumeratorListsTwoDevicesInOrderWithTheirOwnPathsAndInstances) {
    const std::wstring first = Serial(L"a"), second = Serial(L"b");
    const PluggedDevice a = Plug(kOrvoUsbInterfaceClass, Camera(first, "0x0003"));
    const PluggedDevice b = Plug(kOrvoUsbInterfaceClass, Camera(second, "0x0003"));
    ASSERT_NE(a.path, b.path);
    auto found = Enumerate(kOrvoUsbInterfaceClass);
    auto at = [&](const std::wstring& path) {
        return std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.path == path; });
    };
    ASSERT_NE(at(a.path), found.end());
    ASSERT_NE(at(b.path), found.end());
    EXPECT_LT(at(a.path)->position, at(b.path)->position);
    EXPECT_NE(at(a.path)->instance, at(b.path)->instance);
    // The paths are the ones SetupAPI reports: lower case.
    EXPECT_NE(a.path.find(L"usb#vid_2d4e&pid_0003#"), std::wstring::npos);
}

TEST_F(BusFixture, WinUsbDeviceIsIdentifiedThroughTheRealEnumeration) {
    const std::wstring serial = Serial(L"w");
    const PluggedDevice device = Plug(kUsbDeviceInterfaceClass, Camera(serial));
    CUsbEnumerator enumerator;
    EXPECT_EQ(enumerator.GetVendorId(), 0);  // no device yet
    ASSERT_TRUE(enumerator.Begin(&kUsbDeviceInterfaceClass));
    wchar_t path[kMaxDevicePathChars];
    DWORD instance = 0;
    bool seen = false;
    while (enumerator.Next(kMaxDevicePathChars, &instance, path)) {
        if (device.path != path) continue;
        seen = true;
        EXPECT_EQ(enumerator.GetVendorId(), 0);  // not opened yet
        ASSERT_TRUE(enumerator.CreateDevice());
        EXPECT_EQ(enumerator.Device()->IsWinUsb(), 1);
        EXPECT_EQ(enumerator.GetVendorId(), 0x2D4E);
        EXPECT_EQ(enumerator.GetProductId(), 0x0102);
        EXPECT_EQ(enumerator.GetReleaseMajor(), 2);
        EXPECT_EQ(enumerator.GetReleaseMinor(), 3);
        wchar_t product[32] = {}, got[16] = {};
        EXPECT_TRUE(enumerator.GetProductString(31, product));
        EXPECT_STREQ(product, L"Bus camera");
        EXPECT_TRUE(enumerator.GetSerialNumber(15, got));
        EXPECT_EQ(std::wstring(got), serial.substr(0, 15));
    }
    EXPECT_TRUE(seen);
}

TEST_F(BusFixture, DriverDevicesAreFoundButCannotOpenWithoutTheDriver) {
    const PluggedDevice device = Plug(kOrvoUsbInterfaceClass, Camera(Serial(L"d"), "0x0003"));
    CUsbEnumerator enumerator;
    ASSERT_TRUE(enumerator.Begin(&kOrvoUsbInterfaceClass));
    wchar_t path[kMaxDevicePathChars];
    DWORD instance = 0;
    while (enumerator.Next(kMaxDevicePathChars, &instance, path)) {
        if (device.path != path) continue;
        EXPECT_FALSE(enumerator.CreateDevice());
        EXPECT_EQ(enumerator.Device()->IsWinUsb(), 0);
        EXPECT_EQ(enumerator.GetVendorId(), 0);
    }
}

TEST_F(BusFixture, UnpluggedDeviceIsGone) {
    const PluggedDevice device = Plug(kUsbDeviceInterfaceClass, Camera(Serial(L"u")));
    {
        win32::UniqueFileHandle file(::CreateFileW(device.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file.valid());
    }
    ASSERT_TRUE(bus.Unplug(device.path));
    plugged.clear();
    for (const Found& f : Enumerate(kUsbDeviceInterfaceClass)) EXPECT_NE(f.path, device.path);
    win32::UniqueFileHandle file(::CreateFileW(device.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.valid());
    EXPECT_FALSE(bus.Unplug(device.path));
}

TEST_F(BusFixture, EmptyClassAndPathsThatDoNotFit) {
    const GUID nobody = {0x1C2D3E4F, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    CUsbEnumerator enumerator;
    ASSERT_TRUE(enumerator.Begin(&nobody));
    wchar_t path[8];
    DWORD instance = 0;
    EXPECT_FALSE(enumerator.Next(8, &instance, path));
    EXPECT_FALSE(enumerator.Begin(nullptr));
    EXPECT_FALSE(enumerator.Next(8, &instance, path));

    Plug(kOrvoUsbInterfaceClass, Camera(Serial(L"s"), "0x0003"));
    // A buffer no path fits: every interface is skipped, nothing overflows.
    EXPECT_TRUE(Enumerate(kOrvoUsbInterfaceClass, 20).empty());
    // An over-long path among short ones is skipped; the others are listed.
    const PluggedDevice shortOne = Plug(kOrvoUsbInterfaceClass, Camera(Serial(L"t"), "0x0003"));
    DeviceSettings longSettings = Camera(std::wstring(150, L'L') + Serial(L"l"), "0x0003");
    longSettings["reference"] = std::string(90, 'r');
    const PluggedDevice longOne = Plug(kOrvoUsbInterfaceClass, longSettings);
    ASSERT_GT(longOne.path.size(), 259u);
    const auto found = Enumerate(kOrvoUsbInterfaceClass);
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const Found& f) { return f.path == shortOne.path; }));
    EXPECT_FALSE(std::any_of(found.begin(), found.end(), [&](const Found& f) { return f.path == longOne.path; }));
}

TEST_F(BusFixture, FramesStreamFromABusDeviceBuiltFromItsDescription) {
    DeviceSettings settings = Camera(Serial(L"f"));
    settings["frame_size"] = "1500000";
    const PluggedDevice device = Plug(kUsbDeviceInterfaceClass, settings);
    CWinUsbDevice camera;
    ASSERT_TRUE(camera.Open(device.path.c_str(), nullptr));
    std::vector<uint8_t> frame(1500000);
    for (int i = 0; i < 3; ++i) {
        uint32_t n = 0;
        ASSERT_TRUE(camera.ReadData(frame.data(), uint32_t(frame.size()), &n));
        ASSERT_EQ(n, frame.size());
        for (uint32_t j = 0; j < n; j += 4099) ASSERT_EQ(frame[j], uint8_t(j * 7 + (j >> 8))) << j;
    }
}

// A hidden top-level window in this process hears what another process's bus
// broadcasts.
struct Heard {
    WPARAM event;
    std::wstring name;
    GUID interfaceClass;
};
std::vector<Heard>* g_heard = nullptr;

LRESULT CALLBACK Listen(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && g_heard && lParam) {
        auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            auto* message = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            g_heard->push_back({wParam, message->dbcc_name, message->dbcc_classguid});
        }
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

int RunPumping(const std::wstring& args, std::string* output) {
    test::ChildProcess child;
    if (!child.Start(test::ExeFolder() + L"orvo_usbbus.exe", args)) return -2;
    for (;;) {
        HANDLE process = child.Process();
        const DWORD wait = ::MsgWaitForMultipleObjects(1, &process, FALSE, 30000, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (wait != WAIT_OBJECT_0 + 1) break;
    }
    const int code = child.Wait(10000);
    *output = child.Output();
    return code;
}

TEST_F(BusFixture, PlugAndUnplugAreBroadcastWithThePathAsWindowsSpellsIt) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Listen;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    const std::wstring className = test::UniqueName(L"BusListener");
    windowClass.lpszClassName = className.c_str();
    ASSERT_TRUE(::RegisterClassW(&windowClass));
    HWND window = ::CreateWindowExW(0, className.c_str(), L"listener", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    std::vector<Heard> heard;
    g_heard = &heard;

    const std::wstring serial = Serial(L"bc");
    std::string output;
    ASSERT_EQ(RunPumping(L"plug winusb vid=0x2D4E pid=0x0104 serial=" + serial, &output), 0) << output;
    std::wstring path(output.begin(), output.end());
    path.erase(path.find_last_not_of(L"\r\n") + 1);
    ASSERT_EQ(RunPumping(L"unplug " + path, &output), 0) << output;
    g_heard = nullptr;
    ::DestroyWindow(window);
    ::UnregisterClassW(className.c_str(), windowClass.hInstance);

    std::wstring upper = serial;
    for (auto& c : upper) c = wchar_t(::towupper(c));
    const std::wstring spelled =
        L"\\\\?\\USB#VID_2D4E&PID_0104#" + upper + L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    std::vector<Heard> mine;
    for (const Heard& h : heard) {
        if (h.name.find(upper) != std::wstring::npos) mine.push_back(h);
    }
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].event, WPARAM(DBT_DEVICEARRIVAL));
    EXPECT_EQ(mine[0].name, spelled);
    EXPECT_TRUE(::IsEqualGUID(mine[0].interfaceClass, kUsbDeviceInterfaceClass));
    EXPECT_EQ(mine[1].event, WPARAM(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(mine[1].name, spelled);
}

}  // namespace
}  // namespace orvo
