// Image data from an emulated isochronous pipe: ring geometry, frame ends
// found in the packet stream, packet statuses, and the ring after trouble (a
// consumer that falls behind, a refused read, a camera pulled out). Idle
// reads take their real time, 50 ms per block, one after another.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "camera_api/transport/winusb_device.h"
#include "emulated_winusb.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using test::CameraIdentity;
using test::EmulatedWinUsbDevice;
using test::FrameBytes;

constexpr uint32_t kPacket = 3072;
constexpr int32_t kXactError = int32_t(0xC0000011);
constexpr int32_t kBadStatus = int32_t(0xC0000001);

class IsochStream : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulated.Attached());
        ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
        event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    emu::CScriptedUsbModel& Model() { return emulated.Model(); }

    uint32_t Fill(std::vector<uint8_t>& out, uint32_t length) {
        uint32_t n = 0;
        EXPECT_TRUE(TryFill(out, length, &n, 5000));
        return n;
    }
    // One fill; false when it did not end within timeoutMs.
    bool TryFill(std::vector<uint8_t>& out, uint32_t length, uint32_t* n, DWORD timeoutMs) {
        out.assign(length, 0);
        *n = 0;
        if (!device.BeginReadData(out.data(), length, event.get())) return false;
        return device.WaitData(n, timeoutMs) != 0;
    }

    EmulatedWinUsbDevice emulated{CameraIdentity(), test::IsochLayout()};
    CWinUsbDevice device;
    win32::UniqueHandle event;
};

TEST(IsochGeometry, BlocksHoldFiftyMillisecondsOfPeakData) {
    EXPECT_EQ(IsochBlockSize(1, 3072), 1228800u);  // 400 packets
    EXPECT_EQ(IsochBlockSize(8, 3072), 153600u);   // 50 packets
    EXPECT_EQ(IsochBlockSize(16, 3072), 0u);
    EXPECT_EQ(IsochBlockSize(1, 0), 0u);
}

TEST(IsochGeometry, IntervalSixteenFailsTheOpen) {
    EmulatedWinUsbDevice emulated(CameraIdentity(), test::IsochLayout(kPacket, 16));
    CWinUsbDevice device;
    EXPECT_FALSE(device.Open(emulated.Path(), nullptr));
    EXPECT_EQ(device.IsIsochronous(), 0);
}

TEST_F(IsochStream, OpensAnIsochronousRing) {
    EXPECT_EQ(device.IsIsochronous(), 1);
    EXPECT_EQ(device.Engine().ActiveBuffer().BlockSize(), 1228800u);
    EXPECT_EQ(device.Engine().ActiveBuffer().BlockCount(), 4u);
}

TEST_F(IsochStream, GapOfSixEmptyPacketsEndsTheFrame) {
    const auto first = FrameBytes(1000, 1);
    const auto second = FrameBytes(2000, 2);
    Model().QueueIsochPacket(first);
    for (int i = 0; i < 6; ++i) Model().QueueIsochPacket({});
    Model().QueueIsochPacket(second);
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 5000), 1000u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
    ASSERT_EQ(Fill(out, 2000), 2000u);
    EXPECT_EQ(out, second);
}

TEST_F(IsochStream, FiveEmptyPacketsDoNotEndTheFrame) {
    const auto a = FrameBytes(1000, 3);
    const auto b = FrameBytes(500, 4);
    Model().QueueIsochPacket(a);
    for (int i = 0; i < 5; ++i) Model().QueueIsochPacket({});
    Model().QueueIsochPacket(b);
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 1500), 1500u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), out.begin() + 1000));
}

TEST_F(IsochStream, FrameEndingInsideAPacketLeavesTheRestForTheNextFill) {
    const auto packet = FrameBytes(1000, 5);
    Model().QueueIsochPacket(packet);
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 600), 600u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), packet.begin()));
    ASSERT_EQ(Fill(out, 400), 400u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), packet.begin() + 600));
}

TEST_F(IsochStream, BadPacketStatusEndsTheFillAfterItsBlock) {
    // Two blocks' worth of full packets; one packet of the first is bad.
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i < 800; ++i) {
        packets.push_back(FrameBytes(kPacket, 100 + i));
        Model().QueueIsochPacket(packets.back(), i == 10 ? kBadStatus : 0);
    }
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 2000000), 399u * kPacket);
    EXPECT_TRUE(std::equal(packets[9].begin(), packets[9].end(), out.begin() + 9 * kPacket));
    EXPECT_TRUE(std::equal(packets[11].begin(), packets[11].end(), out.begin() + 10 * kPacket));
}

TEST_F(IsochStream, TransactionErrorPacketsCopyLikeGoodOnes) {
    const auto a = FrameBytes(1000, 6);
    const auto b = FrameBytes(800, 7);
    Model().QueueIsochPacket(a, kXactError);
    Model().QueueIsochPacket(b);
    for (int i = 0; i < 8; ++i) Model().QueueIsochPacket({});
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 5000), 1800u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), out.begin() + 1000));
}

