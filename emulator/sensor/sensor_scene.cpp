#include "emulator/sensor/sensor_scene.h"

#include "emulator/sensor/colour_chart.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace orvo::emu {
namespace {

// Raw level per second of exposure for illumination 1.0, reflectance 1.0, gain 1.
constexpr double kLevelPerSecond = 100.0 / (0.5 * 0.030);
constexpr int32_t kMinHorizontalBlanking[3][3] = {{450, 430, 420}, {796, 776, 766}, {1488, 1468, 1458}};

int32_t SkipFactor(uint16_t mode) { return (mode & plum::kSkipField) + 1; }
int BinField(uint16_t mode) { return (mode & plum::kBinField) >> plum::kBinShift; }
bool Binned(uint16_t mode) { return BinField(mode) != 0; }

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

plum::RegisterFile CSensorScene::PowerOnRegisters() {
    plum::RegisterFile r;
    r.value[plum::kChipId] = plum::kChipVersion;
    r.value[plum::kChipIdCopy] = plum::kChipVersion;
    r.value[plum::kFirstRow] = kDefaultRowStart;
    r.value[plum::kFirstColumn] = kDefaultColumnStart;
    r.value[plum::kRowsMinus1] = kSensorHeight - 1;
    r.value[plum::kColumnsMinus1] = kSensorWidth - 1;
    r.value[plum::kLineBlanking] = 0;
    r.value[plum::kFrameBlanking] = 25;
    r.value[plum::kShutterRowsLow] = 0x0419;
    r.value[plum::kPllMultiplyDivide] = 0x6404;
    r.value[plum::kPllOutputDivide] = 0;
    r.value[plum::kGainGreenOnRed] = r.value[plum::kGainBlue] = r.value[plum::kGainRed] = r.value[plum::kGainGreenOnBlue] = 8 + 7;
    return r;
}

uint32_t CSensorScene::FrameWidth(const plum::RegisterFile& regs) {
    return (regs.value[plum::kColumnsMinus1] + 1u) / SkipFactor(regs.value[plum::kColumnAddressing]);
}

uint32_t CSensorScene::FrameHeight(const plum::RegisterFile& regs) {
    return (regs.value[plum::kRowsMinus1] + 1u) / SkipFactor(regs.value[plum::kRowAddressing]);
}

double CSensorScene::PixelClockHz(const plum::RegisterFile& regs) {
    const uint16_t pll = regs.value[plum::kPllMultiplyDivide];
    constexpr uint16_t running = plum::kPllPowered | plum::kPllInUse;
    if ((regs.value[plum::kPllMode] & running) != running || (pll >> 8) == 0) return plum::kInputClockHz;
    return plum::kInputClockHz * (pll >> 8) / ((pll & 0xFF) + 1) / (regs.value[plum::kPllOutputDivide] + 1);
}

double CSensorScene::RowTimeSeconds(const plum::RegisterFile& regs) {
    const int rowBin = std::min(BinField(regs.value[plum::kRowAddressing]), 2);
    const int columnBin = std::min(BinField(regs.value[plum::kColumnAddressing]), 2);
    const int32_t hb = std::max<int32_t>(regs.value[plum::kLineBlanking] + 1, kMinHorizontalBlanking[rowBin][columnBin]);
    return (hb + FrameWidth(regs) / 2.0) * 2.0 / PixelClockHz(regs);
}

double CSensorScene::ExposureSeconds(const plum::RegisterFile& regs) {
    const uint32_t rows = uint32_t{regs.value[plum::kShutterRowsHigh]} << 16 | regs.value[plum::kShutterRowsLow];
    return std::max<uint32_t>(rows, 1) * RowTimeSeconds(regs);
}

double CSensorScene::FrameSeconds(const plum::RegisterFile& regs) {
    const uint32_t shutter = uint32_t{regs.value[plum::kShutterRowsHigh]} << 16 | regs.value[plum::kShutterRowsLow];
    const uint32_t rows = FrameHeight(regs) + regs.value[plum::kFrameBlanking];
    return std::max(rows, shutter) * RowTimeSeconds(regs);
}

void CSensorScene::SiteToSensor(const plum::RegisterFile& regs, int32_t column, int32_t row, int32_t* x, int32_t* y) {
    const int32_t fc = SkipFactor(regs.value[plum::kColumnAddressing]);
    const int32_t fr = SkipFactor(regs.value[plum::kRowAddressing]);
    const int32_t w = static_cast<int32_t>(FrameWidth(regs)), h = static_cast<int32_t>(FrameHeight(regs));
    const bool columnMirror = regs.value[plum::kReadout] & plum::kReadoutColumnsReversed;
    const bool rowMirror = regs.value[plum::kReadout] & plum::kReadoutRowsReversed;
    // Mirrored readout starts the same colour phase two columns further on.
    const int32_t columnBase = regs.value[plum::kFirstColumn] - (columnMirror ? 2 * fc : 0);
    const int32_t c = columnMirror ? w - 1 - column : column;
    const int32_t r = rowMirror ? h - 1 - row : row;
    *x = columnBase + Sample(c, fc, 0) - kDefaultColumnStart;
    *y = regs.value[plum::kFirstRow] + Sample(r - 1, fr, 0) - kDefaultRowStart;
}

double CSensorScene::Radiance(int32_t x, int32_t y, int channel, const double tint[3]) const {
    if (kind == SceneKind::Chart) {
        // The chart fills the centred 4:3 area a full-view picture shows. The
        // lens puts its top row on the sensor's last rows, which is where
        // the camera's upright picture expects the top of a scene.
        constexpr double left = (kSensorWidth - 1280) / 2.0, top = (kSensorHeight - 960) / 2.0;
        double rgb[3];
        CColourChart::Reflectance(CColourChart::PatchAt((x - left) / 1280.0, 1.0 - (y - top + 1) / 960.0), rgb);
        return rgb[channel] * tint[channel];
    }
    // Soft tiles of different greys, so that means and saturation vary by region.
    const int32_t tile = ((x >> 6) * 7 + (y >> 6) * 3) % 5;
    return (0.3 + 0.1 * tile) * tint[channel];
}

void CSensorScene::Capture(const plum::RegisterFile& regs, std::vector<uint8_t>& out) const {
    const int32_t w = static_cast<int32_t>(FrameWidth(regs)), h = static_cast<int32_t>(FrameHeight(regs));
    out.assign(static_cast<size_t>(w) * h, 0);
    const uint16_t colMode = regs.value[plum::kColumnAddressing], rowMode = regs.value[plum::kRowAddressing];
    const int32_t fc = SkipFactor(colMode), fr = SkipFactor(rowMode);
    const int32_t nc = Binned(colMode) ? fc : 1, nr = Binned(rowMode) ? fr : 1;
    const double exposure = ExposureSeconds(regs);
    const double gains[4] = {GainFactor(regs.value[plum::kGainRed]), GainFactor(regs.value[plum::kGainGreenOnRed]),
                             GainFactor(regs.value[plum::kGainGreenOnBlue]), GainFactor(regs.value[plum::kGainBlue])};
    constexpr int kChannel[4] = {0, 1, 1, 2};   // the filter over each site of the 2 x 2 pattern
    double tint[3];
    if (kind == SceneKind::Chart) {
        CColourChart::IlluminantTint(light.colourTemperature, tint);
    } else {
        const double temperature = std::clamp(light.colourTemperature, 1500, 15000);
        tint[0] = 5500.0 / temperature, tint[1] = 1.0, tint[2] = temperature / 5500.0;
    }
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
                for (int32_t i = 0; i < nc; ++i) sum += Radiance(x + 2 * i, y + 2 * j, kChannel[colour], tint);
            double level = base * sum / (nc * nr) * gains[colour];
            if (showStuck && x >= 0 && y >= 0 && stuck.count(static_cast<uint32_t>(x) << 16 | static_cast<uint32_t>(y)))
                level = 255;
            out[static_cast<size_t>(row) * w + column] = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
        }
    }
}

}  // namespace orvo::emu
