// The library finding cameras on the emulated bus, as a client sees it: the
// real enumeration at initialisation, arrivals and removals through the
// library's hidden window, and the API event.
#include <gtest/gtest.h>

#include <windows.h>
#include <cfgmgr32.h>
#include <dbt.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "camera_api/api/orvo_api_client.h"
#include "camera_api/devices/device_manager.h"
#include "emulator/bus/emulated_bus.h"
#include "support/child_process.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using emu::CEmulatedUsbBus;
using emu::DeviceSettings;
using emu::PluggedDevice;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

// The instance ID a device-instance handle names in this process, or "" when
// it names none.
std::wstring InstanceIdOf(uint32_t devInst) {
    ULONG length = 0;
    if (::CM_Get_Device_ID_Size(&length, devInst, 0) != CR_SUCCESS) return {};
    std::vector<wchar_t> id(length + 1, L'\0');
    if (::CM_Get_Device_IDW(devInst, id.data(), length + 1, 0) != CR_SUCCESS) return {};
    return Upper(id.data());
}

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value));
    return text;
}

// One library instance for the whole suite, as in a client process: the
// tests run in order and each leaves the bus as it found it.
class HotPlugTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        api = new OrvoApiClient();
        ASSERT_TRUE(api->Load());
        apiEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    static void TearDownTestSuite() {
        api->orvo_EnableApiEvent(0, nullptr);
        ::CloseHandle(apiEvent);
        delete api;
    }
    void TearDown() override {
        for (const auto& path : plugged) bus.Unplug(path);
        Settle();
    }

    std::wstring Serial(const wchar_t* stem) {
        std::wstring name = test::UniqueName(stem);
        name.erase(std::remove(name.begin(), name.end(), L'_'), name.end());
        return name.substr(0, 15);
    }
    DeviceSettings Camera(const std::wstring& serial, int productId, int vendorId = ORVO_VENDOR_ID) {
        return {{"vid", Hex(vendorId)}, {"pid", Hex(productId)}, {"serial", Narrow(serial)},
                {"product", "Hot camera"}, {"release", "0x0203"}};
    }
    PluggedDevice Plug(const DeviceSettings& settings, const GUID& cls = kUsbDeviceInterfaceClass) {
        PluggedDevice device;
        EXPECT_TRUE(bus.Plug(cls, settings, &device)) << Narrow(bus.LastError());
        plugged.push_back(device.path);
        return device;
    }
    void Unplug(const PluggedDevice& device) {
        EXPECT_TRUE(bus.Unplug(device.path));
        plugged.erase(std::remove(plugged.begin(), plugged.end(), device.path), plugged.end());
    }
    // Lets broadcasts reach the library's window, which lives on this thread.
    static void Settle(DWORD ms = 300) { win32::WaitPumpingMessages(nullptr, ms); }
    static bool ApiEventWithin(DWORD ms) { return win32::WaitPumpingMessages(apiEvent, ms); }

    std::vector<DeviceEntry> List() {
        DeviceEntry entries[8];
        int count = 0;
        const int32_t result = api->orvo_GetDeviceList(sizeof(entries), entries, &count);
        EXPECT_TRUE(result == ORVO_OK || result == ORVO_E_NO_DEVICES || result == ORVO_E_MORE_DATA);
        return std::vector<DeviceEntry>(entries, entries + count);
    }
    static const DeviceEntry* Find(const std::vector<DeviceEntry>& list, const std::wstring& serial) {
        for (const DeviceEntry& e : list)
            if (serial == e.serialNumber) return &e;
        return nullptr;
    }

    static OrvoApiClient* api;
    static HANDLE apiEvent;
    CEmulatedUsbBus bus;
    std::vector<std::wstring> plugged;
};

OrvoApiClient* HotPlugTest::api = nullptr;
HANDLE HotPlugTest::apiEvent = nullptr;

TEST_F(HotPlugTest, CamerasPresentAtInitialisationAreListedWithTheirDescriptors) {
    const std::wstring serial = Serial(L"I");
    Plug(Camera(serial, 0x317));
    const std::wstring refused = Serial(L"R");
    Plug(Camera(refused, 0x30C));                  // known product, never served
    Plug(Camera(Serial(L"V"), 0x317, 0x1234));     // another maker's device

    ASSERT_EQ(api->orvo_InitializeApi(), ORVO_OK);
    ASSERT_EQ(api->orvo_EnableApiEvent(0, apiEvent), ORVO_OK);
    int count = 0;
    ASSERT_EQ(api->orvo_GetNumDevices(&count), ORVO_OK);
    EXPECT_EQ(count, 1);
    const std::vector<DeviceEntry> list = List();
    const DeviceEntry* camera = Find(list, serial);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->model, 9);
    EXPECT_EQ(camera->releaseMajor, 2);
    EXPECT_EQ(camera->releaseMinor, 3);
    EXPECT_STREQ(camera->product, L"Hot camera");
    EXPECT_EQ(camera->inUse, 0);
    EXPECT_EQ(Find(list, refused), nullptr);
    EXPECT_EQ(api->orvo_IsParamSupported(camera->deviceId, 70), ORVO_OK);
    EXPECT_EQ(api->orvo_IsParamSupported(camera->deviceId, 0), ORVO_E_UNSUPPORTED);
}

