#include <gtest/gtest.h>

#include <algorithm>

#include "camera_api/cameras/sensor/sensor_context.h"
#include "camera_api/cameras/sensor/sensor_registers.h"
#include "camera_api/cameras/sensor/sensor_timing.h"
#include "tests/cameras/sensor_registers_bridge.h"
#include "emulator/sensor/sensor_scene.h"

namespace orvo {
namespace {

TEST(SensorRegisters, RunsCoverExactlyTheDifferingStretches) {
    SensorRegisters desired, confirmed;
    desired.value[3] = 1;
    desired.value[4] = 2;
    desired.value[255] = 0xABCD;
    std::vector<uint8_t> runs;
    EXPECT_EQ(AppendChangedRuns(desired, confirmed, runs), 3);
    const std::vector<uint8_t> expected{4, 3, 0, 1, 0, 2, 2, 255, 0xAB, 0xCD};
    EXPECT_EQ(runs, expected);
    // All 256 differ: runs are split where the byte count would overflow.
    for (auto& v : desired.value) v = 7;
    runs.clear();
    EXPECT_EQ(AppendChangedRuns(desired, confirmed, runs), 256);
    EXPECT_EQ(runs[0], 254);
    EXPECT_EQ(runs.size(), 3 * 2 + 512u);
    // The echo is the concatenated values; a match confirms all of them.
    std::vector<uint8_t> echo;
    for (size_t pos = 0; pos < runs.size(); pos += 2 + runs[pos])
        echo.insert(echo.end(), runs.begin() + pos + 2, runs.begin() + pos + 2 + runs[pos]);
    EXPECT_FALSE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size() - 1, confirmed));
    EXPECT_EQ(confirmed.value[0], 0);  // nothing confirmed from a short answer
    echo[100] ^= 1;
    EXPECT_FALSE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size(), confirmed));
    echo[100] ^= 1;
    EXPECT_TRUE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size(), confirmed));
    EXPECT_EQ(confirmed.value[200], 7);
    // A malformed run (past register 255) is refused.
    const uint8_t bad[] = {4, 255, 0, 1, 0, 2};
    EXPECT_FALSE(ConfirmEcho(bad, sizeof bad, bad + 2, 4, confirmed));
}

TEST(SensorRegisters, PacketFraming) {
    std::vector<uint8_t> p = SensorPacket(kOpFrame);
    AppendBigEndian32(p, 0x01020304);
    const std::vector<uint8_t> expected{'P', 'L', 'U', 'M', 0x80, 1, 2, 3, 4};
    EXPECT_EQ(p, expected);
}

TEST(SensorRegisters, GainEncodingsRoundTrip) {
    const GainMode analog{}, digital{true, false}, doubled{false, true};
    EXPECT_EQ(EncodeGain(8, 56, analog), 15);
    EXPECT_EQ(EncodeGain(56, 56, analog), 63);
    EXPECT_EQ(EncodeGain(80, 56, analog), 63);  // limited to the maximum first
    EXPECT_EQ(EncodeGain(0, 56, analog), 0);
    EXPECT_EQ(EncodeGain(-3, 56, digital), 0);
    EXPECT_EQ(EncodeGain(8, 56, digital), 8);
    EXPECT_EQ(EncodeGain(20, 56, digital), (12 << 8) | 8);
    EXPECT_EQ(EncodeGain(8, 56, doubled), 15 | 0x40);
    for (int g = 8; g <= 56; ++g) {
        EXPECT_EQ(DecodeGain(EncodeGain(g, 56, analog), analog), g);
        EXPECT_EQ(DecodeGain(EncodeGain(g, 56, doubled), doubled), g);
        if (g >= 9) {
            EXPECT_EQ(DecodeGain(EncodeGain(g, 56, digital), digital), g);
        }
    }
}

TEST(SensorTiming, FrameRateFollowsMainsFrequency) {
    EXPECT_EQ(ChooseFrameRate(25000, 30000, 60000), 20000);  // tie between 30 and 20: the lower
    EXPECT_EQ(ChooseFrameRate(25000, 25000, 50000), 25000);
    EXPECT_EQ(ChooseFrameRate(29000, 30000, 60000), 30000);
    EXPECT_EQ(ChooseFrameRate(40000, 30000, 60000), 30000);  // capped
    EXPECT_EQ(ChooseFrameRate(1000, 30000, 60000), 1000);
    EXPECT_EQ(ChooseFrameRate(13000, 30000, 60000), 12000);
    // Without a window only the mains frequency limits the rate.
    EXPECT_EQ(HighestFrameRate(60000, 0, 0), 30000);
    // A tall window at a slow row time needs lower rates.
    const int32_t rowTime = RowTime(450, 1288, 41666);
    const int32_t full = HighestFrameRate(60000, rowTime, 1032);
    EXPECT_LT(full, 30000);
    EXPECT_GE(VerticalBlanking(full, rowTime, 1032), kMinVerticalBlanking);
    EXPECT_EQ(60000 % full, 0);
    const int32_t small = HighestFrameRate(60000, RowTime(450, 320, 41666), 240);
    EXPECT_EQ(small, 30000);
}

