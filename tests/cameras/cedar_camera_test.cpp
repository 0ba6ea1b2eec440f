// The raw-sensor camera against the emulated sensor, in process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "camera_api/cameras/sensor/sensor_regulation.h"
#include "tests/cameras/cedar_rig.h"
#include "tests/cameras/sensor_registers_bridge.h"

namespace orvo {
namespace {

TEST_F(CedarTest, OpenChecksTheChipAndStartsThePll) {
    model.SetChipVersion(0x1802);
    EXPECT_FALSE(Open());
    model.SetChipVersion(0x1801);
    ASSERT_TRUE(Open());
    const SensorRegisters regs = test::AsLibrary(model.Registers());
    EXPECT_EQ(regs.value[kRegPllControl] & 3, 3);
    EXPECT_EQ(regs.value[kRegPllConfig], 0x1801);
    EXPECT_EQ(regs.value[kRegPllDivider], 11);
    int32_t info[5] = {};
    uint8_t info3[4 + 100] = {};
    EXPECT_EQ(camera->GetInfo(3, info3), ORVO_OK);  // before info 1 was ever read
    int32_t size[2] = {};
    std::memcpy(size, info3 + 4 + 16, sizeof size);
    EXPECT_EQ(size[0], 1280);
    EXPECT_EQ(size[1], 960);
    EXPECT_EQ(camera->GetInfo(1, info), ORVO_OK);
    EXPECT_EQ(info[1], 1280);
    EXPECT_EQ(info[2], 960);
}

TEST_F(CedarTest, FrameRateRulesAndParameterConflicts) {
    ASSERT_TRUE(Open(0));
    EXPECT_EQ(Set(16, 60), ORVO_OK);
    EXPECT_EQ(Set(17, 25), ORVO_E_CONFLICT);
    EXPECT_EQ(Get(17), 20);
    EXPECT_EQ(Set(16, 50), ORVO_OK);
    EXPECT_EQ(Set(17, 25), ORVO_OK);
    ParamRange range{};
    ASSERT_EQ(camera->GetParamRange(-1, 0, &range), ORVO_OK);
    EXPECT_EQ(range.max, 40000);  // the maximum exposure follows the rate
    // The highest rate follows the window: the full sensor cannot run at 25.
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 1288, 1032, 2, &index), ORVO_OK);
    ASSERT_EQ(camera->GetParamRange(-1, 17, &range), ORVO_OK);
    EXPECT_LT(range.max, 25);
    EXPECT_LT(Get(17), 25);
    EXPECT_EQ(Set(32, 3, index), ORVO_OK);
    EXPECT_EQ(Get(32, index), 5);  // model 4 renders grey only
    EXPECT_EQ(Set(48, 45), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(Set(49, 30), ORVO_E_CONFLICT);  // below the low threshold (32)
    EXPECT_EQ(Set(48, 20), ORVO_OK);
    EXPECT_EQ(Set(49, 30), ORVO_OK);
    EXPECT_EQ(Set(48, 35), ORVO_E_CONFLICT);
    EXPECT_EQ(Set(9, 1), ORVO_E_BAD_PARAM);  // no automatic white balance on model 4
    EXPECT_EQ(camera->DeleteBuffer(index), ORVO_OK);
}

TEST_F(CedarTest, BadPixelListFromMemoryIsValidated) {
    ASSERT_TRUE(Open());
    int32_t record[4 + 253] = {};
    EXPECT_EQ(camera->GetInfo(7, record), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(Set(34, 1), ORVO_E_NO_FRAME);
    // A count past the list's room is no list.
    model.SetBadPixels({1, 2, 3}, 5000);
    ASSERT_TRUE(Open());
    EXPECT_EQ(camera->GetInfo(7, record), ORVO_E_OUT_OF_RANGE);
    std::vector<uint32_t> list;
    for (uint32_t i = 0; i < 40; ++i) list.push_back((100 + 2 * i) << 16 | (50 + i));
    model.SetBadPixels(list, 40);
    ASSERT_TRUE(Open());
    record[1] = 30;
    ASSERT_EQ(camera->GetInfo(7, record), ORVO_OK);
    EXPECT_EQ(record[2], 10);
    EXPECT_EQ(record[3], 40);
    EXPECT_EQ(static_cast<uint32_t>(record[4]), list[30]);
    // Uploading below the held list is refused; appending is written and read back.
    record[1] = 0;
    record[2] = 1;
    record[3] = 41;
    EXPECT_EQ(camera->SetInfo(7, record), ORVO_E_READ_ONLY);
    record[1] = 40;
    record[4] = 7 << 16 | 7;
    ASSERT_EQ(camera->SetInfo(7, record), ORVO_OK);
    const std::vector<uint8_t> header = model.Memory(0x3044, 4);
    EXPECT_EQ(header[0], 41);
}

TEST_F(CedarTest, VideoRegulationSettlesThroughTheCamera) {
    model.SetLight({1.0, 5500});  // reachable by exposure alone
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 320, 240, 3, &index), ORVO_OK);
    EXPECT_EQ(Set(0, 200), ORVO_OK);  // a dark start: 0.2 ms
    ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(Set(10, 1), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    const int frames = FramesUntil(kStatusSettled, 200);
    EXPECT_GT(frames, 0);
    printf("camera settled from a dark start after %d frames\n", frames);
    const int y = Get(28);
    EXPECT_NEAR(y, 32, 3);
    EXPECT_EQ(Set(0, 100), ORVO_E_READ_ONLY);
    // A frame was rendered into the ring.
    int frameIndex = -1;
    FrameDesc desc{};
    ASSERT_EQ(camera->GetFrame(index, &frameIndex, &desc), ORVO_OK);
    EXPECT_NE(desc.bits, nullptr);
    camera->ReleaseFrame(index, frameIndex);
    // A step in the light: regulating again, then settled again.
    model.SetLight({3.0, 5500});
    EXPECT_GT(FramesUntil(kStatusRegulating, 60), 0);
    EXPECT_GT(FramesUntil(kStatusSettled, 200), 0);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
    EXPECT_EQ(camera->StopCapture(), ORVO_E_NO_FRAME);
}

TEST_F(CedarTest, DefectCorrectionRemovesStuckPixelsUnderEveryMirroring) {
    PlantStuckPixels();  // inside the window whichever way its rows are read
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 2, 0, 320, 240, 2, &index), ORVO_OK);
    uint8_t brightest[2] = {};
    EXPECT_EQ(Get(6, index), 1);  // created with the widest view: binned 4 x 4
    EXPECT_EQ(Set(6, 4, index), ORVO_OK);  // full resolution
    EXPECT_EQ(Get(6, index), 4);
    ASSERT_EQ(camera->SetFramePos(index, 400, 300), ORVO_OK);
    for (int mirror = 0; mirror < 4; ++mirror) {
        for (int correct = 0; correct < 2; ++correct) {
            EXPECT_EQ(Set(14, mirror & 1), ORVO_OK);
            EXPECT_EQ(Set(15, mirror >> 1), ORVO_OK);
            EXPECT_EQ(Set(34, correct), ORVO_OK);
            ASSERT_EQ(camera->UpdateParams(), ORVO_OK);
            ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
            // Two frames after the start: the new window is in the raw data.
            for (int i = 0; i < 3; ++i) ASSERT_EQ(::WaitForSingleObject(frame.get(), 5000), WAIT_OBJECT_0);
            int frameIndex = -1;
            FrameDesc desc{};
            ASSERT_EQ(camera->GetFrame(index, &frameIndex, &desc), ORVO_OK);
            const auto* pixels = static_cast<const uint8_t*>(desc.bits);
            brightest[correct] = *std::max_element(pixels, pixels + 320 * 240);
            camera->ReleaseFrame(index, frameIndex);
            EXPECT_EQ(camera->StopCapture(), ORVO_OK);
        }
        // The scene itself stays dim at this light; stuck pixels stand out.
        EXPECT_GT(brightest[0], brightest[1] + 30) << "mirroring " << mirror;
        EXPECT_LT(brightest[1], 80) << "mirroring " << mirror;
        printf("mirroring %d: brightest %d uncorrected, %d corrected\n", mirror, brightest[0], brightest[1]);
    }
}

