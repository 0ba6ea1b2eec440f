// Image data from an emulated bulk pipe through CWinUsbDevice's stream engine.
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

constexpr uint32_t kBlock = 524288;

class BulkStream : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulated.Attached());
        ASSERT_TRUE(device.Open(emulated.Path(), nullptr));
        event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    emu::CScriptedUsbModel& Model() { return emulated.Model(); }

    // Starts a fill, then lets the device send `sent` (as a camera sends a
    // frame once it is asked for one), then waits.
    bool Fill(std::vector<uint8_t>& out, uint32_t length, uint32_t* n, DWORD timeoutMs = 5000,
              const std::vector<uint8_t>* sent = nullptr) {
        out.assign(length, 0);
        if (!device.BeginReadData(out.data(), length, event.get())) return false;
        if (sent) Model().QueueData(*sent);
        return device.WaitData(n, timeoutMs) != 0;
    }

    EmulatedWinUsbDevice emulated{CameraIdentity(), test::BulkLayout()};
    CWinUsbDevice device;
    win32::UniqueHandle event;
};

TEST_F(BulkStream, RingIsFourQuartersOfTheMaximumTransfer) {
    EXPECT_EQ(BulkBlockSize(2u << 20, 512), kBlock);
    EXPECT_EQ(BulkBlockSize(100000, 512), 512u * 48);
    EXPECT_EQ(BulkBlockSize(1000, 512), 0u);
    EXPECT_EQ(BulkBlockSize(2u << 20, 0), 0u);
    EXPECT_EQ(device.Engine().ActiveBuffer().BlockSize(), kBlock);
    EXPECT_EQ(device.Engine().ActiveBuffer().BlockCount(), 4u);
    EXPECT_FALSE(device.IsIsochronous());
}

TEST_F(BulkStream, FrameTakesTwoReadsAndNoThird) {
    const auto frame = FrameBytes(1000000, 1);
    const auto next = FrameBytes(300000, 2);
    Model().QueueData(frame);
    Model().QueueData(next);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(Fill(out, 1000000, &n));
    EXPECT_EQ(n, 1000000u);
    EXPECT_EQ(out, frame);
    EXPECT_EQ(Model().TransfersQueued(emu::kDataEndpoint), 2u);
    EXPECT_EQ(Model().QueuedDataBytes(), next.size());  // the next frame is untouched
    ASSERT_TRUE(Fill(out, 300000, &n));
    EXPECT_EQ(out, next);
}

TEST_F(BulkStream, ThousandRandomFramesArriveByteExact) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<uint32_t> size(1, 1300000);
    std::vector<uint8_t> out;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t length = size(random);
        auto frame = FrameBytes(length, i);
        Model().QueueData(frame);
        uint32_t n = 0;
        ASSERT_TRUE(Fill(out, length, &n)) << "frame " << i;
        ASSERT_EQ(n, length) << "frame " << i;
        ASSERT_TRUE(out == frame) << "frame " << i;
    }
    EXPECT_EQ(Model().QueuedDataBytes(), 0u);
}

TEST_F(BulkStream, ShortFrameEndsTheFillWithWhatCame) {
    const auto frame = FrameBytes(700000, 3);
    Model().QueueData(frame);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(Fill(out, 1000000, &n));
    EXPECT_EQ(n, 700000u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));
    EXPECT_EQ(out[700000], 0);  // nothing beyond what the device sent
}

TEST_F(BulkStream, TimeOutReportsBytesSoFarAndTheNextFillIsClean) {
    const auto part = FrameBytes(kBlock, 4);
    Model().QueueData(part);
    Model().Faults().Add(emu::kDataEndpoint, {});  // first read normal
    std::vector<uint8_t> out;
    uint32_t n = 0;
    // The second read never completes.
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Timeout, 0});
    EXPECT_FALSE(Fill(out, 1000000, &n, 300));
    EXPECT_EQ(n, kBlock);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), out.begin()));

    const auto frame = FrameBytes(1000000, 5);
    Model().QueueData(frame);
    ASSERT_TRUE(Fill(out, 1000000, &n));
    EXPECT_EQ(n, 1000000u);
    EXPECT_EQ(out, frame);
}

