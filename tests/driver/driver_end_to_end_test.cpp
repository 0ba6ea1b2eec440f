// CUsbDevice over the driver: a camera's three pipes stream 1280 x 720 RGB
// frames (eleven stages each) byte-exact beside status exchanges and control
// transfers; pulled mid-frame, the read fails once and the device is lost.
#include <atomic>
#include <mutex>
#include <thread>

#include "tests/driver/driver_fixture.h"
#include "emulator/kmdf/driver_usb_device.h"

namespace orvo::test {
namespace {

constexpr uint32_t kFrameBytes = 1280 * 720 * 3;
static_assert((kFrameBytes + kStage - 1) / kStage == 11, "eleven stages a frame");

class EndToEndTest : public DriverTest {};

TEST_F(EndToEndTest, FramesStreamByteExactBesideStatusAndControl) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    kmdf::CDriverUsbDevice device(Io());
    ASSERT_EQ(device.OpenDevice(host->InterfacePath().c_str()), 1);
    EXPECT_EQ(device.GetVendorId(), 0x2D4E);
    EXPECT_EQ(device.GetProductId(), 0x0317);
    wchar_t text[64] = {};
    ASSERT_EQ(device.GetProductString(64, text), 1);
    EXPECT_EQ(std::wstring(text), L"Test camera");
    ASSERT_EQ(device.Open(host->InterfacePath().c_str(), nullptr), 1);

    const std::vector<uint8_t> frame = Pattern(kFrameBytes, 5);
    camera->LoopFrame(frame);
    camera->SetControlAnswer(0x30, {0xA, 0xB, 0xC, 0xD});

    // Status polls and control transfers on another thread meanwhile.
    std::atomic<bool> stop{false};
    std::atomic<int> polls{0};
    std::atomic<int> pollFailures{0};
    std::thread poller([&] {
        for (uint8_t n = 0; !stop; ++n) {
            camera->QueueResponse({n, 0x55});
            const uint8_t command[4] = {0x10, n, 0, 0};
            uint8_t response[16] = {};
            uint32_t got = 0;
            uint8_t control[4] = {};
            const bool ok = device.Write(command, sizeof(command)) && device.ReadResponse(response, 16, &got) &&
                            got == 2 && response[0] == n &&
                            device.ControlIn(2, 0, 0x30, 0, 0, control, 4) && control[3] == 0xD;
            if (!ok) ++pollFailures;
            ++polls;
        }
    });
    std::vector<uint8_t> buffer(kFrameBytes);
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (int i = 0; i < 12; ++i) {
        std::fill(buffer.begin(), buffer.end(), uint8_t(0));
        uint32_t got = 0;
        ASSERT_EQ(device.BeginReadData(buffer.data(), kFrameBytes, event.get()), 1);
        ASSERT_EQ(device.WaitData(&got, 20000), 1) << "frame " << i;
        EXPECT_EQ(got, kFrameBytes);
        EXPECT_TRUE(buffer == frame) << "frame " << i;
    }
    stop = true;
    poller.join();
    EXPECT_GT(polls.load(), 0);
    EXPECT_EQ(pollFailures.load(), 0);
    EXPECT_FALSE(device.IsFailed());
    device.Close();
    host->Remove();
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(EndToEndTest, PulledMidFrameTheReadFailsOnceAndTheNextWriteMarksTheDeviceLost) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    kmdf::CDriverUsbDevice device(Io());
    ASSERT_EQ(device.Open(host->InterfacePath().c_str(), nullptr), 1);
    camera->LoopFrame(Pattern(kFrameBytes, 6));
    std::vector<uint8_t> buffer(kFrameBytes);
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint32_t got = 0;
    ASSERT_EQ(device.ReadData(buffer.data(), kFrameBytes, &got), 1);
    // The cable goes in the middle of the next frame's fourth piece.
    for (int i = 0; i < 3; ++i) camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::None, 0});
    camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Unplug, 1000});
    ASSERT_EQ(device.BeginReadData(buffer.data(), kFrameBytes, event.get()), 1)
        << ::GetLastError() << " failed " << device.IsFailed() << " outstanding " << Io().Outstanding();
    EXPECT_EQ(device.WaitData(&got, 20000), 0);
    EXPECT_EQ(got, 0u);
    host->SurpriseRemove();
    EXPECT_VERIFIER_CLEAN();
    const uint8_t command[4] = {1, 2, 3, 4};
    EXPECT_EQ(device.Write(command, sizeof(command)), 0);
    EXPECT_TRUE(device.IsFailed());
    EXPECT_EQ(Io().Outstanding(), 0u);
}

// The listener's ReadFileEx completions arrive by APC on its own thread.
TEST_F(EndToEndTest, TheListenerReceivesDataPipePiecesByApc) {
    struct Listener : IDeviceListener {
        std::mutex lock;
        std::vector<uint8_t> bytes;
        int ends = 0;
        void OnData(const uint8_t* data, uint32_t length) override {
            std::lock_guard<std::mutex> guard(lock);
            if (data) bytes.insert(bytes.end(), data, data + length);
            else ++ends;
        }
        void OnDeviceLost() override {}
        void OnOpened() override {}
    } listener;
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    kmdf::CDriverUsbDevice device(Io());
    ASSERT_EQ(device.Open(host->InterfacePath().c_str(), &listener), 1);
    const std::vector<uint8_t> sent = Pattern(1500, 8);
    camera->QueueData(sent);
    ASSERT_EQ(device.StartListener(), 1);
    for (int i = 0; i < 2000; ++i) {
        {
            std::lock_guard<std::mutex> guard(listener.lock);
            if (listener.bytes.size() >= sent.size()) break;
        }
        ::Sleep(5);
    }
    EXPECT_EQ(device.StopThreads(), 1);
    std::lock_guard<std::mutex> guard(listener.lock);
    EXPECT_TRUE(listener.bytes == sent);
    EXPECT_EQ(listener.ends, 1);  // the stop's cancelled read
    device.Close();
    host->Remove();
    EXPECT_VERIFIER_CLEAN();
}

}  // namespace
}  // namespace orvo::test
