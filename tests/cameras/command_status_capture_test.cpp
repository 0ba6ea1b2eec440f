// The capture threads of cameras with their own processor as clients drive
// them: stills taken while previewing, settings changed just before a stop or
// around a still, video sets wider than the camera's picture.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "command_status_rig.h"
#include "command_status_stream.h"
#include "gdi_pixels.h"
#include "emulator/models/frame_pattern.h"

using namespace orvo;
using orvo::cmdstat::Family;
using orvo::emu::CommandStatusModel;
using orvo::emu::PatternCheck;
using orvo::test::CommandStatusRig;
using orvo::test::Stream;

namespace {

// Parameter 4 is a plain value byte on both families: 15 on the alder
// cameras, 9 on the birch cameras.
int BrightnessByte(Family family) { return family == Family::Alder ? 15 : 9; }

uint8_t CameraValue(CommandStatusRig& rig, int n) {
    return rig.WithModel([n](CommandStatusModel& m) { return m.Value(n); });
}

// Takes a still and gives it back; true when it arrived whole.
bool TakeStill(CommandStatusRig& rig, Stream& still) {
    if (rig.camera->StartCapture(still.set) != ORVO_OK) return false;
    int index = -1;
    uint32_t counter = 0;
    PatternCheck check;
    if (!still.Take(&index, &counter, &check)) return false;
    EXPECT_EQ(check, PatternCheck::Ok);
    return rig.camera->ReleaseFrame(still.set, index) == ORVO_OK;
}

// The still frame request has reached the camera: its read is under way.
bool WaitForStillRequest(CommandStatusRig& rig, size_t commandsBefore, uint32_t stillBytes) {
    return rig.WaitUntil([&] {
        return rig.WithModel([&](CommandStatusModel& m) {
            const auto& commands = m.Commands();
            for (size_t i = commandsBefore; i < commands.size(); ++i) {
                if (commands[i].dataSize == stillBytes) return true;
            }
            return false;
        });
    });
}

TEST(CommandStatusCapture, StillsTakenWhilePreviewingLeaveEveryVideoFrameWhole) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusRig rig(family);
        ASSERT_TRUE(rig.Open());
        Stream video(rig, 640, 480, 3);
        Stream still(rig, 1280, 720, 1, kBufferKindStill);
        ASSERT_EQ(rig.camera->StartCapture(video.set), ORVO_OK);

        // A viewer takes every video frame while the stills are taken.
        std::atomic<bool> done{false};
        int viewed = 0, broken = 0;
        std::thread viewer([&] {
            while (!done.load()) {
                int index = -1;
                uint32_t counter = 0;
                PatternCheck check;
                if (!video.Take(&index, &counter, &check, 100)) continue;
                ++viewed;
                if (check != PatternCheck::Ok) ++broken;
                rig.camera->ReleaseFrame(video.set, index);
            }
        });
        int stills = 0;
        for (int n = 0; n < 12; ++n) stills += TakeStill(rig, still) ? 1 : 0;
        ::Sleep(200);   // the video frames that follow the last still
        done.store(true);
        viewer.join();
        EXPECT_EQ(stills, 12);
        EXPECT_GE(viewed, 6) << "the viewer saw the stream";
        EXPECT_EQ(broken, 0) << "video frames holding still rows, of " << viewed;
        EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
    }
}

TEST(CommandStatusCapture, ChangesMadeJustBeforeAStopReachTheCamera) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusRig rig(family);
        ASSERT_TRUE(rig.Open());
        Stream video(rig, 640, 480, 3);
        const int byte = BrightnessByte(family);
        for (int round = 0; round < 10; ++round) {
            ASSERT_EQ(rig.camera->StartCapture(video.set), ORVO_OK);
            ASSERT_TRUE(video.TakeAndRelease());
            const int value = 40 + round;
            ASSERT_EQ(rig.Set(4, value), ORVO_OK);
            if (round % 2 == 0) {
                // Updated, then stopped: the update said the camera has it.
                const int32_t updated = rig.camera->UpdateParams();
                EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
                if (updated == ORVO_OK) {
                    EXPECT_EQ(CameraValue(rig, byte), value) << "round " << round;
                } else {
                    EXPECT_EQ(rig.camera->UpdateParams(), ORVO_OK);
                }
            } else {
                // Stopped before the update: the update sends what is left.
                EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
                EXPECT_EQ(rig.camera->UpdateParams(), ORVO_OK);
            }
            EXPECT_EQ(CameraValue(rig, byte), value) << "round " << round;
        }
    }
}

