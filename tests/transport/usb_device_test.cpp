// CUsbDevice. Nothing answers the driver's I/O controls on this machine, so
// beyond the failures of the real calls the class runs over a seam: its pipe
// files are named pipes served by the test and its I/O controls are answered
// from a descriptor table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/usb_descriptors.h"
#include "camera_api/transport/usb_device.h"
#include "usb_driver_stand_in.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using test::DriverStandIn;
using test::SeamDevice;

class Listener : public IDeviceListener {
public:
    void OnData(const uint8_t* data, uint32_t length) override {
        if (length == 0) ++stops;
        received.insert(received.end(), data, data + length);
        pieces.push_back(length);
    }
    void OnDeviceLost() override { ++lost; }
    void OnOpened() override { ++opened; }
    std::vector<uint8_t> received;
    std::vector<uint32_t> pieces;
    int lost = 0, opened = 0, stops = 0;
};

TEST(UsbDevice, PipeFileNames) {
    EXPECT_EQ(PipeFileName(L"\\\\?\\usb#vid_2d4e&pid_0103#5&1#{57636bb2}", 0),
              L"\\\\?\\usb#vid_2d4e&pid_0103#5&1#{57636bb2}\\\\.\\orvoUsb0");
    EXPECT_EQ(PipeFileName(L"X", 2), L"X\\\\.\\orvoUsb2");
    // A path is taken to 260 characters at most.
    const std::wstring longPath(300, L'a');
    EXPECT_EQ(PipeFileName(longPath.c_str(), 1).size(), 260u + 12u);
}

TEST(UsbDevice, OpenFailsWithoutTheDriver) {
    CUsbDevice device;
    EXPECT_EQ(device.IsUsbDevice(), 1);
    EXPECT_EQ(device.IsWinUsb(), 0);
    EXPECT_EQ(device.IsIsochronous(), 0);
    EXPECT_EQ(device.AbortStream(), 0);
    EXPECT_FALSE(device.OpenDevice(L"\\\\?\\usb#vid_2d4e&pid_0001#none#{57636bb2-4bd1-46fe-aaa7-8b427e51d425}"));
    EXPECT_FALSE(device.Open(L"C:\\no\\such\\device", nullptr));
    // A plain file opens, but answers no I/O control.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring file = std::wstring(temp) + test::UniqueName(L"plain");
    win32::UniqueFileHandle made(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    made.reset();
    EXPECT_FALSE(device.OpenDevice(file.c_str()));
    EXPECT_EQ(device.GetVendorId(), 0);
    uint8_t buffer[4];
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 1, 0, 0, buffer, 4));
    EXPECT_FALSE(device.Write(buffer, 4));
    ::DeleteFileW(file.c_str());
}

TEST(UsbDevice, OpenOpensThreePipesByName) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    Listener listener;
    ASSERT_TRUE(device.Open(L"\\\\?\\usb#cam", &listener));
    ASSERT_EQ(device.opened.size(), 4u);
    EXPECT_EQ(device.opened[0], L"\\\\?\\usb#cam");
    EXPECT_EQ(device.opened[1], L"\\\\?\\usb#cam\\\\.\\orvoUsb0");
    EXPECT_EQ(device.opened[3], L"\\\\?\\usb#cam\\\\.\\orvoUsb2");
    EXPECT_EQ(listener.opened, 1);
    EXPECT_EQ(device.GetVendorId(), 0x2D4E);
    EXPECT_EQ(device.GetProductId(), 0x0103);
    EXPECT_EQ(device.GetReleaseMajor(), 2);
    EXPECT_EQ(device.GetReleaseMinor(), 7);
    ASSERT_FALSE(device.calls.empty());
    EXPECT_EQ(device.calls[0].code, IOCTL_ORVOUSB_GET_DESCRIPTOR);
    EXPECT_EQ(device.calls[0].in, std::vector<uint8_t>({1, 0, 0, 0}));
    EXPECT_EQ(device.calls[0].outLength, 18u);
    // Pipes already open: refused, nothing changes.
    EXPECT_FALSE(device.Open(L"\\\\?\\usb#cam", &listener));
    EXPECT_EQ(device.opened.size(), 4u);
    EXPECT_EQ(listener.opened, 1);
}

TEST(UsbDevice, StringsAreAskedForTwiceAndCopiedWithoutTerminator) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    ASSERT_TRUE(device.OpenDevice(L"dev"));
    device.calls.clear();
    wchar_t product[40];
    std::fill(std::begin(product), std::end(product), L'#');
    ASSERT_TRUE(device.GetProductString(31, product));
    EXPECT_EQ(std::wstring(product, 31), std::wstring(31, L'p'));
    EXPECT_EQ(product[31], L'#');
    ASSERT_EQ(device.calls.size(), 2u);
    EXPECT_EQ(device.calls[0].in, std::vector<uint8_t>({3, 2, 0x09, 0x04}));
    EXPECT_EQ(device.calls[0].outLength, 4u);
    EXPECT_EQ(device.calls[1].outLength, 82u);  // bLength of 40 characters
    wchar_t serial[16] = {};
    ASSERT_TRUE(device.GetSerialNumber(15, serial));
    EXPECT_STREQ(serial, L"S123");

    device.product = {0, 3};  // bLength 0
    EXPECT_FALSE(device.GetProductString(31, product));
    device.device[16] = 0;  // no serial number string
    ASSERT_TRUE(device.OpenDevice(L"dev"));
    EXPECT_FALSE(device.GetSerialNumber(15, serial));
}

