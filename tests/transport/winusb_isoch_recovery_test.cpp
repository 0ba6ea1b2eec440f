// The isochronous ring after trouble: a consumer that falls behind, a read
// the host stack refuses, a camera pulled out while reads are in flight.
// Idle reads take their real time (50 ms per block), one after another.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "camera_api/transport/winusb_device.h"
#include "emulated_winusb.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using test::CameraIdentity;
using test::EmulatedWinUsbDevice;
using test::FrameBytes;

constexpr uint32_t kPacket = 3072;
constexpr uint32_t kPacketsPerBlock = 400;

class IsochRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulated.Attached());
        ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
        event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    emu::CScriptedUsbModel& Model() { return emulated.Model(); }

    // One fill; false when it did not end within timeoutMs.
    bool Fill(std::vector<uint8_t>& out, uint32_t length, uint32_t* n, DWORD timeoutMs) {
        out.assign(length, 0);
        *n = 0;
        if (!device.BeginReadData(out.data(), length, event.get())) return false;
        return device.WaitData(n, timeoutMs) != 0;
    }

    EmulatedWinUsbDevice emulated{CameraIdentity(), test::IsochLayout()};
    CWinUsbDevice device;
    win32::UniqueHandle event;
};

// A capture thread that hands the next buffer in late leaves the sink holding
// blocks for a while; afterwards the ring must again keep three or four reads
// in flight, each continuing the stream of the one before.
TEST_F(IsochRecovery, ReadDepthAndStreamComeBackAfterTheConsumerPauses) {
    std::vector<uint8_t> out(1 << 20);
    uint32_t n = 0;
    ASSERT_TRUE(device.BeginReadData(out.data(), uint32_t(out.size()), event.get()));
    ::Sleep(300);
    for (DWORD pause : {60u, 110u, 160u}) {
        // The fill ends without data; no fill is under way during the pause.
        EXPECT_FALSE(device.WaitData(&n, 0));
        ::Sleep(pause);
        ASSERT_TRUE(device.BeginReadData(out.data(), uint32_t(out.size()), event.get()));
        ::Sleep(300);  // six block times: long enough to refill any depth
        const size_t flagsBefore = Model().IsochContinueFlags(emu::kDataEndpoint).size();
        int deep = 0, samples = 0;
        for (; samples < 25; ++samples) {
            if (Model().TransfersInFlight(emu::kDataEndpoint) >= 3) ++deep;
            ::Sleep(10);
        }
        const auto flags = Model().IsochContinueFlags(emu::kDataEndpoint);
        // Allows a sample taken just as a read completed on a busy machine.
        EXPECT_GE(deep, samples * 4 / 5) << "after a pause of " << pause << " ms";
        ASSERT_GT(flags.size(), flagsBefore) << "no read issued after a pause of " << pause << " ms";
        const auto restarts = std::count(flags.begin() + long(flagsBefore), flags.end(), false);
        EXPECT_EQ(restarts, 0) << "after a pause of " << pause << " ms";
    }
    device.WaitData(&n, 0);
    EXPECT_TRUE(Model().HostErrors().empty());
}

TEST_F(IsochRecovery, EveryFrameArrivesAfterARefusedRead) {
    // Small frames: every read that completes carries data and ends short.
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t i = 0; i < 16; ++i) {
        frames.push_back(FrameBytes(kPacket * 100, 300 + i));
        Model().QueueIsochFrame(frames.back(), 8);
    }
    // The second read is refused while the first is in flight.
    Model().Faults().RefuseSubmission(emu::kDataEndpoint, 1);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(Fill(out, uint32_t(frames[i].size()) + 4096, &n, 2000)) << "frame " << i;
        ASSERT_EQ(n, frames[i].size()) << "frame " << i;
        ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].end(), out.begin())) << "frame " << i;
    }
    // Refused again later, with the stream running: frames keep coming.
    Model().Faults().RefuseSubmission(emu::kDataEndpoint, 2);
    for (uint32_t i = 0; i < 8; ++i) {
        const auto frame = FrameBytes(kPacket * 250, 400 + i);
        Model().QueueIsochFrame(frame, 8);
        ASSERT_TRUE(Fill(out, uint32_t(frame.size()) + 4096, &n, 2000)) << "late frame " << i;
        ASSERT_EQ(n, frame.size()) << "late frame " << i;
        ASSERT_TRUE(std::equal(frame.begin(), frame.end(), out.begin())) << "late frame " << i;
    }
}

TEST_F(IsochRecovery, PulledCameraNeverReplaysAnEarlierFrame) {
    // One frame fills the whole ring; the reads issued after it stay in
    // flight, over blocks that last carried that frame, until the cable goes.
    const auto frame = FrameBytes(kPacket * kPacketsPerBlock * 4, 500);
    Model().QueueIsochFrame(frame, 0);
    for (int i = 0; i < 4; ++i) Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::None, 0});
    for (int i = 0; i < 4; ++i) Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, 20000});
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(Fill(out, uint32_t(frame.size()), &n, 5000));
    ASSERT_EQ(n, frame.size());
    ASSERT_TRUE(out == frame);
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) < 4; ++i) ::Sleep(5);
    ASSERT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 4u);

    Model().Unplug();
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) > 0; ++i) ::Sleep(5);
    for (int fill = 0; fill < 3; ++fill) {
        const bool ok = Fill(out, 100000, &n, 300);
        EXPECT_FALSE(ok && n > 0) << "fill " << fill << " returned " << n << " bytes after the unplug";
    }
    device.Close();
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 0u);
}

}  // namespace
}  // namespace orvo
