#include "emulator/sensor/sensor_scene.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace orvo::emu {
namespace {

// Raw level per second of exposure for illumination 1.0, reflectance 1.0, gain 1.
constexpr double kLevelPerSecond = 100.0 / (0.5 * 0.030);
constexpr int32_t kMinHorizontalBlanking[3][3] = {{450, 430, 420}, {796, 776, 766}, {1488, 1468, 1458}};

int32_t SkipFactor(uint16_t mode) { return (mode & 7) + 1; }
bool Binned(uint16_t mode) { return ((mode >> 4) & 3) != 0; }

// Gain register to a multiplier: code 8 is unity.
double GainFactor(uint16_t value) {
    double code;
    if (value >> 8) code = (value >> 8) + 8;
    else code = (value & 0x3F) >= 8 ? (value & 0x3F) - 7 : (value & 0x3F);
    if (value & 0x40) code *= 2;
    return code / 8.0;
}

// Position along one axis of the sample `j` of raw index `i`: same-colour
// samples of a binned or skipped group lie two apart.
int32_t Sample(int32_t i, int32_t factor, int32_t j) {
    const int32_t m = i + 1;
    return 2 * factor * (m / 2) + (m % 2) + 2 * j;
}

}  // namespace

SensorRegisters CSensorScene::PowerOnRegisters() {
    SensorRegisters r;
    r.value[kRegChipVersion] = kChipVersion;
    r.value[kRegChipVersionMirror] = kChipVersion;
    r.value[kRegRowStart] = kDefaultRowStart;
    r.value[kRegColumnStart] = kDefaultColumnStart;
    r.value[kRegRowSize] = kSensorHeight - 1;
    r.value[kRegColumnSize] = kSensorWidth - 1;
    r.value[kRegHorizontalBlanking] = 0;
    r.value[kRegVerticalBlanking] = 25;
    r.value[kRegShutterLow] = 0x0419;
    r.value[kRegPllConfig] = 0x6404;
    r.value[kRegPllDivider] = 0;
    r.value[kRegGreen1Gain] = r.value[kRegBlueGain] = r.value[kRegRedGain] = r.value[kRegGreen2Gain] = 8 + 7;
    return r;
}

uint32_t CSensorScene::FrameWidth(const SensorRegisters& regs) {
    return (regs.value[kRegColumnSize] + 1u) / SkipFactor(regs.value[kRegColumnAddressMode]);
}

uint32_t CSensorScene::FrameHeight(const SensorRegisters& regs) {
    return (regs.value[kRegRowSize] + 1u) / SkipFactor(regs.value[kRegRowAddressMode]);
}

double CSensorScene::PixelClockHz(const SensorRegisters& regs) {
    const uint16_t pll = regs.value[kRegPllConfig];
    if ((regs.value[kRegPllControl] & 3) != 3 || (pll >> 8) == 0) return 24e6;
    return 24e6 * (pll >> 8) / ((pll & 0xFF) + 1) / (regs.value[kRegPllDivider] + 1);
}

double CSensorScene::RowTimeSeconds(const SensorRegisters& regs) {
    const int rowBin = std::min((regs.value[kRegRowAddressMode] >> 4) & 3, 2);
    const int columnBin = std::min((regs.value[kRegColumnAddressMode] >> 4) & 3, 2);
    const int32_t hb = std::max<int32_t>(regs.value[kRegHorizontalBlanking] + 1, kMinHorizontalBlanking[rowBin][columnBin]);
    return (hb + FrameWidth(regs) / 2.0) * 2.0 / PixelClockHz(regs);
}

double CSensorScene::ExposureSeconds(const SensorRegisters& regs) {
    const uint32_t rows = uint32_t{regs.value[kRegShutterHigh]} << 16 | regs.value[kRegShutterLow];
    return std::max<uint32_t>(rows, 1) * RowTimeSeconds(regs);
}

void CSensorScene::SiteToSensor(const SensorRegisters& regs, int32_t column, int32_t row, int32_t* x, int32_t* y) {
    const int32_t fc = SkipFactor(regs.value[kRegColumnAddressMode]);
    const int32_t fr = SkipFactor(regs.value[kRegRowAddressMode]);
    const int32_t w = static_cast<int32_t>(FrameWidth(regs)), h = static_cast<int32_t>(FrameHeight(regs));
    const bool columnMirror = regs.value[kRegReadMode] & kReadModeColumnMirror;
    const bool rowMirror = regs.value[kRegReadMode] & kReadModeRowMirror;
    // Mirrored readout starts the same colour phase two columns further on.
    const int32_t columnBase = regs.value[kRegColumnStart] - (columnMirror ? 2 * fc : 0);
    const int32_t c = columnMirror ? w - 1 - column : column;
    const int32_t r = rowMirror ? h - 1 - row : row;
    *x = columnBase + Sample(c, fc, 0) - kDefaultColumnStart;
    *y = regs.value[kRegRowStart] + Sample(r - 1, fr, 0) - kDefaultRowStart;
}

double CSensorScene::Radiance(int32_t x, int32_t y) const {
    // Soft tiles of different greys, so that means and saturation vary by region.
    const int32_t tile = ((x >> 6) * 7 + (y >> 6) * 3) % 5;
    return 0.3 + 0.1 * tile;
}

void CSensorScene::Capture(const SensorRegisters& regs, std::vector<uint8_t>& out) const {
    const int32_t w = static_cast<int32_t>(FrameWidth(regs)), h = static_cast<int32_t>(FrameHeight(regs));
    out.assign(static_cast<size_t>(w) * h, 0);
    const uint16_t colMode = regs.value[kRegColumnAddressMode], rowMode = regs.value[kRegRowAddressMode];
    const int32_t fc = SkipFactor(colMode), fr = SkipFactor(rowMode);
    const int32_t nc = Binned(colMode) ? fc : 1, nr = Binned(rowMode) ? fr : 1;
    const double exposure = ExposureSeconds(regs);
    const double temperature = std::clamp(light.colourTemperature, 1500, 15000);
    const double redTint = 5500.0 / temperature, blueTint = temperature / 5500.0;
    const double gains[4] = {GainFactor(regs.value[kRegRedGain]), GainFactor(regs.value[kRegGreen1Gain]),
                             GainFactor(regs.value[kRegGreen2Gain]), GainFactor(regs.value[kRegBlueGain])};
    const double tints[4] = {redTint, 1.0, 1.0, blueTint};
    const double base = kLevelPerSecond * std::max(light.illumination, 0.0) * exposure;
    const std::unordered_set<uint32_t> stuck(stuckPixels.begin(), stuckPixels.end());
    const bool showStuck = !stuck.empty() && nc == 1 && nr == 1;  // binning averages a defect away
    for (int32_t row = 0; row < h; ++row) {
        for (int32_t column = 0; column < w; ++column) {
            int32_t x, y;
            SiteToSensor(regs, column, row, &x, &y);
            // Red sits at odd x and even y relative to the default start.
            const int colour = ((y & 1) << 1) | ((x + 1) & 1);
            double sum = 0;
            for (int32_t j = 0; j < nr; ++j)
                for (int32_t i = 0; i < nc; ++i) sum += Radiance(x + 2 * i, y + 2 * j);
            double level = base * sum / (nc * nr) * tints[colour] * gains[colour];
            if (showStuck && x >= 0 && y >= 0 && stuck.count(static_cast<uint32_t>(x) << 16 | static_cast<uint32_t>(y)))
                level = 255;
            out[static_cast<size_t>(row) * w + column] = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
        }
    }
}

}  // namespace orvo::emu
