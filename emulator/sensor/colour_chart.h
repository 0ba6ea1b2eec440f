// The colour chart the emulated raw sensor can look at: six columns by four
// rows of patches with known reflectances (eighteen colours, then six greys
// from white to black) on a mid-grey ground, filling the centred 4:3 area of
// the sensor that a full-view picture shows; and the check of how grey its
// grey patches came out in a picture. Pure logic.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::emu {

class CColourChart {
public:
    static constexpr int kColumns = 6;
    static constexpr int kRows = 4;
    static constexpr int kPatches = kColumns * kRows;
    static constexpr int kFirstGrey = 18;
    static constexpr double kGround = 0.20;   // reflectance between the patches

    // The patch at a point of the chart given as fractions (0..1) of its
    // width and height, -1 on the ground; `inset` (a fraction of a patch)
    // keeps points near a patch's edge out.
    static int PatchAt(double u, double v, double inset = 0.0) noexcept;
    // Linear red, green and blue reflectances of a patch (the ground for -1).
    static void Reflectance(int patch, double rgb[3]) noexcept;

    // The light's red, green and blue relative to a 6500 K light, for a
    // blackbody of `kelvin`: a sensor balanced for daylight sees a grey lit
    // by a 3200 K lamp as red-heavy and blue-poor.
    static void IlluminantTint(int32_t kelvin, double rgb[3]) noexcept;

    // How far from grey the grey patches came out in a full-view picture of
    // the chart (24-bit BGR rows, `stride` bytes apart, top row first unless
    // bottomUp): each patch's mean colour, its distance from the grey of the
    // same mean level in 8-bit units, averaged over the six patches. The
    // means of the red, green and blue levels of each grey patch go to
    // `means` (18 values) when given.
    static double GreyError(const uint8_t* pixels, int width, int height, size_t stride, bool bottomUp,
                            double* means = nullptr) noexcept;
};

}  // namespace orvo::emu
