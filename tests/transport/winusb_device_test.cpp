// CWinUsbDevice against the emulated WinUsb.dll: opening, descriptors,
// commands, responses and control transfers.
#include <gtest/gtest.h>

#include "camera_api/transport/winusb_device.h"
#include "emulated_winusb.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using test::CameraIdentity;
using test::EmulatedWinUsbDevice;

class Listener : public IDeviceListener {
public:
    void OnData(const uint8_t*, uint32_t) override {}
    void OnDeviceLost() override { ++lost; }
    void OnOpened() override { ++opened; }
    int lost = 0;
    int opened = 0;
};

TEST(WinUsbDevice, EmulatedModuleIsLoaded) {
    ASSERT_NE(WinUsbModule(), nullptr);
    WinUsbApi api;
    BindWinUsb(api);
    EXPECT_TRUE(api.basicAvailable);
    EXPECT_TRUE(api.isochAvailable);
}

TEST(WinUsbDevice, EmulatedModuleRefusesForeignHandles) {
    WinUsbApi api;
    BindWinUsb(api);
    int bogus = 0;
    UCHAR descriptor[18];
    ULONG n = 0;
    EXPECT_FALSE(api.GetDescriptor(&bogus, 1, 0, 0, descriptor, 18, &n));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(api.AbortPipe(&bogus, 0x82));
    EXPECT_FALSE(api.UnregisterIsochBuffer(&bogus));
    WINUSB_INTERFACE_HANDLE handle = nullptr;
    EXPECT_FALSE(api.Initialize(INVALID_HANDLE_VALUE, &handle));
}

TEST(WinUsbDevice, OpenDeviceReadsDescriptorAndStrings) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    ASSERT_TRUE(emulated.Attached());
    CWinUsbDevice device;
    EXPECT_EQ(device.GetVendorId(), 0);
    ASSERT_TRUE(device.OpenDevice(emulated.Path()));
    EXPECT_EQ(device.GetVendorId(), 0x2D4E);
    EXPECT_EQ(device.GetProductId(), 0x0102);
    EXPECT_EQ(device.GetReleaseMajor(), 3);
    EXPECT_EQ(device.GetReleaseMinor(), 5);
    EXPECT_EQ(device.IsWinUsb(), 1);
    EXPECT_EQ(device.IsUsbDevice(), 1);
    wchar_t product[32] = {};
    ASSERT_TRUE(device.GetProductString(31, product));
    EXPECT_STREQ(product, L"Test camera");
    wchar_t serial[16] = {};
    ASSERT_TRUE(device.GetSerialNumber(15, serial));
    EXPECT_STREQ(serial, L"SN0001");
    // Asked again, the open interface answers again.
    ASSERT_TRUE(device.OpenDevice(emulated.Path()));
    EXPECT_EQ(device.GetProductId(), 0x0102);
}

TEST(WinUsbDevice, LongStringIsCutWithoutTerminator) {
    auto id = CameraIdentity();
    id.product = std::wstring(40, L'x');
    id.serial.clear();
    EmulatedWinUsbDevice emulated(id, test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.OpenDevice(emulated.Path()));
    wchar_t product[40];
    std::fill(std::begin(product), std::end(product), L'#');
    ASSERT_TRUE(device.GetProductString(31, product));
    EXPECT_EQ(std::wstring(product, 31), std::wstring(31, L'x'));
    EXPECT_EQ(product[31], L'#');
    // A descriptor of 40 characters does not fit the 64-byte request: the
    // copy stops at what arrived.
    std::fill(std::begin(product), std::end(product), L'#');
    ASSERT_TRUE(device.GetProductString(39, product));
    EXPECT_EQ(std::wstring(product, 31), std::wstring(31, L'x'));
    EXPECT_EQ(product[31], L'#');
    wchar_t serial[16] = {};
    EXPECT_FALSE(device.GetSerialNumber(15, serial));  // index 0: no string
}

TEST(WinUsbDevice, OpenFailsForMissingPath) {
    CWinUsbDevice device;
    EXPECT_FALSE(device.OpenDevice(L"C:\\no\\such\\device"));
    EXPECT_FALSE(device.Open(L"C:\\no\\such\\device", nullptr));
    EXPECT_EQ(device.GetVendorId(), 0);
}

