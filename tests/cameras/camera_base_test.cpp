// The camera base as a client and a capture thread meet it: frame rings of
// DIB sections, the status word, info records and parameter dispatch.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_api/cameras/zel_camera.h"
#include "fake_device.h"
#include "gdi_pixels.h"
#include "win32/unique_handle.h"

using namespace orvo;

namespace {

// Exposes the capture-thread side of the base.
class TestCamera : public CZelCamera {
public:
    using CZelCamera::CZelCamera;
    void* Acquire(int set) { return Rings().Acquire(set); }
    void Publish(int set) { Rings().Publish(set); }
    void Report(uint32_t bits) { ReportStatus(bits); }
    void SetInfo1(int a, int b, int c, int d) { m_info1[0] = a, m_info1[1] = b, m_info1[2] = c, m_info1[3] = d; }
};

class CameraBaseTest : public ::testing::Test {
protected:
    // Writes one frame whose first byte is its number; returns false when dropped.
    bool WriteFrame(int set, uint8_t number) {
        auto* bits = static_cast<uint8_t*>(camera.Acquire(set));
        if (!bits) return false;
        bits[0] = number;
        camera.Publish(set);
        return true;
    }
    test::FakeDevice device;
    TestCamera camera{&device};
};

TEST_F(CameraBaseTest, CreateBufferChecksItsArguments) {
    int index = 5;
    EXPECT_EQ(camera.CreateBuffer(0, 1, 7, 64, 48, 3, &index), ORVO_E_BAD_PARAM);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(camera.CreateBuffer(2, 1, 0, 64, 48, 3, &index), ORVO_E_BAD_BUFFER);
    EXPECT_EQ(camera.CreateBuffer(0, 1, 0, 64, 48, 0, &index), ORVO_E_OUT_OF_RANGE) << "a ring needs frames";
    EXPECT_EQ(camera.CreateBuffer(0, 1, 0, 0, 48, 2, &index), ORVO_E_OUT_OF_RANGE);
    for (int n = 0; n < kMaxBufferSets; ++n) {
        ASSERT_EQ(camera.CreateBuffer(n % 2, n % 3, 0, 16, -16, 2, &index), ORVO_OK);
        EXPECT_EQ(index, n);
    }
    EXPECT_EQ(camera.CreateBuffer(0, 1, 0, 16, 16, 2, &index), ORVO_E_BUSY);
    EXPECT_EQ(camera.DeleteBuffer(3), ORVO_OK);
    EXPECT_EQ(camera.DeleteBuffer(3), ORVO_E_BAD_BUFFER);
    EXPECT_EQ(camera.DeleteBuffer(8), ORVO_E_BAD_BUFFER);
    EXPECT_EQ(camera.CreateBuffer(0, 1, 0, 16, 16, 2, &index), ORVO_OK);
    EXPECT_EQ(index, 3) << "the lowest free set is reused";
}

TEST_F(CameraBaseTest, AHeldFrameIsNeverOverwritten) {
    int set = -1;
    ASSERT_EQ(camera.CreateBuffer(0, 1, 0, 32, -8, 3, &set), ORVO_OK);
    int frame = -1;
    FrameDesc desc{};
    EXPECT_EQ(camera.GetFrame(set, &frame, &desc), ORVO_E_NO_FRAME) << "not started";

    ASSERT_TRUE(WriteFrame(set, 1));   // the first acquired frame activates a video set
    ASSERT_EQ(camera.GetFrame(set, &frame, &desc), ORVO_OK);
    EXPECT_EQ(frame, 0);
    EXPECT_EQ(static_cast<uint8_t*>(desc.bits)[0], 1);
    EXPECT_NE(desc.bitmap, nullptr);
    EXPECT_EQ(desc.reserved, nullptr);
    int again = -1;
    EXPECT_EQ(camera.GetFrame(set, &again, &desc), ORVO_E_NO_FRAME) << "nothing newer, and the newest is held";

    // The client keeps frame 0; the writer cycles through 1 and 2 only.
    for (uint8_t n = 2; n < 20; ++n) ASSERT_TRUE(WriteFrame(set, n));
    FrameDesc held{};
    ASSERT_EQ(camera.GetFrame(set, &again, &held), ORVO_OK);
    EXPECT_NE(again, 0);
    EXPECT_EQ(static_cast<uint8_t*>(held.bits)[0], 19);
    EXPECT_EQ(static_cast<uint8_t*>(desc.bits)[0], 1) << "the held frame kept its content";

    // Both spare frames held: the writer drops images instead of waiting.
    ASSERT_TRUE(WriteFrame(set, 20));
    FrameDesc third{};
    int thirdIndex = -1;
    ASSERT_EQ(camera.GetFrame(set, &thirdIndex, &third), ORVO_OK);
    EXPECT_FALSE(WriteFrame(set, 21));

    EXPECT_EQ(camera.DeleteBuffer(set), ORVO_E_BUFFER_IN_USE);
    EXPECT_EQ(camera.ReleaseFrame(set, frame), ORVO_OK);
    EXPECT_EQ(camera.ReleaseFrame(set, again), ORVO_OK);
    EXPECT_EQ(camera.ReleaseFrame(set, thirdIndex), ORVO_OK);
    EXPECT_EQ(camera.ReleaseFrame(set, 99), ORVO_OK) << "a frame index outside the set is ignored";
    EXPECT_EQ(camera.ReleaseFrame(7, 0), ORVO_E_BAD_BUFFER);
    EXPECT_EQ(camera.DeleteBuffer(set), ORVO_E_BUFFER_IN_USE) << "still active: capture runs";
}

using test::PixelOf;

TEST_F(CameraBaseTest, FramesAreDibSectionsOfTheRequestedFormatAndOrientation) {
    int topDown = -1, bottomUp = -1, grey = -1;
    ASSERT_EQ(camera.CreateBuffer(0, kPixelFormatBgr24, 0, 5, -4, 1, &topDown), ORVO_OK);
    ASSERT_EQ(camera.CreateBuffer(0, kPixelFormatBgra32, 0, 5, 4, 1, &bottomUp), ORVO_OK);
    ASSERT_EQ(camera.CreateBuffer(0, kPixelFormatGrey8, 0, 5, 4, 1, &grey), ORVO_OK);

    auto* td = static_cast<uint8_t*>(camera.Acquire(topDown));
    td[0] = 0x10, td[1] = 0x20, td[2] = 0x30;   // first row in memory, BGR
    camera.Publish(topDown);
    auto* bu = static_cast<uint8_t*>(camera.Acquire(bottomUp));
    bu[0] = 0x40, bu[1] = 0x50, bu[2] = 0x60, bu[3] = 0;
    camera.Publish(bottomUp);
    auto* gr = static_cast<uint8_t*>(camera.Acquire(grey));
    gr[0] = 0x77;
    camera.Publish(grey);

    FrameDesc a{}, b{}, c{};
    int i = 0;
    ASSERT_EQ(camera.GetFrame(topDown, &i, &a), ORVO_OK);
    ASSERT_EQ(camera.GetFrame(bottomUp, &i, &b), ORVO_OK);
    ASSERT_EQ(camera.GetFrame(grey, &i, &c), ORVO_OK);
    EXPECT_EQ(PixelOf(a.bitmap, 0, 0), RGB(0x30, 0x20, 0x10)) << "negative height: first row is the top";
    EXPECT_EQ(PixelOf(b.bitmap, 0, 3), RGB(0x60, 0x50, 0x40)) << "positive height: first row is the bottom";
    EXPECT_EQ(PixelOf(c.bitmap, 0, 3), RGB(0x77, 0x77, 0x77)) << "grey through a colour table of greys";

    DIBSECTION section{};
    ASSERT_EQ(::GetObjectW(b.bitmap, sizeof(section), &section), static_cast<int>(sizeof(section)));
    EXPECT_EQ(section.dsBmih.biBitCount, 32);
    ASSERT_EQ(::GetObjectW(c.bitmap, sizeof(section), &section), static_cast<int>(sizeof(section)));
    EXPECT_EQ(section.dsBmih.biBitCount, 8);
    EXPECT_EQ(DibStride(kPixelFormatBgr24, 5), 16);
    EXPECT_EQ(DibStride(kPixelFormatGrey8, 5), 8);
}

TEST_F(CameraBaseTest, StatusWordIsReportedThroughEventTwoAndClearedOnRead) {
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(camera.EnableCameraEvent(4, event.get()));
    EXPECT_FALSE(camera.EnableCameraEvent(-1, event.get()));
    ASSERT_TRUE(camera.EnableCameraEvent(kEventStatus, event.get()));

    camera.DeviceRemoved();
    camera.Report(kStatusVideoFrameSize);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    int value = 0;
    EXPECT_EQ(camera.GetParam(-1, kParamStatus, &value), ORVO_OK);
    EXPECT_EQ(value, static_cast<int>(kStatusDeviceRemoved | kStatusVideoFrameSize));
    EXPECT_EQ(camera.GetParam(-1, kParamStatus, &value), ORVO_OK);
    EXPECT_EQ(value, 0);

    ParamRange range{};
    EXPECT_EQ(camera.GetParamRange(-1, kParamStatus, &range), ORVO_OK);
    EXPECT_EQ(range.min, 1);
    EXPECT_EQ(range.max, 0x8000);
    EXPECT_EQ(range.step, 1);
    EXPECT_EQ(range.extra, 1);
    value = 5;
    EXPECT_EQ(camera.SetParam(-1, kParamStatus, &value), ORVO_E_READ_ONLY);
    EXPECT_EQ(camera.GetParam(-1, 3, &value), ORVO_E_BAD_PARAM);
    EXPECT_EQ(camera.GetParam(0, kParamStatus, &value), ORVO_E_BAD_BUFFER) << "no such buffer set";
}

TEST_F(CameraBaseTest, InfoRecordsMapToVendorControlTransfers) {
    device.answer = {1, 2, 3, 4, 5, 6};
    struct { int32_t id; int32_t length; uint8_t data[8]; } memory{};
    memory.length = 6;
    ASSERT_EQ(camera.GetInfo(0, &memory), ORVO_OK);
    EXPECT_EQ(memory.id, 0);
    EXPECT_EQ(memory.data[5], 6);
    ASSERT_EQ(device.transfers.size(), 1u);
    EXPECT_TRUE(device.transfers[0].in);
    EXPECT_EQ(device.transfers[0].type, kControlVendor);
    EXPECT_EQ(device.transfers[0].request, 0x51);
    EXPECT_EQ(device.transfers[0].value, 1);

    memory.length = 2;
    ASSERT_EQ(camera.SetInfo(2, &memory), ORVO_OK);
    EXPECT_EQ(device.transfers.back().request, 0x50);
    EXPECT_EQ(device.transfers.back().data.size(), 2u);
    EXPECT_EQ(camera.GetInfo(2, &memory), ORVO_E_BAD_INFO);
    EXPECT_EQ(memory.id, -1);

    memory.length = -1;
    EXPECT_EQ(camera.GetInfo(0, &memory), ORVO_E_OUT_OF_RANGE) << "a negative length moves nothing";
    EXPECT_EQ(camera.SetInfo(2, &memory), ORVO_E_OUT_OF_RANGE);

    #pragma pack(push, 1)
    struct { int32_t id; uint8_t request, pad; uint16_t value, index; uint8_t length; uint8_t data[4]; } control{};
    #pragma pack(pop)
    control.request = 0x33;
    control.value = 0x1234;
    control.index = 7;
    control.length = 3;
    ASSERT_EQ(camera.GetInfo(4, &control), ORVO_OK);
    EXPECT_EQ(device.transfers.back().request, 0x33);
    EXPECT_EQ(device.transfers.back().value, 0x1234);
    EXPECT_EQ(device.transfers.back().index, 7);
    EXPECT_EQ(control.data[2], 3);

    device.fail = true;
    EXPECT_EQ(camera.SetInfo(4, &control), ORVO_E_FAIL);
    EXPECT_EQ(control.id, -1);
}

TEST_F(CameraBaseTest, InfoRecordsOfTheCameraItself) {
    camera.SetInfo1(10, 20, 30, 40);
    struct { int32_t id; int32_t values[4]; } one{};
    ASSERT_EQ(camera.GetInfo(1, &one), ORVO_OK);
    EXPECT_EQ(one.values[3], 40);
    EXPECT_EQ(camera.SetInfo(1, &one), ORVO_E_READ_ONLY);

    struct { int32_t id; uint8_t bytes[100]; } three;
    std::memset(&three, 0xEE, sizeof(three));
    ASSERT_EQ(camera.GetInfo(3, &three), ORVO_OK);
    int32_t second = 0;
    std::memcpy(&second, three.bytes + 20, 4);
    EXPECT_EQ(three.bytes[0], 0);
    EXPECT_EQ(second, 20);
    EXPECT_EQ(three.bytes[99], 0);

    struct { int32_t id; uint8_t winUsb; } fifteen{};
    ASSERT_EQ(camera.GetInfo(15, &fifteen), ORVO_OK);
    EXPECT_EQ(fifteen.winUsb, 0);
    test::FakeDevice winUsbDevice(true);
    TestCamera winUsbCamera(&winUsbDevice);
    ASSERT_EQ(winUsbCamera.GetInfo(15, &fifteen), ORVO_OK);
    EXPECT_EQ(fifteen.winUsb, 1);
    EXPECT_EQ(camera.SetInfo(15, &fifteen), ORVO_E_BAD_INFO);
    EXPECT_EQ(camera.GetInfo(-3, &fifteen), ORVO_E_BAD_INFO);
    EXPECT_EQ(camera.GetInfo(16, &fifteen), ORVO_E_BAD_INFO);
}

TEST_F(CameraBaseTest, OperationsAModelMustProvide) {
    EXPECT_EQ(camera.SetPalette(0, nullptr), ORVO_E_NOT_IMPLEMENTED);
    EXPECT_EQ(camera.SetFramePos(0, 1, 1), ORVO_E_NOT_IMPLEMENTED);
    EXPECT_EQ(camera.UpdateParams(), ORVO_E_NOT_IMPLEMENTED);
    EXPECT_EQ(camera.StartCapture(0), ORVO_E_NOT_IMPLEMENTED);
    EXPECT_EQ(camera.StopCapture(), ORVO_E_FAIL);
    DeviceRecord record{};
    record.entry.releaseMajor = 2;
    EXPECT_TRUE(camera.Initialize(record));
    TestCamera orphan(nullptr);
    EXPECT_FALSE(orphan.Initialize(record)) << "a camera needs its device";
}

}  // namespace
