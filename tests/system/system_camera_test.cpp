// Cameras on the emulated bus as client processes meet them: streaming
// through the whole path, two processes contending for one camera, an owner
// killed while streaming, and a camera pulled out while it streams.
#include <gtest/gtest.h>

#include "system/system_rig.h"

namespace orvo::test {
namespace {

// One library instance for the suite, as in a client process; each test
// unplugs what it plugged.
class SystemCameraTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        client = new LibraryClient();
        ASSERT_TRUE(client->Start());
    }
    static void TearDownTestSuite() {
        delete client;
        client = nullptr;
    }
    void TearDown() override {
        for (const auto& path : plugged) bus.Unplug(path);
        WaitPumping(nullptr, 300);
    }
    std::wstring Plug(const std::wstring& serial) {
        emu::PluggedDevice device;
        EXPECT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, AlderCamera(serial), &device)) << Narrow(bus.LastError());
        plugged.push_back(device.path);
        return device.path;
    }
    OrvoApiClient& Api() { return client->api; }
    // Another client process that opens the camera and streams; true once
    // its frames arrive. `mode` is appended to its command line.
    static bool StartStreamingPeer(ChildProcess& peer, const std::wstring& serial, const wchar_t* mode) {
        const std::wstring readyName = UniqueName(L"orvo_peer_streaming");
        win32::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        return ready && peer.Start(ExeFolder() + L"system_camera_peer.exe", serial + L" " + readyName + L" 60" + mode) &&
               WaitPumping(ready.get(), 30000);
    }

    static LibraryClient* client;
    emu::CEmulatedUsbBus bus;
    std::vector<std::wstring> plugged;
};

LibraryClient* SystemCameraTest::client = nullptr;

TEST_F(SystemCameraTest, FramesComeFreshWholeAndUprightThroughTheBus) {
    const std::wstring serial = UniqueSerial(L"S");
    Plug(serial);
    const int id = client->WaitListed(serial);
    ASSERT_GE(id, 0);
    int handle = 0;
    ASSERT_EQ(Api().orvo_Open(id, &handle), ORVO_OK);
    {
        VideoStream stream(Api(), handle);
        ASSERT_EQ(stream.Start(), ORVO_OK);
        uint32_t last = 0;
        for (int i = 0; i < 10; ++i) {
            const uint32_t counter = stream.NextFrame();
            ASSERT_NE(counter, 0u) << "frame " << i << ": check " << int(stream.lastCheck);
            EXPECT_GT(counter, last) << "a frame came twice";
            last = counter;
        }
        int status = -1;
        EXPECT_EQ(Api().orvo_GetParam(handle, -1, 24, &status), ORVO_OK);
        EXPECT_EQ(status & 0x43, 0) << "no frame of the wrong size, no thread error, no removal: " << std::hex
                                    << status;
    }
    EXPECT_EQ(Api().orvo_Close(handle), ORVO_OK);
}