TEST(WinUsbDevice, OpenWalksThreePipesAndRefusesASecondOpen) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    Listener listener;
    ASSERT_TRUE(device.Open(emulated.Path(), &listener));
    EXPECT_EQ(listener.opened, 1);
    EXPECT_EQ(device.CommandPipeId(), 0x01);
    EXPECT_EQ(device.ResponsePipeId(), 0x81);
    EXPECT_EQ(device.DataPipeId(), 0x82);
    EXPECT_EQ(device.IsIsochronous(), 0);
    EXPECT_FALSE(device.Open(emulated.Path(), &listener));
    EXPECT_EQ(listener.opened, 1);
    EXPECT_EQ(device.DataPipeId(), 0x82);
    // Close keeps the device open; Open may run again.
    device.Close();
    EXPECT_EQ(device.DataPipeId(), 0xFF);
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    EXPECT_EQ(device.DataPipeId(), 0x82);
}

TEST(WinUsbDevice, TwoEndpointInterfaceOpensWithoutDataPipe) {
    auto layout = test::BulkLayout();
    layout.endpointCount = 2;
    EmulatedWinUsbDevice emulated(CameraIdentity(), layout);
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    EXPECT_EQ(device.DataPipeId(), 0xFF);
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t buffer[512];
    EXPECT_FALSE(device.BeginReadData(buffer, sizeof(buffer), event.get()));
    uint32_t n = 1;
    EXPECT_FALSE(device.ReadData(buffer, sizeof(buffer), &n));
    EXPECT_EQ(n, 0u);
    // Commands still work.
    const uint8_t command[4] = {1, 2, 3, 4};
    EXPECT_TRUE(device.Write(command, 4));
}

TEST(WinUsbDevice, SubClassFlagsChunkCommandsAndResponses) {
    {
        EmulatedWinUsbDevice emulated(CameraIdentity(0x03), test::BulkLayout());
        CWinUsbDevice device;
        ASSERT_TRUE(device.OpenDevice(emulated.Path()));
        EXPECT_EQ(device.CommandChunk(), 0u);
        EXPECT_EQ(device.ResponseChunk(), 0u);
    }
    EmulatedWinUsbDevice emulated(CameraIdentity(0x83), test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    EXPECT_EQ(device.CommandChunk(), 64u);
    EXPECT_EQ(device.ResponseChunk(), 64u);

    std::vector<uint8_t> command(150);
    for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i);
    ASSERT_TRUE(device.Write(command.data(), uint32_t(command.size())));
    auto commands = emulated.Model().Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].size(), 64u);
    EXPECT_EQ(commands[1].size(), 64u);
    EXPECT_EQ(commands[2].size(), 22u);
    std::vector<uint8_t> joined;
    for (auto& piece : commands) joined.insert(joined.end(), piece.begin(), piece.end());
    EXPECT_EQ(joined, command);

    // A response of 64 + 64 + 10 bytes arrives in pieces; a short piece ends it.
    auto response = test::FrameBytes(138, 9);
    emulated.Model().QueueResponse({response.begin(), response.begin() + 64});
    emulated.Model().QueueResponse({response.begin() + 64, response.begin() + 128});
    emulated.Model().QueueResponse({response.begin() + 128, response.end()});
    std::vector<uint8_t> got(200, 0);
    uint32_t n = 0;
    ASSERT_TRUE(device.ReadResponse(got.data(), 200, &n));
    EXPECT_EQ(n, 138u);
    EXPECT_TRUE(std::equal(response.begin(), response.end(), got.begin()));
}

TEST(WinUsbDevice, ResponseWaitWithoutBeginFailsAndTimeoutAborts) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    uint32_t n = 7;
    EXPECT_FALSE(device.WaitResponse(&n, 10));
    EXPECT_EQ(n, 0u);

    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t buffer[64];
    ASSERT_TRUE(device.BeginReadResponse(buffer, sizeof(buffer), event.get()));
    EXPECT_FALSE(device.WaitResponse(&n, 50));  // nothing answers: aborted
    // The aborted read took nothing: the next response goes to the next read.
    emulated.Model().QueueResponse({5, 6, 7});
    ASSERT_TRUE(device.BeginReadResponse(buffer, sizeof(buffer), event.get()));
    ASSERT_TRUE(device.WaitResponse(&n, 2000));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(buffer[0], 5);
}