TEST(StringDescriptors, CopyRules) {
    const uint8_t odd[] = {7, 3, 'a', 0, 'b', 0, 'c'};  // bLength 7: two whole characters
    wchar_t out[8] = {};
    ASSERT_TRUE(CopyStringDescriptor(odd, sizeof(odd), 8, out));
    EXPECT_STREQ(out, L"ab");
    const uint8_t header[] = {1, 3};  // below two bytes of text: nothing copied, still true
    wchar_t none[2] = {};
    EXPECT_TRUE(CopyStringDescriptor(header, sizeof(header), 1, none));
    EXPECT_EQ(none[0], 0);
    // bLength claims more than arrived: only what arrived is read.
    const uint8_t lying[] = {60, 3, 'x', 0};
    wchar_t got[32] = {};
    ASSERT_TRUE(CopyStringDescriptor(lying, sizeof(lying), 31, got));
    EXPECT_STREQ(got, L"x");
    const uint8_t empty[] = {0, 3};
    EXPECT_FALSE(CopyStringDescriptor(empty, sizeof(empty), 31, got));
}

TEST(UsbDevice, CommandsResponsesDataAndControls) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    ASSERT_TRUE(device.Open(L"cam", nullptr));
    const std::vector<uint8_t> command = {0xA5, 1, 2, 3};
    ASSERT_TRUE(device.Write(command.data(), 4));
    EXPECT_EQ(driver.Receive(0, 16), command);

    uint32_t n = 9;
    EXPECT_TRUE(device.WaitResponse(&n, 10));  // nothing started: done, no bytes
    EXPECT_EQ(n, 0u);
    ASSERT_TRUE(driver.Send(1, {7, 7, 7}));
    uint8_t response[16] = {};
    ASSERT_TRUE(device.ReadResponse(response, sizeof(response), &n));
    EXPECT_EQ(n, 3u);

    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t data[64] = {};
    ASSERT_TRUE(device.BeginReadData(data, sizeof(data), event.get()));
    EXPECT_FALSE(device.WaitData(&n, 50));  // times out: reset, cancelled, collected
    EXPECT_EQ(device.calls.back().code, IOCTL_ORVOUSB_RESET_PIPE);
    ASSERT_TRUE(driver.Send(2, {1, 2, 3, 4, 5}));
    ASSERT_TRUE(device.ReadData(data, sizeof(data), &n));
    EXPECT_EQ(n, 5u);

    uint8_t in[8] = {};
    EXPECT_TRUE(device.ControlIn(kControlVendor, kRecipientInterface, 0x30, 0x1234, 0x5678, in, 4));
    EXPECT_EQ(device.calls.back().code, IOCTL_ORVOUSB_CONTROL_IN);
    EXPECT_EQ(device.calls.back().in, std::vector<uint8_t>({2, 1, 0, 0x30, 0x34, 0x12, 0x78, 0x56}));
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 0x30, 0, 0, in, 8));
    EXPECT_EQ(device.ControlInCount(kControlVendor, kRecipientDevice, 0x30, 0, 0, in, 8), 4);
    EXPECT_TRUE(device.ControlOut(kControlClass, kRecipientDevice, 0x31, 0, 0, in, 8));
    EXPECT_EQ(device.calls.back().code, IOCTL_ORVOUSB_CONTROL_OUT);
}

TEST(UsbDevice, FailedWriteMarksTheDeviceLostUntilTheNextOpen) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    Listener listener;
    ASSERT_TRUE(device.Open(L"cam", &listener));
    driver.pipes[0].reset();  // the device went away
    const uint8_t command[2] = {1, 2};
    EXPECT_FALSE(device.Write(command, 2));
    EXPECT_TRUE(device.IsFailed());
    EXPECT_EQ(listener.lost, 1);
    EXPECT_FALSE(device.Write(command, 2));
    EXPECT_EQ(listener.lost, 1);
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t buffer[8];
    EXPECT_FALSE(device.BeginReadResponse(buffer, 8, event.get()));
    EXPECT_FALSE(device.ControlIn(kControlVendor, kRecipientDevice, 1, 0, 0, buffer, 4));
    device.Close();
    DriverStandIn again;
    SeamDevice fresh(again.stem);
    ASSERT_TRUE(fresh.Open(L"cam", &listener));
    EXPECT_FALSE(fresh.IsFailed());
}

TEST(UsbDevice, ListenerReadsInPiecesAndStops) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    Listener listener;
    ASSERT_TRUE(device.Open(L"cam", &listener));
    EXPECT_TRUE(device.StopThreads());  // nothing running
    ASSERT_TRUE(device.StartListener());
    std::vector<uint8_t> sent(1300);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t(i);
    ASSERT_TRUE(driver.Send(2, sent));
    for (int i = 0; i < 200 && listener.received.size() < sent.size(); ++i) ::Sleep(10);
    EXPECT_TRUE(device.StopThreads());
    EXPECT_EQ(listener.received, sent);
    for (uint32_t piece : listener.pieces) EXPECT_LE(piece, 512u);
    EXPECT_EQ(listener.stops, 1);
    EXPECT_EQ(listener.lost, 0);
    EXPECT_EQ(device.calls.back().code, IOCTL_ORVOUSB_RESET_PIPE);
}

TEST(UsbDevice, ListenerReportsALostDeviceOnce) {
    DriverStandIn driver;
    SeamDevice device(driver.stem);
    Listener listener;
    ASSERT_TRUE(device.Open(L"cam", &listener));
    ASSERT_TRUE(device.StartListener());
    driver.pipes[2].reset();
    for (int i = 0; i < 200 && listener.lost == 0; ++i) ::Sleep(10);
    EXPECT_EQ(listener.lost, 1);
    EXPECT_TRUE(device.StopThreads());
    EXPECT_TRUE(device.IsFailed());
}

}  // namespace
}  // namespace orvo