TEST_F(CedarTest, FullSensorStillSlowsThePixelClockAndVideoResumes) {
    ASSERT_TRUE(Open());
    int video = -1, stillSet = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 320, 240, 2, &video), ORVO_OK);
    ASSERT_EQ(camera->CreateBuffer(1, 1, 0, 1288, 1032, 1, &stillSet), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(stillSet), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(still.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(model.FrameRegisters().value[kRegPllDivider], 23);
    EXPECT_EQ(model.FrameRegisters().value[kRegColumnSize], 1296 - 1);
    int frameIndex = -1;
    FrameDesc desc{};
    ASSERT_EQ(camera->GetFrame(stillSet, &frameIndex, &desc), ORVO_OK);
    EXPECT_EQ(camera->ReleaseFrame(stillSet, frameIndex), ORVO_OK);
    const SensorRegisters after = test::AsLibrary(model.Registers());
    EXPECT_EQ(after.value[kRegPllDivider], 11);
    EXPECT_EQ(after.value[kRegColumnSize], 4 * 328 - 1);  // the video window (binned 4 x 4) is back
    ASSERT_EQ(camera->StartCapture(video), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(frame.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(model.FrameRegisters().value[kRegColumnSize], 4 * 328 - 1);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

TEST_F(CedarTest, WhiteBalancePresetsAndAutomaticBalance) {
    model.SetPreset1(900, 1200);
    model.SetLight({1.0, 3200});  // reddish light
    ASSERT_TRUE(Open());
    int32_t record[4] = {};
    ASSERT_EQ(camera->GetInfo(5, record), ORVO_OK);
    EXPECT_EQ(record[2], 900);
    EXPECT_EQ(record[3], 1200);
    record[1] = 0x12345678;  // not "ZlWb"
    EXPECT_EQ(camera->SetInfo(6, record), ORVO_E_OUT_OF_RANGE);
    // Automatic balance in light mode 0 settles into preset 2.
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 320, 240, 2, &index), ORVO_OK);
    EXPECT_EQ(Set(10, 1), ORVO_OK);
    EXPECT_EQ(Set(9, 1), ORVO_OK);
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    EXPECT_GT(FramesUntil(kStatusBalanceSettled, 300), 0);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
    ASSERT_EQ(camera->GetInfo(6, record), ORVO_OK);
    EXPECT_EQ(0, memcmp(&record[1], "ZlWb", 4));
    EXPECT_LT(record[2], 1000);  // red turned down
    EXPECT_GT(record[3], 1000);  // blue turned up
    // Info 5 writes preset 1 to the camera's memory.
    ASSERT_EQ(camera->SetInfo(5, record), ORVO_OK);
    EXPECT_EQ(0, memcmp(model.Memory(0x3000, 4).data(), "LiWb", 4));
    // Model 4 has no presets.
    ASSERT_TRUE(Open(0));
    EXPECT_EQ(camera->GetInfo(5, record), ORVO_E_BAD_INFO);
    EXPECT_EQ(camera->SetInfo(6, record), ORVO_E_BAD_INFO);
}

TEST_F(CedarTest, StillRetriesShortFramesThreeTimes) {
    ASSERT_TRUE(Open());
    int set = -1;
    ASSERT_EQ(camera->CreateBuffer(1, 1, 0, 320, 240, 1, &set), ORVO_OK);
    model.ShortenNextFrames(3);  // the fourth request delivers
    ASSERT_EQ(camera->StartCapture(set), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(still.get(), 10000), WAIT_OBJECT_0);
    int frameIndex = -1;
    FrameDesc desc{};
    ASSERT_EQ(camera->GetFrame(set, &frameIndex, &desc), ORVO_OK);
    EXPECT_EQ(camera->ReleaseFrame(set, frameIndex), ORVO_OK);
    EXPECT_EQ(Get(kParamStatus), 0);
    model.ShortenNextFrames(4);  // one short frame too many
    ASSERT_EQ(camera->StartCapture(set), ORVO_OK);
    EXPECT_GE(FramesUntil(kStatusStillNoFrame, 10), 0);
    EXPECT_EQ(::WaitForSingleObject(still.get(), 0), WAIT_TIMEOUT);
}

TEST_F(CedarTest, WrongEchoEndsVideoWithStatus) {
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 0, 0, 160, 120, 2, &index), ORVO_OK);  // 32-bit: rendered as such
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(frame.get(), 5000), WAIT_OBJECT_0);
    {
        // Pixel format 0 is rendered as 32-bit pixels: grey scene, empty top byte.
        int frameIndex = -1;
        FrameDesc desc{};
        ASSERT_EQ(camera->GetFrame(index, &frameIndex, &desc), ORVO_OK);
        const uint32_t pixel = static_cast<const uint32_t*>(desc.bits)[60 * 160 + 80];
        EXPECT_EQ(pixel >> 24, 0u);
        EXPECT_NEAR(static_cast<int>(pixel & 0xFF), static_cast<int>((pixel >> 8) & 0xFF), 12);
        EXPECT_GT(pixel & 0xFF, 0u);
        camera->ReleaseFrame(index, frameIndex);
    }
    model.CorruptNextEchoes(1);
    EXPECT_EQ(Set(29, 160), ORVO_OK);
    EXPECT_EQ(Set(39, 48), ORVO_OK);
    camera->UpdateParams();
    EXPECT_GE(FramesUntil(kStatusVideoThreadError, 50), 0);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