TEST(WinUsbDevice, TimedOutResponseIsCollectedBeforeTheBufferIsGivenBack) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    // The aborted read comes back 300 ms late and writes into its buffer.
    emulated.Model().Faults().SetAbortDelay(emu::kResponseEndpoint, 300);
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t buffer[64];
    uint32_t n = 0;
    ASSERT_TRUE(device.BeginReadResponse(buffer, sizeof(buffer), event.get()));
    EXPECT_FALSE(device.WaitResponse(&n, 50));
    std::fill(std::begin(buffer), std::end(buffer), uint8_t(0x11));
    ::Sleep(400);
    EXPECT_EQ(std::count(std::begin(buffer), std::end(buffer), uint8_t(0x11)), 64);
    EXPECT_EQ(emulated.Model().TransfersInFlight(emu::kResponseEndpoint), 0u);
}

TEST(WinUsbDevice, FailedWriteMarksDeviceLostOnce) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    Listener listener;
    ASSERT_TRUE(device.Open(emulated.Path(), &listener));
    emulated.Model().Faults().Add(emu::kCommandEndpoint, {emu::FaultKind::Stall, 0});
    const uint8_t command[8] = {};
    EXPECT_FALSE(device.Write(command, 8));
    EXPECT_EQ(listener.lost, 1);
    // Failed: every transfer refuses, and the listener hears it only once.
    EXPECT_FALSE(device.Write(command, 8));
    EXPECT_EQ(listener.lost, 1);
    uint8_t answer[4];
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 1, 0, 0, answer, 4));
    // The next Open clears the flag.
    device.Close();
    ASSERT_TRUE(device.Open(emulated.Path(), &listener));
    EXPECT_TRUE(device.Write(command, 8));
}

TEST(WinUsbDevice, ShortAndTimedOutWritesFail) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    emulated.Model().Faults().Add(emu::kCommandEndpoint, {emu::FaultKind::Short, 3});
    const uint8_t command[8] = {};
    EXPECT_FALSE(device.Write(command, 8));
    device.Close();
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    emulated.Model().Faults().Add(emu::kCommandEndpoint, {emu::FaultKind::Timeout, 0});
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(device.Write(command, 8));
    EXPECT_GE(::GetTickCount64() - start, 4000u);
}

TEST(WinUsbDevice, ControlTransfersBuildTheSetupPacket) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
    emulated.Model().SetControlAnswer(0x21, {1, 2, 3, 4, 5, 6});
    uint8_t in[8] = {};
    EXPECT_TRUE(device.ControlIn(kControlVendor, kRecipientDevice, 0x21, 0x1234, 0x0002, in, 6));
    EXPECT_EQ(in[5], 6);
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 0x21, 0, 0, in, 8));  // only 6 came
    EXPECT_EQ(device.ControlInCount(kControlVendor, kRecipientDevice, 0x21, 0, 0, in, 8), 6);
    EXPECT_EQ(device.ControlInCount(kControlVendor, kRecipientDevice, 0x55, 0, 0, in, 8), 0);  // stalls
    uint8_t out[3] = {9, 8, 7};
    EXPECT_TRUE(device.ControlOut(kControlClass, kRecipientInterface, 0x0A, 0x0B, 0x0C, out, 3));
    auto requests = emulated.Model().ControlRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].setup.requestType, 0xC0);
    EXPECT_EQ(requests[0].setup.value, 0x1234);
    EXPECT_EQ(requests[0].setup.index, 0x0002);
    EXPECT_EQ(requests[0].setup.length, 6);
    EXPECT_EQ(requests[3].setup.requestType, 0x21);
    EXPECT_EQ(requests[3].data, std::vector<uint8_t>({9, 8, 7}));
}

TEST(WinUsbDevice, UnpluggedDeviceFailsEveryTransfer) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::BulkLayout());
    CWinUsbDevice device;
    Listener listener;
    ASSERT_TRUE(device.Open(emulated.Path(), &listener));
    emulated.Model().Unplug();
    uint8_t in[4];
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 1, 0, 0, in, 4));
    const uint8_t command[2] = {};
    EXPECT_FALSE(device.Write(command, 2));
    EXPECT_EQ(listener.lost, 1);
}

}  // namespace
}  // namespace orvo
