// The raw-sensor camera while video streams: window moves, zooms, still sets
// and render modes changed by a client between frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/cameras/cedar_rig.h"
#include "tests/cameras/sensor_registers_bridge.h"

namespace orvo {
namespace {

constexpr int kWidth = 320, kHeight = 240;

uint8_t Brightest(const uint8_t* grey) { return *std::max_element(grey, grey + kWidth * kHeight); }

TEST_F(CedarTest, StuckPixelsStayRepairedWhenTheWindowMovesWhileStreaming) {
    PlantStuckPixels();
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 2, 0, kWidth, kHeight, 2, &index), ORVO_OK);
    ASSERT_EQ(Set(6, 2, index), ORVO_OK);  // binned 2 x 2: the sensor averages defects away
    ASSERT_EQ(camera->SetFramePos(index, 400, 300), ORVO_OK);
    ASSERT_EQ(Set(34, 1), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    uint8_t binned = 255, zoomed = 255, panned = 255, uncorrected = 0;
    ASSERT_TRUE(NewestFrame(index, 3, [&](const uint8_t* p) { binned = Brightest(p); }));

    // Zoomed in to full resolution: some stuck pixels are in view.
    ASSERT_EQ(Set(6, 4, index), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 4, [&](const uint8_t* p) { zoomed = Brightest(p); }));

    // Panned so that all of them are.
    ASSERT_EQ(camera->SetFramePos(index, 360, 310), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 4, [&](const uint8_t* p) { panned = Brightest(p); }));

    // Without correction the defects stand out of this dim scene.
    ASSERT_EQ(Set(34, 0), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 2, [&](const uint8_t* p) { uncorrected = Brightest(p); }));
    printf("brightest: binned %d, zoomed %d, panned %d, uncorrected %d\n", binned, zoomed, panned, uncorrected);
    EXPECT_LT(binned, 80);
    EXPECT_LT(zoomed, 80);
    EXPECT_LT(panned, 80);
    EXPECT_GT(uncorrected, panned + 30);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

// A still set's window is programmed when the still is taken; until then the
// camera streams with the video window, whatever the client does meanwhile.
TEST_F(CedarTest, StillSetGeometryStaysOutOfTheVideoRegisters) {
    ASSERT_TRUE(Open());
    int video = -1, stillSet = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, kWidth, kHeight, 2, &video), ORVO_OK);  // binned 4 x 4
    ASSERT_EQ(camera->StartCapture(video), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 2, [](const uint8_t*) {}));
    // The mirrored video window, as programmed without a still set.
    ASSERT_EQ(Set(14, 1), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 2, [](const uint8_t*) {}));
    const SensorRegisters mirrored = test::AsLibrary(model.Registers());
    ASSERT_EQ(Set(14, 0), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 2, [](const uint8_t*) {}));
    Get(kParamStatus);

    ASSERT_EQ(camera->CreateBuffer(1, 1, 0, 640, 480, 1, &stillSet), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 12, [](const uint8_t*) {}));
    EXPECT_EQ(Get(kParamStatus) & kStatusVideoFrameSize, 0);
    SensorRegisters regs = test::AsLibrary(model.FrameRegisters());
    EXPECT_EQ(regs.value[kRegColumnSize], 4 * (kWidth + 8) - 1);
    EXPECT_EQ(regs.value[kRegRowSize], 4 * (kHeight + 8) - 1);

    ASSERT_EQ(Set(14, 1), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 3, [](const uint8_t*) {}));
    regs = test::AsLibrary(model.Registers());
    EXPECT_EQ(regs.value[kRegColumnStart], mirrored.value[kRegColumnStart]);
    EXPECT_EQ(regs.value[kRegRowStart], mirrored.value[kRegRowStart]);
    EXPECT_EQ(regs.value[kRegColumnSize], mirrored.value[kRegColumnSize]);
    EXPECT_EQ(Get(kParamStatus) & kStatusVideoFrameSize, 0);

    // A still taken meanwhile still gets its own window, and video resumes with its own.
    ASSERT_EQ(camera->StartCapture(stillSet), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(still.get(), 10000), WAIT_OBJECT_0);
    int frameIndex = -1;
    FrameDesc desc{};
    ASSERT_EQ(camera->GetFrame(stillSet, &frameIndex, &desc), ORVO_OK);
    EXPECT_EQ(camera->ReleaseFrame(stillSet, frameIndex), ORVO_OK);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(video), ORVO_OK);
    ASSERT_TRUE(NewestFrame(video, 3, [](const uint8_t*) {}));
    regs = test::AsLibrary(model.FrameRegisters());
    EXPECT_EQ(regs.value[kRegColumnStart], mirrored.value[kRegColumnStart]);
    EXPECT_EQ(regs.value[kRegColumnSize], mirrored.value[kRegColumnSize]);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