TEST_F(HotPlugTest, ArrivalsAndRemovalsReachTheLibrarysWindow) {
    ::ResetEvent(apiEvent);
    const std::wstring serial = Serial(L"A");
    const PluggedDevice device = Plug(Camera(serial, 0x403));
    EXPECT_TRUE(ApiEventWithin(5000)) << "the arrival broadcast was handled";
    const DeviceEntry* entry = nullptr;
    std::vector<DeviceEntry> list = List();
    ASSERT_NE(entry = Find(list, serial), nullptr);
    EXPECT_EQ(entry->model, 5);
    const int firstId = entry->deviceId;

    // An arrival broadcast for a camera already registered still tells the client.
    ::ResetEvent(apiEvent);
    ASSERT_TRUE(CEmulatedUsbBus::Broadcast(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass, device.path));
    EXPECT_TRUE(ApiEventWithin(5000));

    ::ResetEvent(apiEvent);
    Unplug(device);
    EXPECT_TRUE(ApiEventWithin(5000)) << "the removal broadcast was handled";
    list = List();
    EXPECT_EQ(Find(list, serial), nullptr);
    EXPECT_EQ(api->orvo_IsParamSupported(firstId, 4), ORVO_E_NOT_FOUND);

    // The same camera plugged again is a new device: ids are never reused.
    Plug(Camera(serial, 0x403));
    EXPECT_TRUE(ApiEventWithin(5000));
    list = List();
    ASSERT_NE(entry = Find(list, serial), nullptr);
    EXPECT_GT(entry->deviceId, firstId);
}

// Callers such as the watchdog read a listed camera's instance ID through
// its device-instance handle, after the scan that produced it is over, and
// after later scans for other arrivals.
TEST_F(HotPlugTest, ListedDeviceInstanceHandlesNameTheirCamerasAfterLaterScans) {
    auto handleOf = [&](const std::wstring& serial) -> uint32_t {
        const std::vector<DeviceEntry> list = List();
        const DeviceEntry* entry = Find(list, serial);
        EXPECT_NE(entry, nullptr);
        return entry ? entry->devInst : 0xFFFFFFFFu;
    };
    ::ResetEvent(apiEvent);
    const std::wstring first = Serial(L"D");
    const PluggedDevice firstDevice = Plug(Camera(first, 0x317));
    ASSERT_TRUE(ApiEventWithin(5000));
    EXPECT_EQ(InstanceIdOf(handleOf(first)), Upper(firstDevice.instanceId));

    ::ResetEvent(apiEvent);
    const std::wstring second = Serial(L"E");
    const PluggedDevice secondDevice = Plug(Camera(second, 0x317));
    ASSERT_TRUE(ApiEventWithin(5000));
    EXPECT_EQ(InstanceIdOf(handleOf(first)), Upper(firstDevice.instanceId));
    EXPECT_EQ(InstanceIdOf(handleOf(second)), Upper(secondDevice.instanceId));

    ::ResetEvent(apiEvent);
    Unplug(secondDevice);
    ASSERT_TRUE(ApiEventWithin(5000));
    EXPECT_EQ(InstanceIdOf(handleOf(first)), Upper(firstDevice.instanceId));
}

TEST_F(HotPlugTest, ForeignBroadcastsChangeNothing) {
    // Another maker's path, and a broadcast naming one of our paths that is
    // not plugged: neither registers anything.
    const size_t before = List().size();
    ASSERT_TRUE(CEmulatedUsbBus::Broadcast(DBT_DEVICEARRIVAL, kUsbDeviceInterfaceClass,
                                           L"\\\\?\\usb#vid_1234&pid_0317#x#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    ASSERT_TRUE(CEmulatedUsbBus::Broadcast(DBT_DEVICEREMOVECOMPLETE, kUsbDeviceInterfaceClass,
                                           L"\\\\?\\usb#vid_2d4e&pid_0317#nothere#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    Settle(500);
    EXPECT_EQ(List().size(), before);
}

TEST_F(HotPlugTest, TheNinthCameraIsNotListed) {
    std::vector<std::wstring> serials;
    for (int i = 0; i < 9; ++i) {
        serials.push_back(Serial(L"N"));
        Plug(Camera(serials.back(), 0x405));
        Settle(100);
    }
    Settle(1000);
    const std::vector<DeviceEntry> list = List();
    EXPECT_EQ(list.size(), 8u);
    int count = 0;
    ASSERT_EQ(api->orvo_GetNumDevices(&count), ORVO_OK);
    EXPECT_EQ(count, 8);
}

}  // namespace
}  // namespace orvo
