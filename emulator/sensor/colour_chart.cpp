#include "emulator/sensor/colour_chart.h"

#include <algorithm>
#include <cmath>

namespace orvo::emu {
namespace {

// Linear reflectances of the patches, row by row.
constexpr double kPatchReflectance[CColourChart::kPatches][3] = {
    {0.171, 0.085, 0.058}, {0.539, 0.305, 0.223}, {0.122, 0.195, 0.337},   // dark skin, light skin, sky
    {0.095, 0.150, 0.056}, {0.235, 0.216, 0.440}, {0.136, 0.508, 0.402},   // foliage, flower, bluish green
    {0.672, 0.209, 0.025}, {0.080, 0.105, 0.381}, {0.533, 0.102, 0.125},   // orange, purplish blue, red
    {0.112, 0.045, 0.150}, {0.337, 0.503, 0.052}, {0.745, 0.366, 0.027},   // purple, yellow green, orange yellow
    {0.039, 0.047, 0.305}, {0.061, 0.296, 0.067}, {0.429, 0.037, 0.045},   // blue, green, red
    {0.799, 0.571, 0.014}, {0.497, 0.093, 0.301}, {0.002, 0.235, 0.356},   // yellow, magenta, cyan
    {0.896, 0.896, 0.896}, {0.578, 0.578, 0.578}, {0.352, 0.352, 0.352},   // the greys
    {0.195, 0.195, 0.195}, {0.091, 0.091, 0.091}, {0.034, 0.034, 0.034},
};
// A patch fills this much of its cell; the ground shows around it.
constexpr double kPatchFill = 0.8;

// Planck's law at one wavelength, up to a constant.
double Blackbody(double metres, double kelvin) {
    constexpr double kSecondRadiation = 0.014388;   // m K
    return std::pow(metres, -5.0) / (std::exp(kSecondRadiation / (metres * kelvin)) - 1.0);
}

}  // namespace

int CColourChart::PatchAt(double u, double v, double inset) noexcept {
    if (!(u >= 0 && u < 1 && v >= 0 && v < 1)) return -1;
    const double cx = u * kColumns, cy = v * kRows;
    const int column = static_cast<int>(cx), row = static_cast<int>(cy);
    // Position inside the cell, from -0.5 to 0.5 around its centre.
    const double fx = cx - column - 0.5, fy = cy - row - 0.5;
    const double half = kPatchFill / 2 * (1.0 - inset);
    if (std::fabs(fx) >= half || std::fabs(fy) >= half) return -1;
    return row * kColumns + column;
}

void CColourChart::Reflectance(int patch, double rgb[3]) noexcept {
    for (int c = 0; c < 3; ++c) rgb[c] = patch >= 0 && patch < kPatches ? kPatchReflectance[patch][c] : kGround;
}

void CColourChart::IlluminantTint(int32_t kelvin, double rgb[3]) noexcept {
    // Where the sensor's red, green and blue filters pass most.
    constexpr double kWavelength[3] = {600e-9, 540e-9, 460e-9};
    const double t = std::clamp<double>(kelvin, 1500, 15000);
    for (int c = 0; c < 3; ++c) {
        const double here = Blackbody(kWavelength[c], t) / Blackbody(kWavelength[1], t);
        const double daylight = Blackbody(kWavelength[c], 6500) / Blackbody(kWavelength[1], 6500);
        rgb[c] = here / daylight;
    }
}

double CColourChart::GreyError(const uint8_t* pixels, int width, int height, size_t stride, bool bottomUp,
                               double* means) noexcept {
    if (!pixels || width <= 0 || height <= 0) return -1;
    double sum[kPatches - kFirstGrey][3] = {};
    uint32_t count[kPatches - kFirstGrey] = {};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(bottomUp ? height - 1 - y : y) * stride;
        for (int x = 0; x < width; ++x) {
            // Half a patch inset: what the demosaicing blurs at an edge stays out.
            const int patch = PatchAt((x + 0.5) / width, (y + 0.5) / height, 0.5);
            if (patch < kFirstGrey) continue;
            const uint8_t* p = row + 3 * size_t(x);
            double* s = sum[patch - kFirstGrey];
            s[0] += p[2], s[1] += p[1], s[2] += p[0];
            ++count[patch - kFirstGrey];
        }
    }
    double error = 0;
    for (int g = 0; g < kPatches - kFirstGrey; ++g) {
        if (count[g] == 0) return -1;
        double rgb[3], mean = 0, distance = 0;
        for (int c = 0; c < 3; ++c) rgb[c] = sum[g][c] / count[g], mean += rgb[c] / 3;
        for (int c = 0; c < 3; ++c) distance += (rgb[c] - mean) * (rgb[c] - mean);
        if (means) for (int c = 0; c < 3; ++c) means[3 * g + c] = rgb[c];
        error += std::sqrt(distance);
    }
    return error / (kPatches - kFirstGrey);
}

}  // namespace orvo::emu
