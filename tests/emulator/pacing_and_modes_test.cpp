// The emulated cameras' frame clock and the video modes a description gives.
#include <gtest/gtest.h>

#include "emulator/frame_pacer.h"
#include "emulator/models/video_modes.h"

namespace orvo::emu {
namespace {

TEST(FramePacer, FramesFollowTheFirstRequestOneFrameTimeApart) {
    CFramePacer pacer;
    const double period = 1.0 / 30;
    EXPECT_DOUBLE_EQ(pacer.Schedule(10.0, period), 10.0 + period);
    // A host that asks ahead gets one frame per frame time, not faster.
    EXPECT_DOUBLE_EQ(pacer.Schedule(10.001, period), 10.0 + 2 * period);
    EXPECT_DOUBLE_EQ(pacer.Schedule(10.002, period), 10.0 + 3 * period);
    // A host a little late finds its frame waiting and keeps the rhythm.
    EXPECT_DOUBLE_EQ(pacer.Schedule(10.0 + 5 * period, period), 10.0 + 4 * period);
    // A new rate holds from the next frame on.
    EXPECT_DOUBLE_EQ(pacer.Schedule(10.0 + 5 * period, 0.1), 10.0 + 4 * period + 0.1);
}

TEST(FramePacer, AHostThatStoppedAskingStartsANewStream) {
    CFramePacer pacer;
    pacer.Schedule(1.0, 0.05);
    EXPECT_DOUBLE_EQ(pacer.Schedule(3.0, 0.05), 3.05);
    pacer.Restart();
    EXPECT_DOUBLE_EQ(pacer.Schedule(3.06, 0.05), 3.11);
}

TEST(VideoModes, ParsesSizesWithTheirRateSets) {
    VideoModes modes;
    ASSERT_TRUE(VideoModes::Parse("640x480@30/15,1280x720@30,320x240", modes));
    ASSERT_EQ(modes.sizes.size(), 3u);
    EXPECT_EQ(modes.sizes[0], 480u << 16 | 640u);
    EXPECT_EQ(modes.rates[0], 0x0F1Eu);   // the first rate in the lowest byte
    EXPECT_EQ(modes.sizes[1], 720u << 16 | 1280u);
    EXPECT_EQ(modes.rates[1], 30u);
    EXPECT_EQ(modes.rates[2], 0u);
    EXPECT_EQ(modes.Format(), "640x480@30/15,1280x720@30,320x240");
    ASSERT_TRUE(VideoModes::Parse("", modes));
    EXPECT_TRUE(modes.sizes.empty());
}

TEST(VideoModes, RefusesWhatIsNotAModeListAndKeepsTheOldOne) {
    VideoModes modes;
    ASSERT_TRUE(VideoModes::Parse("640x480@30", modes));
    std::string sixteen, seventeen;
    for (int i = 0; i < 16; ++i) sixteen += (i ? "," : "") + std::to_string(100 + i) + "x100";
    seventeen = sixteen + ",1x1";
    for (const char* bad : {"640", "640x", "x480", "640x480@", "640x480@30/", "640x480@1/2/3/4/5", "640x480@256",
                            "0x480", "640x70000", "640x480;", "640 x 480", "-640x480"}) {
        EXPECT_FALSE(VideoModes::Parse(bad, modes)) << bad;
    }
    EXPECT_FALSE(VideoModes::Parse(seventeen, modes));
    ASSERT_EQ(modes.sizes.size(), 1u);
    EXPECT_TRUE(VideoModes::Parse(sixteen, modes));
    EXPECT_EQ(modes.sizes.size(), 16u);
}

}  // namespace
}  // namespace orvo::emu
