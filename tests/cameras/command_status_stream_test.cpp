// Video and still capture from emulated cameras with their own processor:
// frames travel from the data pipe through the staging halves into the frame
// ring, fresh, whole and the right way up.
#include <gtest/gtest.h>

#include "command_status_rig.h"
#include "command_status_stream.h"
#include "gdi_pixels.h"
#include "emulator/models/frame_pattern.h"
#include "win32/unique_handle.h"

using namespace orvo;
using orvo::cmdstat::Family;
using orvo::emu::CommandStatusModel;
using orvo::emu::PatternCheck;
using orvo::test::CommandStatusRig;
using orvo::test::Stream;

namespace {

TEST(CommandStatusStream, VideoFramesArriveFreshWholeAndUpright) {
    CommandStatusRig rig(Family::Alder);
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 640, 480, 3);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    EXPECT_EQ(rig.camera->StartCapture(stream.set), ORVO_E_BUSY);

    int held = -1;
    uint32_t heldCounter = 0;
    PatternCheck check;
    ASSERT_TRUE(stream.Take(&held, &heldCounter, &check));
    ASSERT_EQ(check, PatternCheck::Ok);
    const uint8_t* heldBits = stream.bits;
    // Row numbers sit in pixel 1 of each row (blue, green) with a red marker:
    // as the picture is seen, row 0 is at the top.
    EXPECT_EQ(test::PixelOf(stream.bitmap, 1, 0), RGB(emu::kRowMarker, 0, 0));
    EXPECT_EQ(test::PixelOf(stream.bitmap, 1, 479), RGB(emu::kRowMarker, 1, 479 & 0xFF));

    // Holding one frame, take and release ten newer ones; the held one is
    // never written meanwhile. (An event that stood for a frame already
    // taken and released gives that frame again: never an older one.)
    uint32_t last = heldCounter;
    int fresh = 0;
    for (int n = 0; n < 40 && fresh < 10; ++n) {
        int index = -1;
        uint32_t counter = 0;
        ASSERT_TRUE(stream.Take(&index, &counter, &check));
        EXPECT_EQ(check, PatternCheck::Ok) << "frame " << counter;
        EXPECT_NE(index, held);
        EXPECT_GE(counter, last);
        fresh += counter > last ? 1 : 0;
        last = counter;
        EXPECT_EQ(rig.camera->ReleaseFrame(stream.set, index), ORVO_OK);
    }
    EXPECT_EQ(fresh, 10);
    uint32_t still = 0;
    EXPECT_EQ(emu::CheckPatternFrame(heldBits, 480, 640 * 3, &still), PatternCheck::Ok);
    EXPECT_EQ(still, heldCounter);

    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
    int index = -1;
    FrameDesc desc{};
    EXPECT_EQ(rig.camera->GetFrame(stream.set, &index, &desc), ORVO_E_NO_FRAME) << "stopped";
    EXPECT_EQ(rig.camera->DeleteBuffer(stream.set), ORVO_E_BUFFER_IN_USE);
    EXPECT_EQ(rig.camera->ReleaseFrame(stream.set, held), ORVO_OK);
    EXPECT_EQ(rig.camera->DeleteBuffer(stream.set), ORVO_OK);
    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK) << "no video thread: nothing to stop";
}

TEST(CommandStatusStream, ChangesRideOnFrameRequestsWhileStreaming) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 640, 480, 2);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    ASSERT_TRUE(stream.TakeAndRelease());

    ASSERT_EQ(rig.Set(4, 99), ORVO_OK);
    ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
    ASSERT_TRUE(rig.WaitUntil([&] { return rig.Get(4) == 99; }));
    const auto commands = rig.WithModel([](CommandStatusModel& m) { return m.Commands(); });
    bool carried = false;
    for (const auto& command : commands) {
        EXPECT_NE(command.command, cmdstat::kCommandParamsOnly) << "no separate parameter command";
        if (command.command == cmdstat::kCommandFrameRequest && command.valueMask == (1u << 9)) {
            carried = command.values[9] == 99 && command.dataSize == 640 * 480 * 3;
        }
    }
    EXPECT_TRUE(carried);

    // While streaming, a change goes out with the next frame request even
    // before UpdateParams is called.
    ASSERT_EQ(rig.Set(6, 7), ORVO_OK);
    EXPECT_TRUE(rig.WaitUntil([&] { return rig.Get(6) == 7; }));
    EXPECT_EQ(rig.camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
}

TEST(CommandStatusStream, ShortAndMissingFramesAreReportedAndTheStreamGoesOn) {
    CommandStatusRig rig(Family::Alder);
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 640, 480, 3);
    rig.Get(24);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    ASSERT_TRUE(stream.TakeAndRelease());
    rig.WithModel([](CommandStatusModel& m) {
        m.faults.shortFrames = 2;
        m.faults.droppedFrames = 1;
    });
    ASSERT_TRUE(rig.WaitUntil([&] { return (rig.Get(24) & kStatusVideoFrameSize) != 0; }));
    for (int n = 0; n < 3; ++n) {
        PatternCheck check;
        ASSERT_TRUE(stream.TakeAndRelease(&check));
        EXPECT_EQ(check, PatternCheck::Ok) << "short frames never reach the ring";
    }
    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
}