// Reads aborted by a restart come back only later, scribbling over their
// blocks as they go: the restart must wait for them before reusing a block or
// an OVERLAPPED.
TEST_F(BulkStream, ReadsCompletingLateAfterAbortAreRetiredBeforeReuse) {
    Model().Faults().SetAbortDelay(emu::kDataEndpoint, 300);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    EXPECT_FALSE(Fill(out, 4 * kBlock, &n, 100));  // four reads wait for data
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 4u);
    for (int i = 0; i < 3; ++i) {
        const auto frame = FrameBytes(3 * kBlock + 1000, 10 + i);
        ASSERT_TRUE(Fill(out, uint32_t(frame.size()), &n, 5000, &frame));
        ASSERT_EQ(n, frame.size());
        ASSERT_TRUE(out == frame) << "round " << i;
    }
    EXPECT_TRUE(Model().HostErrors().empty()) << Model().HostErrors().front();
}

TEST_F(BulkStream, AbortWithFourReadsInFlightThenStreamAgain) {
    std::vector<uint8_t> out(4 * kBlock);
    ASSERT_TRUE(device.BeginReadData(out.data(), 4 * kBlock, event.get()));
    for (int i = 0; i < 200 && Model().TransfersInFlight(emu::kDataEndpoint) < 4; ++i) ::Sleep(5);
    ASSERT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 4u);
    EXPECT_TRUE(device.AbortStream());
    EXPECT_EQ(Model().TransfersInFlight(emu::kDataEndpoint), 0u);
    uint32_t n = 0;
    EXPECT_FALSE(device.WaitData(&n, 50));

    const auto frame = FrameBytes(900000, 6);
    Model().QueueData(frame);
    ASSERT_TRUE(Fill(out, 900000, &n));
    EXPECT_EQ(out, frame);
}

TEST_F(BulkStream, StopThreadsThenANewFillStartsThemAgain) {
    const auto first = FrameBytes(200000, 7);
    Model().QueueData(first);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(Fill(out, 200000, &n));
    EXPECT_TRUE(device.StopThreads());
    EXPECT_TRUE(device.StopThreads());  // twice is harmless
    const auto second = FrameBytes(600000, 8);
    Model().QueueData(second);
    ASSERT_TRUE(Fill(out, 600000, &n));
    EXPECT_EQ(out, second);
    device.Close();
    EXPECT_FALSE(device.BeginReadData(out.data(), 10, event.get()));
}

TEST_F(BulkStream, FailedReadEndsTheFill) {
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Stall, 0});
    Model().QueueData(FrameBytes(100000, 9));
    std::vector<uint8_t> out;
    uint32_t n = 0;
    EXPECT_TRUE(Fill(out, 100000, &n, 2000));
    EXPECT_EQ(n, 0u);
    // The device still streams afterwards.
    const auto frame = FrameBytes(100000, 10);
    Model().QueueData(frame);
    ASSERT_TRUE(Fill(out, 100000, &n));
    EXPECT_EQ(n, 100000u);
}

TEST_F(BulkStream, UnplugInTheMiddleOfAFrame) {
    Model().QueueData(FrameBytes(kBlock, 11));
    Model().Faults().Add(emu::kDataEndpoint, {});
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Unplug, 1000});
    Model().QueueData(FrameBytes(kBlock, 12));
    std::vector<uint8_t> out;
    uint32_t n = 0;
    EXPECT_TRUE(Fill(out, 2 * kBlock, &n, 2000));
    EXPECT_EQ(n, kBlock + 1000);  // what arrived before the cut
    EXPECT_FALSE(Model().IsConnected());
    EXPECT_FALSE(Fill(out, 1000, &n, 200));
    device.Close();  // threads end although the device is gone
}

TEST_F(BulkStream, LateReadsStillAssembleTheFrame) {
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, 200});
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, 50});
    const auto frame = FrameBytes(kBlock + 4000, 13);
    std::vector<uint8_t> out;
    uint32_t n = 0;
    ASSERT_TRUE(Fill(out, uint32_t(frame.size()), &n, 5000, &frame));
    EXPECT_EQ(out, frame);
    // Late beyond the caller's patience: the fill times out with what came.
    Model().Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, 1000});
    EXPECT_FALSE(Fill(out, uint32_t(frame.size()), &n, 100, &frame));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(Model().HostErrors().empty());
}

TEST_F(BulkStream, BadArgumentsAreRefused) {
    std::vector<uint8_t> out(16);
    EXPECT_FALSE(device.BeginReadData(out.data(), 0, event.get()));
    EXPECT_FALSE(device.BeginReadData(nullptr, 16, event.get()));
    EXPECT_FALSE(device.BeginReadData(out.data(), 16, nullptr));
    uint32_t n = 5;
    EXPECT_FALSE(device.WaitData(&n, 10));  // no fill started
    EXPECT_EQ(n, 0u);
}

}  // namespace
}  // namespace orvo