TEST_F(IsochStream, FramesStreamByteExactAcrossBlocks) {
    std::mt19937 random(99);
    std::uniform_int_distribution<uint32_t> size(1, 3000000);
    std::vector<uint8_t> out;
    for (int i = 0; i < 40; ++i) {
        const auto frame = FrameBytes(size(random), 200 + i);
        Model().QueueIsochFrame(frame, 8);
        // Asking for more than the frame: the gap after it ends the fill.
        ASSERT_EQ(Fill(out, uint32_t(frame.size()) + 4096), frame.size()) << "frame " << i;
        ASSERT_TRUE(std::equal(frame.begin(), frame.end(), out.begin())) << "frame " << i;
    }
}

TEST_F(IsochStream, AbortWithFourReadsInFlightThenStreamAgain) {
    std::vector<uint8_t> out(5000);
    ASSERT_TRUE(device.BeginReadData(out.data(), 5000, event.get()));
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) < 4; ++i) ::Sleep(5);
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 4u);
    EXPECT_TRUE(device.AbortStream());
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 0u);
    uint32_t n = 0;
    EXPECT_FALSE(device.WaitData(&n, 10));
    const auto frame = FrameBytes(10000, 8);
    Model().QueueIsochFrame(frame, 8);
    ASSERT_EQ(Fill(out, 20000), 10000u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));
    EXPECT_TRUE(Model().HostErrors().empty());
}

TEST_F(IsochStream, UnplugInTheMiddleOfAFrameEndsItAndCloseStillReturns) {
    Model().QueueIsochFrame(FrameBytes(kPacket * 100, 10), 0);
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Unplug, kPacket * 10});
    std::vector<uint8_t> out(kPacket * 200);
    uint32_t n = 0;
    ASSERT_TRUE(device.BeginReadData(out.data(), uint32_t(out.size()), event.get()));
    device.WaitData(&n, 1000);
    EXPECT_EQ(n, kPacket * 10);  // what arrived before the cut
    EXPECT_FALSE(Model().IsConnected());
    device.ReadData(out.data(), 100, &n);
    EXPECT_EQ(n, 0u);  // nothing more comes from a device that is gone
    device.Close();
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 0u);
}

TEST_F(IsochStream, StopThreadsAndStreamAgain) {
    const auto frame = FrameBytes(7000, 9);
    Model().QueueIsochFrame(frame, 8);
    std::vector<uint8_t> out;
    ASSERT_EQ(Fill(out, 7000), 7000u);
    EXPECT_TRUE(device.StopThreads());
    Model().QueueIsochFrame(frame, 8);
    ASSERT_EQ(Fill(out, 9000), 7000u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));
}

// A capture thread that hands the next buffer in late leaves the sink holding
// blocks for a while; afterwards the ring must again keep three or four reads
// in flight, each continuing the stream of the one before.
TEST_F(IsochStream, ReadDepthAndStreamComeBackAfterTheConsumerPauses) {
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

TEST_F(IsochStream, EveryFrameArrivesAfterARefusedRead) {
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
        ASSERT_TRUE(TryFill(out, uint32_t(frames[i].size()) + 4096, &n, 2000)) << "frame " << i;
        ASSERT_EQ(n, frames[i].size()) << "frame " << i;
        ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].end(), out.begin())) << "frame " << i;
    }
    // Refused again later, with the stream running: frames keep coming.
    Model().Faults().RefuseSubmission(emu::kDataEndpoint, 2);
    for (uint32_t i = 0; i < 8; ++i) {
        const auto frame = FrameBytes(kPacket * 250, 400 + i);
        Model().QueueIsochFrame(frame, 8);
        ASSERT_TRUE(TryFill(out, uint32_t(frame.size()) + 4096, &n, 2000)) << "late frame " << i;
        ASSERT_EQ(n, frame.size()) << "late frame " << i;
        ASSERT_TRUE(std::equal(frame.begin(), frame.end(), out.begin())) << "late frame " << i;
    }
}

TEST_F(IsochStream, PulledCameraNeverReplaysAnEarlierFrame) {
    // One frame fills the whole ring; the reads issued after it stay in
    // flight, over blocks that last carried that frame, until the cable goes.
    const auto frame = FrameBytes(kPacket * 400 * 4, 500);
    Model().QueueIsochFrame(frame, 0);
    for (int i = 0; i < 4; ++i) Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::None, 0});
    for (int i = 0; i < 4; ++i) Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, 20000});
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(TryFill(out, uint32_t(frame.size()), &n, 5000));
    ASSERT_EQ(n, frame.size());
    ASSERT_TRUE(out == frame);
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) < 4; ++i) ::Sleep(5);
    ASSERT_GE(Model().TransfersInFlight(emu::kDataEndpoint), 1u);

    Model().Unplug();
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) > 0; ++i) ::Sleep(5);
    for (int fill = 0; fill < 3; ++fill) {
        const bool ok = TryFill(out, 100000, &n, 300);
        EXPECT_FALSE(ok && n > 0) << "fill " << fill << " returned " << n << " bytes after the unplug";
    }
    device.Close();
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 0u);
}

}  // namespace
}  // namespace orvo