TEST(CommandStatusStream, UnplugEndsTheVideoThreadWithAnError) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 640, 480, 2);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    int index;
    uint32_t counter;
    PatternCheck check;
    ASSERT_TRUE(stream.Take(&index, &counter, &check));
    rig.usb.Unplug();
    rig.camera->DeviceRemoved();
    ASSERT_TRUE(rig.WaitUntil([&] { return (rig.Get(24) & kStatusVideoThreadError) != 0; }));
    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
    EXPECT_EQ(rig.camera->ReleaseFrame(stream.set, index), ORVO_OK);
}

TEST(CommandStatusStream, StillCaptureDeliversOneFrameOfTheCameraSize) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusRig rig(family);
        ASSERT_TRUE(rig.Open());
        Stream still(rig, 1280, 720, 1, kBufferKindStill);
        ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK);
        int index;
        uint32_t counter;
        PatternCheck check;
        ASSERT_TRUE(still.Take(&index, &counter, &check));
        EXPECT_EQ(check, PatternCheck::Ok);
        EXPECT_EQ(rig.camera->StartCapture(still.set), ORVO_E_BUSY) << "held: still active";
        EXPECT_EQ(rig.camera->ReleaseFrame(still.set, index), ORVO_OK);
        FrameDesc desc{};
        EXPECT_EQ(rig.camera->GetFrame(still.set, &index, &desc), ORVO_E_NO_FRAME) << "released: inactive";
        ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK) << "a second still";
        ASSERT_TRUE(still.Take(&index, &counter, &check));
        EXPECT_EQ(rig.camera->ReleaseFrame(still.set, index), ORVO_OK);
        EXPECT_EQ(rig.camera->DeleteBuffer(still.set), ORVO_OK);
    }
}

TEST(CommandStatusStream, AFailedStillIsReported) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    Stream still(rig, 1280, 720, 1, kBufferKindStill);
    rig.Get(24);
    win32::UniqueHandle statusEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    rig.camera->EnableCameraEvent(kEventStatus, statusEvent.get());
    rig.WithModel([](CommandStatusModel& m) { m.faults.shortFrames = 1; });
    ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK);
    int seen = 0;
    ASSERT_TRUE(rig.WaitUntil([&] {
        int status = 0;
        rig.camera->GetParam(-1, kParamStatus, &status);
        seen |= status;
        return (seen & (kStatusStillReadFailed | kStatusStillNoFrame)) ==
               (kStatusStillReadFailed | kStatusStillNoFrame);
    }));
    EXPECT_EQ(::WaitForSingleObject(statusEvent.get(), 0), WAIT_OBJECT_0) << "told through event 2";
    int index = -1;
    FrameDesc desc{};
    EXPECT_EQ(rig.camera->GetFrame(still.set, &index, &desc), ORVO_E_NO_FRAME) << "no unfilled frame";
    ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK) << "a new attempt";
    uint32_t counter;
    PatternCheck check;
    ASSERT_TRUE(still.Take(&index, &counter, &check));
    EXPECT_EQ(check, PatternCheck::Ok);
}

TEST(CommandStatusStream, PaddedRowsOfAnOddWidthLineUp) {
    // 642 x 3 bytes is not a multiple of four: DIB rows are padded.
    CommandStatusRig rig(Family::Alder);
    rig.model.SetModes({480u << 16 | 642u}, {0x1E});
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 642, 480, 2);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    PatternCheck check;
    ASSERT_TRUE(stream.TakeAndRelease(&check));
    EXPECT_EQ(check, PatternCheck::Ok);
    EXPECT_EQ(test::PixelOf(stream.bitmap, 1, 479), RGB(emu::kRowMarker, 1, 479 & 0xFF));
    EXPECT_EQ(rig.camera->StopCapture(), ORVO_OK);
}

TEST(CommandStatusStream, ACameraThatGrowsAfterOpeningCannotOverrunItsStaging) {
    // 1600 x 900 still fits the staging buffer but not the still set;
    // 1920 x 1080 fits neither.
    for (uint16_t width : {1600, 1920}) {
        CommandStatusRig rig(Family::Alder);
        ASSERT_TRUE(rig.Open());
        Stream still(rig, 1280, 720, 1, kBufferKindStill);
        rig.WithModel([width](CommandStatusModel& m) {
            m.SetFrameSize(width, uint16_t(width * 9 / 16));
            m.ReportItem(cmdstat::kItemFrameSize);
        });
        ASSERT_TRUE(rig.WaitUntil([&] {
            int info[5] = {};
            return rig.camera->GetInfo(1, info) == ORVO_OK && info[1] == width;
        }));
        rig.Get(24);
        ASSERT_EQ(rig.camera->StartCapture(still.set), ORVO_OK);
        ASSERT_TRUE(rig.WaitUntil([&] { return (rig.Get(24) & kStatusStillNoFrame) != 0; }, 10000)) << width;
    }
}

TEST(CommandStatusStream, ClosingWhileStreamingWithAHeldFrameEndsEverything) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    Stream stream(rig, 640, 480, 3);
    ASSERT_EQ(rig.camera->StartCapture(stream.set), ORVO_OK);
    int index;
    uint32_t counter;
    PatternCheck check;
    ASSERT_TRUE(stream.Take(&index, &counter, &check));
    rig.camera.reset();   // threads stopped and joined; the held frame is left to its client
    EXPECT_EQ(check, PatternCheck::Ok);
}

}  // namespace
