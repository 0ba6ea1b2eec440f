// Each camera family delivers frames at the rate its settings give, not as
// fast as the host asks. The rate is counted on the camera's side (the frame
// counter the firmware stamps into its pictures, the frames the raw sensor
// read out) over a window of host time long enough that a busy machine's
// scheduling delays at its two ends stay well inside the tolerance.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "camera_api/cameras/command_status_camera.h"
#include "camera_api/cameras/zel_cedar.h"
#include "emulator/model_device.h"
#include "emulator/models/command_status_usb_model.h"
#include "emulator/models/frame_pattern.h"
#include "emulator/sensor/sensor_model.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr double kWindowSeconds = 3.0;
constexpr double kTolerance = 0.05;

double Seconds() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

// Streams until the window has passed and returns frames per second: the
// slope of the camera-side count over host time, fitted to every frame the
// host got. The host sees a frame a varying while after the camera sent it
// (its thread may wait for the device lock the status poller holds for up to
// 50 ms), and the fit averages that out where two end points would not.
// counter(frame) reads the count while the frame is held.
double MeasureRate(CZelCamera& camera, int pixelFormat, const std::function<uint32_t(const FrameDesc&)>& counter) {
    win32::UniqueHandle ready(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    EXPECT_TRUE(camera.EnableCameraEvent(kEventVideoFrame, ready.get()));
    int buffer = -1;
    EXPECT_EQ(camera.CreateBuffer(kBufferKindVideo, pixelFormat, 0, kWidth, kHeight, 4, &buffer), ORVO_OK);
    EXPECT_EQ(camera.StartCapture(buffer), ORVO_OK);
    std::vector<std::pair<double, double>> samples;   // host seconds, camera count
    // Waits are generous: a loaded machine may stall the host for a while.
    while (::WaitForSingleObject(ready.get(), 10000) == WAIT_OBJECT_0) {
        int index = -1;
        FrameDesc frame{};
        if (camera.GetFrame(buffer, &index, &frame) != ORVO_OK) continue;
        const double now = Seconds();
        const uint32_t count = counter(frame);
        camera.ReleaseFrame(buffer, index);
        samples.emplace_back(now, double(count));
        if (now - samples.front().first >= kWindowSeconds) break;
    }
    camera.StopCapture();
    camera.DeleteBuffer(buffer);
    const bool full = samples.size() > 2 && samples.back().first - samples.front().first >= kWindowSeconds;
    EXPECT_TRUE(full) << "the stream stopped after " << samples.size() << " frames";
    if (!full) return 0;
    double meanT = 0, meanC = 0;
    for (const auto& [t, c] : samples) meanT += t, meanC += c;
    meanT /= double(samples.size()), meanC /= double(samples.size());
    double stc = 0, stt = 0;
    for (const auto& [t, c] : samples) stc += (t - meanT) * (c - meanC), stt += (t - meanT) * (t - meanT);
    return stc / stt;
}

uint32_t PatternCounter(const FrameDesc& frame) {
    uint32_t counter = 0;
    emu::CheckPatternFrame(static_cast<const uint8_t*>(frame.bits), kHeight, size_t(kWidth) * 3, &counter);
    return counter;
}

void ExpectRate(double measured, double expected) {
    EXPECT_NEAR(measured, expected, expected * kTolerance) << "frames per second";
    std::printf("[   rate   ] %.2f frames per second, %.2f expected\n", measured, expected);
}

TEST(FrameTiming, TheAlderCameraRunsAtItsFrameRateSetting) {
    for (int fps : {15, 30}) {
        auto model = emu::CCommandStatusUsbModel::FromSettings(emu::Family::Alder, {});
        emu::CModelDevice device(*model);
        ASSERT_TRUE(device.Open(L"in-process", nullptr));
        CZelAlder camera(&device);
        DeviceRecord record{};
        ASSERT_TRUE(camera.Initialize(record));
        ASSERT_EQ(camera.SetParam(-1, 17, &fps), ORVO_OK);
        ASSERT_EQ(camera.UpdateParams(), ORVO_OK);
        ExpectRate(MeasureRate(camera, kPixelFormatBgr24, PatternCounter), fps);
    }
}

TEST(FrameTiming, TheBirchCameraRunsAtItsFixedRate) {
    for (const char* fps : {"25", "30"}) {
        auto model = emu::CCommandStatusUsbModel::FromSettings(emu::Family::Birch, {{"rate", fps}});
        emu::CModelDevice device(*model);
        ASSERT_TRUE(device.Open(L"in-process", nullptr));
        CZelBirch camera(&device);
        DeviceRecord record{};
        ASSERT_TRUE(camera.Initialize(record));
        ExpectRate(MeasureRate(camera, kPixelFormatBgr24, PatternCounter), std::atoi(fps));
    }
}

// A 640 x 480 window is read out binned two by two, whose longer rows allow
// at most 20 frames per second at 60 Hz mains.
TEST(FrameTiming, TheRawSensorRunsAtTheRateItsRegistersGive) {
    for (int fps : {15, 20}) {
        emu::CSensorUsbModel model{emu::DeviceIdentity{}};
        emu::CModelDevice device(model);
        ASSERT_TRUE(device.Open(L"in-process", nullptr));
        CZelCedar camera(&device, 1);
        DeviceRecord record{};
        record.entry.releaseMajor = 1;
        ASSERT_TRUE(camera.Initialize(record));
        ASSERT_EQ(camera.SetParam(-1, 17, &fps), ORVO_OK);
        ASSERT_EQ(camera.UpdateParams(), ORVO_OK);
        ExpectRate(MeasureRate(camera, kPixelFormatBgr24, [&model](const FrameDesc&) { return model.FramesSent(); }),
                   fps);
    }
}

}  // namespace
}  // namespace orvo