TEST(SensorTiming, ShutterClampsToRowTimeAndFramePeriod) {
    SensorRegisters regs;
    EXPECT_EQ(ProgramShutter(regs, 30000, 5, 66666666), 30000);
    EXPECT_EQ(regs.value[kRegShutterLow], 1);
    EXPECT_EQ(ProgramShutter(regs, 1000, 1000000000, 200000000), 200000000);
    EXPECT_EQ(regs.value[kRegShutterHigh], 200000 >> 16);
    EXPECT_EQ(regs.value[kRegShutterLow], 200000 & 0xFFFF);
}

TEST(SensorContext, TimingAndBinningRegisters) {
    SensorRegisters regs;
    CSensorContext ctx(641, 480);  // odd width is programmed even
    ctx.columnFactorMinus1 = ctx.rowFactorMinus1 = 1;
    ctx.ProgramBinning(regs, false);
    EXPECT_EQ(regs.value[kRegRowAddressMode], 0x11);
    ctx.ProgramBinning(regs, true);
    EXPECT_EQ(regs.value[kRegColumnAddressMode], 0x01);
    EXPECT_EQ(AddressMode(4, false), 0x33);
    EXPECT_EQ(AddressMode(3, false), 0x02);
    ctx.ProgramBinning(regs, false);
    TimingSettings t;
    const int64_t exposure = ctx.ProgramTiming(regs, t);
    EXPECT_EQ(regs.value[kRegColumnSize], (640 + 8) * 2 - 1);
    EXPECT_EQ(regs.value[kRegRowSize], (480 + 8) * 2 - 1);
    EXPECT_EQ(ctx.rowTime, ((776 + 648 / 2) * 41666 * 2 + 500) / 1000);
    EXPECT_EQ(exposure, t.exposure);
    EXPECT_GE(regs.value[kRegVerticalBlanking], kMinVerticalBlanking);
}

// The translation of the camera's bad-pixel list must land exactly where the
// sensor reads that pixel out, for every mirroring and factor.
TEST(SensorContext, BadPixelsLandWhereTheSensorShowsThem) {
    const SensorGeometry sensor{emu::CSensorScene::kSensorWidth, emu::CSensorScene::kSensorHeight,
                                emu::CSensorScene::kDefaultColumnStart, emu::CSensorScene::kDefaultRowStart};
    for (int factor : {1, 2}) {
        for (int mirror = 0; mirror < 4; ++mirror) {
            const bool columnMirror = mirror & 1, rowMirror = mirror & 2;
            SensorRegisters regs = test::AsLibrary(emu::CSensorScene::PowerOnRegisters());
            CSensorContext ctx(96, 64);
            ctx.columnFactorMinus1 = ctx.rowFactorMinus1 = factor - 1;
            ctx.x = 40;
            ctx.y = 30;
            ctx.ProgramBinning(regs, true);
            ctx.ProgramTiming(regs, TimingSettings{});
            ctx.ProgramWindow(regs, sensor, columnMirror, rowMirror);
            regs.value[kRegReadMode] = (columnMirror ? kReadModeColumnMirror : 0) | (rowMirror ? kReadModeRowMirror : 0);
            ASSERT_EQ(emu::CSensorScene::FrameWidth(test::AsEmulated(regs)), 104u);
            // Every site of the frame that the renderer can repair.
            std::vector<uint32_t> list;
            std::vector<uint32_t> where;
            for (int r = 2; r <= 64 + 5; r += 7) {
                for (int c = 2; c <= 96 + 5; c += 5) {
                    int32_t sx, sy;
                    emu::CSensorScene::SiteToSensor(test::AsEmulated(regs), c, r, &sx, &sy);
                    list.push_back(static_cast<uint32_t>(sx) << 16 | static_cast<uint32_t>(sy));
                    where.push_back(static_cast<uint32_t>(c + r * 104));
                }
            }
            ctx.BuildBadPixels(list, columnMirror, rowMirror);
            std::vector<uint32_t> got = ctx.badPixels;
            std::sort(got.begin(), got.end());
            std::sort(where.begin(), where.end());
            EXPECT_EQ(got, where) << "factor " << factor << " mirroring " << mirror;
        }
    }
}

TEST(SensorContext, WindowPositionMirrorsAndStaysInsideTheSensor) {
    const SensorGeometry sensor{1288, 1032, 20, 12};
    SensorRegisters regs;
    CSensorContext ctx(320, 240);
    ctx.x = 100;
    ctx.y = 50;
    ctx.ProgramWindow(regs, sensor, false, true);
    EXPECT_EQ(ctx.originColumn, 100);
    EXPECT_EQ(ctx.originRow, 50);
    EXPECT_EQ(regs.value[kRegColumnStart], 20 + 100 - 4);
    EXPECT_EQ(regs.value[kRegRowStart], 12 + 50 - 4);
    ctx.ProgramWindow(regs, sensor, true, false);
    EXPECT_EQ(ctx.originColumn, 1288 - 320 - 100 - 0);  // 868, a multiple of 4
    EXPECT_EQ(ctx.originRow, 1032 - 240 - 50);
    EXPECT_EQ(regs.value[kRegColumnStart], 20 + 868 - 4 + 2);
    ctx.x = 100000;  // beyond the sensor: held at the edge
    ctx.ProgramWindow(regs, sensor, false, true);
    EXPECT_EQ(ctx.originColumn, (1288 - 320) & ~3);
}

}  // namespace
}  // namespace orvo
