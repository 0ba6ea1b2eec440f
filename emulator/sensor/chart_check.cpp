// orvo_chart_check FILE.bmp: how grey the grey patches of the emulated colour
// chart came out in a full-view picture of it (a 24-bit BMP), for the demo.
// Prints the mean distance from grey in 8-bit units and each patch's mean.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "emulator/sensor/colour_chart.h"

namespace {

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: orvo_chart_check FILE.bmp\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M' || (file[28] | file[29] << 8) != 24 || Le32(&file[30]) != 0) {
        std::printf("error: %s is not an uncompressed 24-bit BMP\n", argv[1]);
        return 1;
    }
    const int32_t width = int32_t(Le32(&file[18])), height = int32_t(Le32(&file[22]));
    const uint32_t offset = Le32(&file[10]);
    const int32_t rows = height < 0 ? -height : height;
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    if (width <= 0 || rows <= 0 || width > 16384 || rows > 16384 || offset > file.size() ||
        file.size() - offset < stride * size_t(rows)) {
        std::printf("error: %s has an unreadable size\n", argv[1]);
        return 1;
    }
    double means[18];
    const double error =
        orvo::emu::CColourChart::GreyError(&file[offset], width, rows, stride, height > 0, means);
    if (error < 0) {
        std::printf("error: the picture is too small to show the chart's grey patches\n");
        return 1;
    }
    std::printf("grey patches: %.1f from grey (mean chroma distance, 8-bit units)\n", error);
    for (int g = 0; g < 6; ++g) {
        std::printf("  grey %d: red %.1f, green %.1f, blue %.1f\n", g + 1, means[3 * g], means[3 * g + 1],
                    means[3 * g + 2]);
    }
    return 0;
}
