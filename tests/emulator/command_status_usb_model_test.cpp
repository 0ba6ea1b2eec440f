// The command-and-status cameras as USB devices: the camera class streams
// from the firmware model in-process and through the emulated WinUsb.dll of a
// device plugged on the emulated bus.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "camera_api/cameras/model_factory.h"
#include "camera_api/devices/device_manager.h"
#include "camera_api/transport/winusb_device.h"
#include "emulator/bus/emulated_bus.h"
#include "emulator/model_device.h"
#include "emulator/model_factory.h"
#include "emulator/models/command_status_usb_model.h"
#include "emulator/models/frame_pattern.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using emu::CCommandStatusUsbModel;
using emu::DeviceSettings;

constexpr int kWidth = 640, kHeight = 480;

std::string Vendor() {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", unsigned(ORVO_VENDOR_ID));
    return text;
}

DeviceRecord Record(int model) {
    DeviceRecord record{};
    record.entry.deviceId = 1;
    record.entry.model = model;
    record.entry.releaseMajor = 1;
    record.transport = kTransportWinUsb;
    return record;
}

// Streams a few frames: each must be a whole, upright pattern frame newer
// than the one before.
void ExpectFreshFrames(CZelCamera& camera, int frames) {
    win32::UniqueHandle ready(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_TRUE(camera.EnableCameraEvent(kEventVideoFrame, ready.get()));
    int buffer = -1;
    ASSERT_EQ(camera.CreateBuffer(0, 1, 0, kWidth, kHeight, 3, &buffer), ORVO_OK);
    ASSERT_EQ(camera.StartCapture(buffer), ORVO_OK);
    uint32_t last = 0;
    for (int i = 0; i < frames; ++i) {
        ASSERT_EQ(::WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0) << "frame " << i;
        int index = -1;
        FrameDesc frame{};
        ASSERT_EQ(camera.GetFrame(buffer, &index, &frame), ORVO_OK);
        uint32_t counter = 0;
        const auto check = emu::CheckPatternFrame(static_cast<const uint8_t*>(frame.bits), kHeight,
                                                  size_t(kWidth) * 3, &counter);
        camera.ReleaseFrame(buffer, index);
        EXPECT_EQ(check, emu::PatternCheck::Ok) << "frame " << i;
        EXPECT_GT(counter, last) << "frame " << i;
        last = counter;
    }
    EXPECT_EQ(camera.StopCapture(), ORVO_OK);
    EXPECT_EQ(camera.DeleteBuffer(buffer), ORVO_OK);
    int status = 0;
    EXPECT_EQ(camera.GetParam(-1, kParamStatus, &status), ORVO_OK);
    EXPECT_EQ(status & (kStatusVideoFrameSize | kStatusVideoThreadError | kStatusDeviceRemoved), 0) << std::hex
                                                                                                  << status;
}

TEST(CommandStatusUsbModel, DescriptionsNameBothFamilies) {
    auto alder = emu::CreateModel({{"model", "alder"}, {"vid", Vendor()}, {"pid", "0x0317"}, {"serial", "A7"}});
    ASSERT_TRUE(alder);
    uint8_t descriptor[18];
    alder->DeviceDescriptor(descriptor);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, ORVO_VENDOR_ID);
    EXPECT_EQ(ModelForProductId(descriptor[10] | descriptor[11] << 8), 9);
    auto birch = emu::CreateModel({{"model", "birch"}, {"vid", Vendor()}, {"pid", "0x0319"}});
    ASSERT_TRUE(birch);
    birch->DeviceDescriptor(descriptor);
    EXPECT_EQ(ModelForProductId(descriptor[10] | descriptor[11] << 8), 7);
}

