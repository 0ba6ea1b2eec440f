// The emulated raw sensor's optics and pixel array: a scene of fixed
// reflectances under adjustable light, read out through the registers the
// host programmed (window, binning or skipping, mirroring, PLL, shutter and
// colour gains), with stuck pixels. Pure logic, shared by the USB model and
// the regulation's closed-loop tests.
#pragma once
#include <cstdint>
#include <vector>

#include "camera_api/cameras/sensor/sensor_registers.h"

namespace orvo::emu {

struct SceneLight {
    double illumination = 1.0;       // 1.0: a mid-grey lit to level ~100 at 30 ms, gain 1
    int32_t colourTemperature = 5500; // kelvin; lower is redder
};

class CSensorScene {
public:
    static constexpr int32_t kSensorWidth = 1288;
    static constexpr int32_t kSensorHeight = 1032;
    static constexpr int32_t kDefaultColumnStart = 20;
    static constexpr int32_t kDefaultRowStart = 12;

    // Power-on register image: chip version, full window, PLL off.
    static SensorRegisters PowerOnRegisters();

    SceneLight light;
    // Stuck pixels, (x << 16) | y relative to the default start.
    std::vector<uint32_t> stuckPixels;

    // Raw frame size the registers describe.
    static uint32_t FrameWidth(const SensorRegisters& regs);
    static uint32_t FrameHeight(const SensorRegisters& regs);
    static double PixelClockHz(const SensorRegisters& regs);
    static double RowTimeSeconds(const SensorRegisters& regs);
    static double ExposureSeconds(const SensorRegisters& regs);

    // Reads one raw frame of FrameWidth x FrameHeight bytes.
    void Capture(const SensorRegisters& regs, std::vector<uint8_t>& out) const;
    // The sensor array column and row behind a raw-frame site, for the
    // first of the binned samples (tests place defects with this).
    static void SiteToSensor(const SensorRegisters& regs, int32_t column, int32_t row, int32_t* x, int32_t* y);

private:
    double Radiance(int32_t x, int32_t y) const;
};

}  // namespace orvo::emu
