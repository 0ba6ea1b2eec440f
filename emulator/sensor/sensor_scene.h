// The emulated raw sensor's optics and pixel array: a scene of fixed
// reflectances under adjustable light, read out through the registers the
// host programmed (window, binning or skipping, mirroring, PLL, shutter and
// colour gains), with stuck pixels. Pure logic, shared by the USB model and
// the regulation's closed-loop tests.
#pragma once
#include <cstdint>
#include <vector>

#include "emulator/sensor/sensor_wire.h"

namespace orvo::emu {

struct SceneLight {
    double illumination = 1.0;       // 1.0: a mid-grey lit to level ~100 at 30 ms, gain 1
    int32_t colourTemperature = 5500; // kelvin; lower is redder
};

// What the sensor looks at: soft grey tiles, or the colour chart of
// colour_chart.h filling the centred 4:3 area of the sensor.
enum class SceneKind { Tiles, Chart };
// The chart is at its best under a lamp of about this colour temperature.
constexpr int32_t kChartLampKelvin = 3200;

class CSensorScene {
public:
    static constexpr int32_t kSensorWidth = 1288;
    static constexpr int32_t kSensorHeight = 1032;
    static constexpr int32_t kDefaultColumnStart = 20;
    static constexpr int32_t kDefaultRowStart = 12;

    // Power-on register image: chip version, full window, PLL off.
    static plum::RegisterFile PowerOnRegisters();

    SceneLight light;
    SceneKind kind = SceneKind::Tiles;
    // Stuck pixels, (x << 16) | y relative to the default start.
    std::vector<uint32_t> stuckPixels;

    // Raw frame size the registers describe.
    static uint32_t FrameWidth(const plum::RegisterFile& regs);
    static uint32_t FrameHeight(const plum::RegisterFile& regs);
    static double PixelClockHz(const plum::RegisterFile& regs);
    static double RowTimeSeconds(const plum::RegisterFile& regs);
    static double ExposureSeconds(const plum::RegisterFile& regs);
    // Time from one frame to the next: the window's rows and the vertical
    // blanking, or the shutter when it is longer.
    static double FrameSeconds(const plum::RegisterFile& regs);

    // Reads one raw frame of FrameWidth x FrameHeight bytes.
    void Capture(const plum::RegisterFile& regs, std::vector<uint8_t>& out) const;
    // The sensor array column and row behind a raw-frame site, for the
    // first of the binned samples (tests place defects with this).
    static void SiteToSensor(const plum::RegisterFile& regs, int32_t column, int32_t row, int32_t* x, int32_t* y);

private:
    // Light reaching the site at (x, y) through its colour filter (0 red,
    // 1 green, 2 blue), before the exposure and the gains.
    double Radiance(int32_t x, int32_t y, int channel, const double tint[3]) const;
};

}  // namespace orvo::emu
