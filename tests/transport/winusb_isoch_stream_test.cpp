// Image data from an emulated isochronous pipe: ring geometry, frame ends
// found in the packet stream, packet statuses.
#include <gtest/gtest.h>

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
        out.assign(length, 0);
        uint32_t n = 0;
        EXPECT_TRUE(device.BeginReadData(out.data(), length, event.get()));
        EXPECT_TRUE(device.WaitData(&n, 5000));
        return n;
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

}  // namespace
}  // namespace orvo