// Settings that only change registers reach the camera with the next update:
// through opcode 0x03 while stopped, piggy-backed on frame requests while
// video runs.
TEST_F(CedarTest, SettingsReachTheSensorRegisters) {
    ASSERT_TRUE(Open());
    int index = -1;
    ASSERT_EQ(camera->CreateBuffer(0, 1, 0, 320, 240, 2, &index), ORVO_OK);  // binned 4 x 4
    EXPECT_EQ(Set(39, 48), ORVO_OK);
    EXPECT_EQ(Set(51, 1), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    SensorRegisters regs = test::AsLibrary(model.Registers());
    EXPECT_EQ(regs.value[kRegPllDivider], 5);
    EXPECT_EQ(regs.value[kRegRowAddressMode], 3);  // skipping only: no bin field
    EXPECT_EQ(regs.value[kRegColumnAddressMode], 3);
    EXPECT_EQ(Get(39), 48);
    EXPECT_EQ(Set(39, 24), ORVO_OK);
    EXPECT_EQ(Set(51, 0), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    regs = test::AsLibrary(model.Registers());
    EXPECT_EQ(regs.value[kRegPllDivider], 11);
    EXPECT_EQ(regs.value[kRegRowAddressMode], 3 << 4 | 3);

    // Gain encodings: analog, digital, doubled.
    EXPECT_EQ(Set(2, 20), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(model.Registers().value[kRegGreen1Gain], 27);
    EXPECT_EQ(Set(52, 1), ORVO_OK);
    EXPECT_EQ(Set(53, 1), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    regs = test::AsLibrary(model.Registers());
    EXPECT_EQ(regs.value[kRegGreen1Gain], (12 << 8 | 8) | 0x40);
    EXPECT_EQ(regs.value[kRegGreen2Gain], regs.value[kRegGreen1Gain]);
    EXPECT_EQ(Get(2), 20);

    // While video runs, a window move travels with a frame request.
    ASSERT_EQ(camera->StartCapture(index), ORVO_OK);
    ASSERT_EQ(::WaitForSingleObject(frame.get(), 5000), WAIT_OBJECT_0);
    const uint16_t rowStart = model.Registers().value[kRegRowStart];
    const uint32_t piggyBacked = model.PacketsWithOpcode(kOpFrameWithRegisters);
    const uint32_t separate = model.PacketsWithOpcode(kOpUpdateRegisters);
    EXPECT_EQ(camera->SetFramePos(index, 0, 40), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_NE(model.Registers().value[kRegRowStart], rowStart);
    EXPECT_GT(model.PacketsWithOpcode(kOpFrameWithRegisters), piggyBacked);
    EXPECT_EQ(model.PacketsWithOpcode(kOpUpdateRegisters), separate);
    EXPECT_EQ(camera->StopCapture(), ORVO_OK);
}

TEST_F(CedarTest, LightModeIsSentAndItsEchoChecked) {
    model.SetPreset1(900, 1200);
    ASSERT_TRUE(Open());
    const uint32_t sent = model.PacketsWithOpcode(kOpLightMode);
    EXPECT_EQ(Set(23, 1), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(model.PacketsWithOpcode(kOpLightMode), sent + 1);
    // Light mode 1 selects preset 1: the colour gains follow its ratios.
    EXPECT_EQ(Set(2, 40), ORVO_OK);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(Get(23), 1);
    // Nothing pending: no second light-mode packet.
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(model.PacketsWithOpcode(kOpLightMode), sent + 1);
    // A wrong echo fails the update and keeps the change pending.
    EXPECT_EQ(Set(23, 0), ORVO_OK);
    model.CorruptNextEchoes(1);
    EXPECT_EQ(camera->UpdateParams(), ORVO_E_OPEN_FAILED);
    EXPECT_EQ(camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(model.PacketsWithOpcode(kOpLightMode), sent + 3);
}

// A list longer than one record goes up in pieces; the camera's memory holds
// it afterwards, and a piece out of order is refused without harm.
TEST_F(CedarTest, BadPixelListUploadsInPieces) {
    ASSERT_TRUE(Open());
    constexpr int kTotal = 600;
    std::vector<uint32_t> list;
    for (uint32_t i = 0; i < kTotal; ++i) list.push_back((8 + i % 600) << 16 | (8 + i / 3));
    std::vector<int32_t> record(4 + 253);
    auto upload = [&](int start, int count) {
        record[1] = start;
        record[2] = count;
        record[3] = kTotal;
        std::copy_n(list.begin() + start, count, reinterpret_cast<uint32_t*>(&record[4]));
        return camera->SetInfo(7, record.data());
    };
    EXPECT_EQ(upload(0, 253), ORVO_OK);
    EXPECT_EQ(upload(300, 253), ORVO_E_OUT_OF_RANGE);  // a gap
    EXPECT_EQ(upload(253, 253), ORVO_OK);
    EXPECT_EQ(camera->GetInfo(7, record.data()), ORVO_E_OUT_OF_RANGE);  // not complete yet
    EXPECT_EQ(upload(506, 94), ORVO_OK);
    const std::vector<uint8_t> header = model.Memory(0x3040, 8);
    EXPECT_EQ(0, memcmp(header.data(), "BadP", 4));
    EXPECT_EQ(header[4] | header[5] << 8, kTotal);
    const std::vector<uint8_t> last = model.Memory(0x3060 + 4 * (kTotal - 7), 4);
    EXPECT_EQ(static_cast<uint32_t>(last[0] | last[1] << 8 | last[2] << 16 | last[3] << 24), list[kTotal - 1]);
    record[1] = 506;
    ASSERT_EQ(camera->GetInfo(7, record.data()), ORVO_OK);
    EXPECT_EQ(record[2], 94);
    EXPECT_EQ(record[3], kTotal);
    EXPECT_EQ(static_cast<uint32_t>(record[4]), list[506]);
    EXPECT_EQ(Set(34, 1), ORVO_OK);  // now there is a list to correct with
}

}  // namespace
}  // namespace orvo
