#include <gtest/gtest.h>

#include "camera_api/cameras/sensor/pid_controller.h"
#include "camera_api/cameras/sensor/sensor_regulation.h"
#include "sensor_plant.h"

namespace orvo {
namespace {

TEST(PidController, IncrementalStepAndBoundedIntegral) {
    CPidController pid;
    pid.init(0, 709, 3, 1, 255, -255, 8000);
    EXPECT_EQ(pid.step(10), 15110);
    EXPECT_EQ(pid.integral, 10);
    EXPECT_EQ(pid.previousError, 10);
    for (int i = 0; i < 50; ++i) pid.step(1000);
    EXPECT_EQ(pid.integral, 255);
    for (int i = 0; i < 50; ++i) pid.step(-100000);
    EXPECT_EQ(pid.integral, -255);
    // A huge factor saturates instead of wrapping around.
    pid.init(1, 2000000000, 0, 0, 255, -255, 2000000000);
    EXPECT_EQ(pid.step(1000), INT32_MAX);
    pid.init(1, 10, 0, 0, 255, -255, 500);
    pid.step(1000);
    pid.clampOutput(0, 600);
    EXPECT_EQ(pid.output, 600);
}

class RegulationTest : public ::testing::Test {
protected:
    RegulationTest() : reg(plant) {
        plant.SetGains({8, 8, 8});
    }
    // Means that give luminance y (grey scene).
    RegulationMeans Grey(uint32_t y, uint32_t bright = 0) { return {y, y, y, bright, false}; }

    test::RegisterActuator plant;
    CSensorRegulation reg;
};

TEST_F(RegulationTest, DeadBandReportsSettledOnceThenNothing) {
    reg.autoExposure = true;
    reg.StartVideo(plant.rowTime);
    reg.Regulate(plant.rowTime, Grey(128));  // working target 32 = 128 / 4
    EXPECT_TRUE(reg.settled);
    EXPECT_EQ(plant.TakeStatus() & (kStatusSettled | kStatusRegulating), kStatusSettled);
    const size_t before = plant.reports.size();
    reg.Regulate(plant.rowTime, Grey(130));
    reg.Regulate(plant.rowTime, Grey(126));
    EXPECT_EQ(plant.reports.size(), before);
}

TEST_F(RegulationTest, OneShotSwitchesItselfOffWhenSettled) {
    reg.autoExposure = reg.autoGain = reg.oneShot = true;
    reg.StartVideo(plant.rowTime);
    reg.Regulate(plant.rowTime, Grey(128));
    EXPECT_FALSE(reg.autoExposure);
    EXPECT_FALSE(reg.autoGain);
    EXPECT_FALSE(reg.oneShot);
    EXPECT_TRUE(plant.TakeStatus() & kStatusOneShotDone);
}

TEST_F(RegulationTest, VeryDarkDoublesExposureThenRestartsControllers) {
    reg.autoExposure = true;
    plant.exposure = 10000000;
    reg.StartVideo(plant.rowTime);
    reg.Regulate(plant.rowTime, Grey(10));
    EXPECT_TRUE(reg.jumped);
    EXPECT_EQ(plant.exposure, 20000000);
    // Past half the maximum exposure the fast path no longer applies.
    plant.exposure = 40000000;
    reg.Regulate(plant.rowTime, Grey(100));
    EXPECT_FALSE(reg.jumped);
    // Fresh controllers, then one step with this frame's error.
    EXPECT_EQ(reg.Controller(CSensorRegulation::kExposure).integral, reg.workingTarget - int32_t(reg.luminance4));
}

TEST_F(RegulationTest, VeryBrightDropsGainsAndHalvesExposure) {
    reg.autoExposure = true;
    plant.SetGains({30, 30, 30});
    plant.exposure = 20000000;
    reg.StartVideo(plant.rowTime);
    reg.Regulate(plant.rowTime, Grey(250));
    EXPECT_EQ(plant.Gains().green, 8);
    EXPECT_EQ(plant.exposure, 10000000);
    // At fewer than 16 row times the bright path stops halving.
    plant.exposure = 15 * int64_t{plant.rowTime};
    reg.Regulate(plant.rowTime, Grey(250));
    EXPECT_FALSE(reg.jumped);
}

TEST_F(RegulationTest, DarknessHysteresis) {
    reg.StartVideo(plant.rowTime);  // automatic functions off: only reporting
    reg.Regulate(plant.rowTime, Grey(100));
    EXPECT_EQ(plant.TakeStatus() & (kStatusTooDark | kStatusBrightEnough), kStatusBrightEnough);
    reg.Regulate(plant.rowTime, Grey(31));
    EXPECT_EQ(plant.TakeStatus() & (kStatusTooDark | kStatusBrightEnough), kStatusTooDark);
    reg.Regulate(plant.rowTime, Grey(39));  // not above the high threshold
    EXPECT_EQ(plant.TakeStatus(), 0u);
    reg.Regulate(plant.rowTime, Grey(44));
    EXPECT_EQ(plant.TakeStatus() & (kStatusTooDark | kStatusBrightEnough), kStatusBrightEnough);
}

TEST_F(RegulationTest, TargetReductionByBrightPixels) {
    reg.autoExposure = true;
    reg.StartVideo(plant.rowTime);
    reg.Regulate(plant.rowTime, Grey(128, 200000));
    EXPECT_EQ(reg.workingTarget, 27);
    reg.Regulate(plant.rowTime, Grey(128, 50));
    EXPECT_EQ(reg.workingTarget, 26);
    reg.minTarget = 25;
    reg.Regulate(plant.rowTime, Grey(128, 200000));
    EXPECT_EQ(reg.workingTarget, 25);
    reg.gainReduction = false;
    reg.Regulate(plant.rowTime, Grey(128, 200000));
    EXPECT_EQ(reg.workingTarget, 25);
}

TEST_F(RegulationTest, GainsFromBaseKeepRatiosOrOffsetsInsideLimits) {
    reg.redRatio = 1500;
    reg.blueRatio = 500;
    reg.SetGainsFromBase(10);  // blue would be 5: green recomputed from blue's ratio at the minimum
    SensorGains g = plant.Gains();
    EXPECT_EQ(g.green, 17);
    EXPECT_EQ(g.blue, 9);
    EXPECT_EQ(g.red, 26);
    reg.SetGainsFromBase(50);  // red 75 capped: green from red's ratio
    g = plant.Gains();
    EXPECT_EQ(g.red, 56);
    EXPECT_EQ(g.green, 37);
    // Offsets under automatic white balance shift all three together.
    plant.SetGains({20, 10, 14});
    reg.autoBalance = true;
    reg.RestartBalance();
    reg.SetGainsFromBase(50);
    g = plant.Gains();
    EXPECT_EQ(g.red, 56);
    EXPECT_EQ(g.green, 46);
    EXPECT_EQ(g.blue, 50);
}

TEST_F(RegulationTest, ExposureNeverLeavesItsRangeUnderLargeErrors) {
    reg.autoExposure = true;
    reg.autoGain = true;
    reg.StartVideo(plant.rowTime);
    for (int i = 0; i < 40; ++i) {
        reg.Regulate(plant.rowTime, Grey(i % 2 ? 33 : 220));
        EXPECT_GE(plant.exposure, plant.rowTime);
        EXPECT_LE(plant.exposure, plant.maxExposure);
        const SensorGains g = plant.Gains();
        EXPECT_GE(std::min({g.red, g.green, g.blue}), 8);
        EXPECT_LE(std::max({g.red, g.green, g.blue}), 56);
    }
}

}  // namespace
}  // namespace orvo