TEST_F(SystemCameraTest, AKilledOwnersCameraIsFreedForTheNextProcess) {
    const std::wstring serial = UniqueSerial(L"K");
    Plug(serial);
    const int id = client->WaitListed(serial);
    ASSERT_GE(id, 0);

    ChildProcess peer;
    ASSERT_TRUE(StartStreamingPeer(peer, serial, L""));

    int handle = 0;
    EXPECT_EQ(Api().orvo_Open(id, &handle), ORVO_E_IN_USE);
    const std::vector<DeviceEntry> list = client->List();
    auto entry = std::find_if(list.begin(), list.end(), [&](const DeviceEntry& e) { return e.deviceId == id; });
    ASSERT_NE(entry, list.end());
    EXPECT_NE(entry->inUse, 0);

    // Killed while streaming: nothing of it runs its clean-up. The next owner
    // check on this thread finds it dead, frees the camera and tells us.
    WaitPumping(nullptr, 600);   // lets the owner checks settle on the owned state
    ::ResetEvent(client->apiEvent.get());
    ASSERT_TRUE(::TerminateProcess(peer.Process(), 7));
    ASSERT_EQ(::WaitForSingleObject(peer.Process(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitPumping(client->apiEvent.get(), 5000)) << "the API event after the owner died";

    ASSERT_EQ(Api().orvo_Open(id, &handle), ORVO_OK);
    {
        VideoStream stream(Api(), handle);
        ASSERT_EQ(stream.Start(), ORVO_OK);
        EXPECT_NE(stream.NextFrame(), 0u) << "the camera streams for its new owner";
    }
    EXPECT_EQ(Api().orvo_Close(handle), ORVO_OK);
}

// A client that lets the library go while its camera still captures, then
// exits: neither the unload nor the exit may hang on the capture threads,
// and the camera is free for the next process afterwards.
TEST_F(SystemCameraTest, AClientUnloadingTheLibraryWhileCapturingStillExits) {
    const std::wstring serial = UniqueSerial(L"U");
    Plug(serial);
    const int id = client->WaitListed(serial);
    ASSERT_GE(id, 0);
    ChildProcess peer;
    ASSERT_TRUE(StartStreamingPeer(peer, serial, L" leave"));
    ::ResetEvent(client->apiEvent.get());
    EXPECT_EQ(peer.Wait(30000), 0) << "the client hung or failed: " << peer.Output();
    EXPECT_NE(peer.Output().find("unloaded"), std::string::npos) << peer.Output();
    EXPECT_TRUE(WaitPumping(client->apiEvent.get(), 5000)) << "the API event after the owner ended";
    int handle = 0;
    ASSERT_EQ(Api().orvo_Open(id, &handle), ORVO_OK);
    EXPECT_EQ(Api().orvo_Close(handle), ORVO_OK);
}

TEST_F(SystemCameraTest, UnpluggedWhileStreaming) {
    const std::wstring serial = UniqueSerial(L"P");
    const std::wstring path = Plug(serial);
    const int id = client->WaitListed(serial);
    ASSERT_GE(id, 0);
    int handle = 0;
    ASSERT_EQ(Api().orvo_Open(id, &handle), ORVO_OK);
    const size_t listed = client->List().size();
    {
        VideoStream stream(Api(), handle);
        ASSERT_EQ(stream.Start(), ORVO_OK);
        ASSERT_NE(stream.NextFrame(), 0u);

        ::ResetEvent(client->apiEvent.get());
        ::ResetEvent(stream.statusEvent.get());
        ASSERT_TRUE(bus.Unplug(path));
        plugged.clear();
        EXPECT_TRUE(WaitPumping(stream.statusEvent.get())) << "event 2";
        EXPECT_TRUE(WaitPumping(client->apiEvent.get())) << "the API event";
        int status = 0;
        EXPECT_EQ(Api().orvo_GetParam(handle, -1, 24, &status), ORVO_OK);
        EXPECT_TRUE(status & 0x40) << std::hex << status;

        EXPECT_EQ(client->Find(serial), -1);
        EXPECT_EQ(client->List().size(), listed - 1);
        EXPECT_EQ(Api().orvo_IsParamSupported(id, 4), ORVO_E_NOT_FOUND);
    }
    // The handle is still ours to close: 0, and the API event once more.
    ::ResetEvent(client->apiEvent.get());
    EXPECT_EQ(Api().orvo_Close(handle), ORVO_OK);
    EXPECT_EQ(::WaitForSingleObject(client->apiEvent.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(client->List().size(), listed - 1);
    EXPECT_EQ(Api().orvo_Close(handle), ORVO_E_BAD_HANDLE);
}

// A raw-sensor camera through the shipped library and the emulated WinUSB
// transport, with a bulk and with an isochronous data pipe: its frames come,
// and the software regulation settles on the target.
TEST_F(SystemCameraTest, RawSensorCameraRegulatesOverBulkAndIsochronousPipes) {
    for (const char* data : {"bulk", "isoch"}) {
        SCOPED_TRACE(data);
        const std::wstring serial = UniqueSerial(L"R");
        emu::PluggedDevice device;
        ASSERT_TRUE(bus.Plug(kUsbDeviceInterfaceClass,
                             {{"model", "sensor"}, {"vid", VendorId()}, {"pid", "0x0311"}, {"serial", Narrow(serial)},
                              {"illumination", "700"}, {"data", data}},
                             &device))
            << Narrow(bus.LastError());
        plugged.push_back(device.path);
        const int id = client->WaitListed(serial);
        ASSERT_GE(id, 0);
        int handle = 0;
        ASSERT_EQ(Api().orvo_Open(id, &handle), ORVO_OK);
        int32_t info[5] = {};
        EXPECT_EQ(Api().orvo_GetInfo(handle, 1, info), ORVO_OK);
        EXPECT_EQ(info[1], 1280);
        EXPECT_EQ(info[2], 960);
        int32_t transport[2] = {};
        EXPECT_EQ(Api().orvo_GetInfo(handle, 15, transport), ORVO_OK);
        EXPECT_EQ(transport[1] & 0xFF, 1);  // WinUSB

        win32::UniqueHandle frameEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        win32::UniqueHandle statusEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        int on = 1, buffer = -1;
        ASSERT_EQ(Api().orvo_EnableCameraEvent(handle, 0, frameEvent.get()), ORVO_OK);
        ASSERT_EQ(Api().orvo_EnableCameraEvent(handle, 2, statusEvent.get()), ORVO_OK);
        ASSERT_EQ(Api().orvo_SetParam(handle, -1, 10, &on), ORVO_OK);
        ASSERT_EQ(Api().orvo_CreateBuffer(handle, 0, 1, 0, 320, 240, 3, &buffer), ORVO_OK);
        ASSERT_EQ(Api().orvo_StartCapture(handle, buffer), ORVO_OK);
        ASSERT_TRUE(WaitPumping(frameEvent.get())) << "no frame";
        int seen = 0;
        for (int waits = 0; waits < 60 && !(seen & 0x200); ++waits) {
            WaitPumping(statusEvent.get(), 500);
            int status = 0;
            ASSERT_EQ(Api().orvo_GetParam(handle, -1, 24, &status), ORVO_OK);
            seen |= status;
        }
        EXPECT_TRUE(seen & 0x200) << "not settled: status " << std::hex << seen;
        EXPECT_EQ(seen & 0x3, 0) << "no short frame, no thread error: " << std::hex << seen;
        int luminance = 0;
        EXPECT_EQ(Api().orvo_GetParam(handle, -1, 28, &luminance), ORVO_OK);
        EXPECT_NEAR(luminance, 32, 3);
        EXPECT_EQ(Api().orvo_StopCapture(handle), ORVO_OK);
        EXPECT_EQ(Api().orvo_DeleteBuffer(handle, buffer), ORVO_OK);
        EXPECT_EQ(Api().orvo_Close(handle), ORVO_OK);
    }
}

}  // namespace
}  // namespace orvo::test