TEST(CommandStatusUsbModel, ReadsWaitForTheCommandsThatAnswerThem) {
    auto model = CCommandStatusUsbModel::FromSettings(emu::Family::Alder, {});
    uint8_t buffer[1024];
    uint32_t moved = 0;
    EXPECT_EQ(model->ReadIn(emu::kResponseEndpoint, buffer, sizeof(buffer), &moved), emu::UsbStatus::Pending);
    EXPECT_EQ(model->ReadIn(emu::kDataEndpoint, buffer, sizeof(buffer), &moved), emu::UsbStatus::Pending);

    // A waker hears of the status a command produces.
    win32::UniqueHandle waker(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    model->AddWaker(waker.get());
    model->WithFirmware([](emu::CommandStatusModel& firmware) { firmware.ChangeValue(3, 9); });
    EXPECT_EQ(::WaitForSingleObject(waker.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(model->ReadIn(emu::kResponseEndpoint, buffer, 8, &moved), emu::UsbStatus::Ok);
    EXPECT_EQ(moved, 8u);   // a packet read in pieces goes on where it stopped
    EXPECT_EQ(model->ReadIn(emu::kResponseEndpoint, buffer, sizeof(buffer), &moved), emu::UsbStatus::Ok);
    EXPECT_GT(moved, 0u);
    EXPECT_EQ(model->ReadIn(emu::kResponseEndpoint, buffer, sizeof(buffer), &moved), emu::UsbStatus::Pending);

    // Only vendor requests to the device reach the firmware.
    emu::SetupPacket setup{0xC0, 0x51, 1, 0, 16};
    EXPECT_EQ(model->Control(setup, buffer, 16, &moved), emu::UsbStatus::Ok);
    EXPECT_EQ(moved, 16u);
    setup.requestType = 0xC1;
    EXPECT_EQ(model->Control(setup, buffer, 16, &moved), emu::UsbStatus::Stall);

    model->Unplug();
    EXPECT_EQ(model->WriteOut(emu::kCommandEndpoint, buffer, 4, &moved), emu::UsbStatus::NoDevice);
    model->RemoveWaker(waker.get());
}

TEST(CommandStatusUsbModel, TheAlderCameraStreamsInProcess) {
    auto model = CCommandStatusUsbModel::FromSettings(emu::Family::Alder, {});
    emu::CModelDevice device(*model);
    ASSERT_TRUE(device.Open(L"in-process", nullptr));
    auto camera = CreateModelCamera(9, &device);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->Initialize(Record(9)));
    ExpectFreshFrames(*camera, 5);
    camera.reset();
    EXPECT_TRUE(model->HostErrors().empty());
}

TEST(CommandStatusUsbModel, TheDescriptionGivesTheAlderCameraItsVideoModes) {
    auto model = CCommandStatusUsbModel::FromSettings(emu::Family::Alder,
                                                      {{"modes", "640x480@30/15,1280x720@30,320x240@60"}});
    emu::CModelDevice device(*model);
    ASSERT_TRUE(device.Open(L"in-process", nullptr));
    auto camera = CreateModelCamera(9, &device);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->Initialize(Record(9)));
    int32_t pairs[4 + 2 * 16] = {};
    pairs[0] = 10;
    pairs[1] = 1;
    ASSERT_EQ(camera->GetInfo(10, pairs), ORVO_OK);
    EXPECT_EQ(pairs[2], 2);
    EXPECT_EQ(pairs[3], 3);
    EXPECT_EQ(uint32_t(pairs[4]), 720u << 16 | 1280u);
    EXPECT_EQ(pairs[5], 30);
    EXPECT_EQ(uint32_t(pairs[6]), 240u << 16 | 320u);
    EXPECT_EQ(pairs[7], 60);
    // Only the sizes of the list make video buffers.
    int buffer = -1;
    EXPECT_EQ(camera->CreateBuffer(0, 1, 0, 800, 600, 3, &buffer), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(camera->CreateBuffer(0, 1, 0, 320, 240, 3, &buffer), ORVO_OK);
    EXPECT_EQ(camera->DeleteBuffer(buffer), ORVO_OK);
}

TEST(CommandStatusUsbModel, APluggedCameraStreamsThroughTheEmulatedWinUsb) {
    std::wstring serial = test::UniqueName(L"U");
    serial.erase(std::remove(serial.begin(), serial.end(), L'_'), serial.end());
    const DeviceSettings settings = {{"model", "birch"}, {"vid", Vendor()}, {"pid", "0x0401"}, {"serial", std::string(serial.begin(),
                                     serial.begin() + std::min<size_t>(serial.size(), 15))}};
    emu::CEmulatedUsbBus bus;
    emu::PluggedDevice plugged;
    ASSERT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, settings, &plugged));
    {
        CWinUsbDevice device;
        ASSERT_TRUE(device.Open(plugged.path.c_str(), nullptr));
        EXPECT_EQ(ModelForProductId(device.GetProductId()), 6);
        auto camera = CreateModelCamera(6, &device);
        ASSERT_TRUE(camera);
        ASSERT_TRUE(camera->Initialize(Record(6)));
        ExpectFreshFrames(*camera, 5);
        // Pulled out while open: the device's transfers fail from then on,
        // before anyone has handled the removal broadcast.
        ASSERT_TRUE(bus.Unplug(plugged.path));
        const uint8_t command[4] = {};
        bool failed = false;
        for (int i = 0; i < 100 && !failed; ++i, ::Sleep(20)) failed = !device.Write(command, sizeof(command));
        EXPECT_TRUE(failed);
        // A stream started on the pulled device ends with a thread error.
        int buffer = -1;
        ASSERT_EQ(camera->CreateBuffer(0, 1, 0, kWidth, kHeight, 3, &buffer), ORVO_OK);
        camera->StartCapture(buffer);
        int status = 0;
        for (int i = 0; i < 100 && !(status & kStatusVideoThreadError); ++i, ::Sleep(20)) {
            int bits = 0;
            camera->GetParam(-1, kParamStatus, &bits);
            status |= bits;
        }
        EXPECT_TRUE(status & kStatusVideoThreadError) << std::hex << status;
        camera->StopCapture();
    }
}

}  // namespace
}  // namespace orvo