TEST(CommandStatusCapture, AStillKeepsTheChangesPendingAroundIt) {
    for (Family family : {Family::Alder, Family::Birch}) {
        for (bool previewing : {false, true}) {
            CommandStatusRig rig(family);
            ASSERT_TRUE(rig.Open());
            Stream video(rig, 640, 480, 3);
            Stream still(rig, 1280, 720, 1, kBufferKindStill);
            if (previewing) {
                ASSERT_EQ(rig.camera->StartCapture(video.set), ORVO_OK);
                ASSERT_TRUE(video.TakeAndRelease());
            }
            const int byte = BrightnessByte(family);
            const uint32_t stillBytes = 1280 * 720 * 3;
            for (int round = 0; round < 10; ++round) {
                const int value = 60 + round;
                SCOPED_TRACE(::testing::Message() << "round " << round << (previewing ? ", previewing" : ""));
                if (round % 2 == 0) {
                    // Updated, then the still.
                    ASSERT_EQ(rig.Set(4, value), ORVO_OK);
                    ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
                    EXPECT_EQ(CameraValue(rig, byte), value) << "updated";
                    ASSERT_TRUE(TakeStill(rig, still));
                } else {
                    // Set while the still is on its way, updated after it.
                    const size_t before = rig.CommandCount();
                    ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK);
                    ASSERT_TRUE(WaitForStillRequest(rig, before, stillBytes));
                    ASSERT_EQ(rig.Set(4, value), ORVO_OK);
                    int index = -1;
                    uint32_t counter = 0;
                    PatternCheck check;
                    ASSERT_TRUE(still.Take(&index, &counter, &check));
                    EXPECT_EQ(rig.camera->ReleaseFrame(still.set, index), ORVO_OK);
                    ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
                }
                EXPECT_EQ(CameraValue(rig, byte), value);
            }
            if (previewing) {
                EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
            }
        }
    }
}

TEST(CommandStatusCapture, BirchVideoSetsWiderThanThePictureHoldItTopLeft) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    const int sizes[][2] = {{720, 576}, {800, 600}, {1280, 720}};
    for (const auto& size : sizes) {
        const int width = size[0], height = size[1];
        SCOPED_TRACE(::testing::Message() << width << " x " << height);
        Stream video(rig, width, height, 2);
        ASSERT_GE(video.set, 0);
        ASSERT_EQ(rig.camera->StartCapture(video.set), ORVO_OK);
        int index = -1;
        uint32_t counter = 0;
        PatternCheck whole;
        ASSERT_TRUE(video.Take(&index, &counter, &whole));
        // The camera's 640 x 480 picture, row for row, at the top left.
        const size_t stride = size_t(DibStride(kPixelFormatBgr24, width));
        EXPECT_EQ(emu::CheckPatternFrame(video.bits, 480, stride, &counter), PatternCheck::Ok);
        EXPECT_EQ(test::PixelOf(video.bitmap, 1, 479), RGB(emu::kRowMarker, 1, 479 & 0xFF));
        EXPECT_EQ(test::PixelOf(video.bitmap, 640, 0), RGB(0, 0, 0)) << "right of the picture";
        EXPECT_EQ(test::PixelOf(video.bitmap, 1, 480), RGB(0, 0, 0)) << "below the picture";
        EXPECT_EQ(rig.camera->ReleaseFrame(video.set, index), ORVO_OK);
        EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
        EXPECT_EQ(rig.camera->DeleteBuffer(video.set), ORVO_OK);
    }
    int index = -1;
    EXPECT_EQ(rig.camera->CreateBuffer(kBufferKindVideo, kPixelFormatBgr24, 0, 1282, 720, 2, &index),
              ORVO_E_OUT_OF_RANGE) << "wider than the camera";
    EXPECT_EQ(rig.camera->CreateBuffer(kBufferKindVideo, kPixelFormatBgr24, 0, 800, 400, 2, &index),
              ORVO_E_OUT_OF_RANGE) << "too low for the picture";
}

TEST(CommandStatusCapture, TheCameraAnswersEveryFrameRequestWithItsStatus) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusModel model(test::EmulatedFamily(family));
        cmdstat::PendingCommand nothing;
        std::vector<uint8_t> request;
        cmdstat::BuildCommand(cmdstat::LayoutOf(family), nothing, cmdstat::kCommandFrameRequest, 640 * 480 * 3,
                              false, request);
        for (int n = 1; n <= 3; ++n) {
            model.OnCommand(request.data(), request.size());
            EXPECT_EQ(model.WaitingStatus(), size_t(n)) << "a plain frame request";
        }
    }
}

}  // namespace