TEST_F(CedarTest, RenderModeChangedWhileStreamingAppliesToTheNextFrames) {
    model.SetLight({1.0, 3200});  // a warm lamp: rendered colour is far from grey
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, kWidth, kHeight, 2, &index), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    // Largest difference between a pixel's colours.
    auto spread = [](const uint8_t* bgr) {
        int most = 0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            const uint8_t* p = bgr + 3 * i;
            most = std::max({most, std::abs(p[0] - p[1]), std::abs(p[1] - p[2]), std::abs(p[0] - p[2])});
        }
        return most;
    };
    int colour = 0, grey = -1;
    ASSERT_TRUE(NewestFrame(index, 3, [&](const uint8_t* p) { colour = spread(p); }));
    EXPECT_GT(colour, 10);
    // No UpdateParams: the render mode is the library's own, no register changes.
    ASSERT_EQ(Set(32, 5, index), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 3, [&](const uint8_t* p) { grey = spread(p); }));
    EXPECT_EQ(grey, 0);
    ASSERT_EQ(Set(32, 3, index), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 3, [&](const uint8_t* p) { colour = spread(p); }));
    EXPECT_GT(colour, 10);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

TEST_F(CedarTest, ParameterReadBacksFollowTheirSettings) {
    ASSERT_TRUE(Open());
    // Too tall for the widest binning: created with the widest view that fits,
    // the same as asking for it afterwards.
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 320, 300, 2, &index), ORVO_OK);
    EXPECT_EQ(Get(6, index), 1);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    const SensorRegisters created = test::AsLibrary(model.Registers());
    ASSERT_EQ(Set(6, 4, index), ORVO_OK);
    ASSERT_EQ(Set(6, 1, index), ORVO_OK);
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    const SensorRegisters widest = test::AsLibrary(model.Registers());
    EXPECT_EQ(created.value[kRegColumnAddressMode], widest.value[kRegColumnAddressMode]);
    EXPECT_EQ(created.value[kRegRowSize], widest.value[kRegRowSize]);
    EXPECT_LE(created.value[kRegRowSize] + 1, 1032);
    EXPECT_GT(created.value[kRegColumnAddressMode] & 7, 0);  // binned or skipped, not full resolution

    // The minimum target reads back as set; the regulation works with its quarter.
    EXPECT_EQ(Set(38, 42), ORVO_OK);
    EXPECT_EQ(Get(38), 42);

    // The bright-pixel statistic belongs to the video set.
    model.SetLight({30.0, 5500});
    ASSERT_EQ(Set(32, 5, index), ORVO_OK);  // grey rendering counts saturated samples
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    ASSERT_TRUE(NewestFrame(index, 3, [](const uint8_t*) {}));
    EXPECT_GT(Get(36), 0);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
    EXPECT_EQ(camera->DeleteBuffer(index), ORVO_OK);
    EXPECT_EQ(Get(36), 0);
}

}  // namespace
}  // namespace orvo
