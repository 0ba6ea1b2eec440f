// Image quality: known RGB scenes are mosaicked, rendered and compared with
// the truth by PSNR. The smooth stencils estimate R and B half a pixel right
// and down and G half a pixel right, so they are compared with a truth
// shifted the same way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "bayer_reference.h"
#include "camera_api/render/bayer8_render.h"
#include "render_test_util.h"

namespace orvo::test {
namespace {

constexpr int kW = 200, kH = 168;
constexpr double kPi = 3.14159265358979323846;

struct Scene {
    const char* name;
    std::function<void(int c, int r, double rgb[3])> colour;  // at raw site (c, r)
};

const Scene kScenes[] = {
    {"gradients",
     [](int c, int r, double rgb[3]) {
         rgb[0] = 30 + 190.0 * c / kW;
         rgb[1] = 40 + 170.0 * r / kH;
         rgb[2] = 128 + 90 * std::sin(2 * kPi * (c + r) / 160.0);
     }},
    {"edges",
     [](int c, int r, double rgb[3]) {
         const bool light = ((c / 12) + (r / 10)) & 1;
         rgb[0] = light ? 210 : 40;
         rgb[1] = light ? 190 : 60;
         rgb[2] = light ? 170 : 30;
     }},
    {"star",
     [](int c, int r, double rgb[3]) {
         static const double palette[4][3] = {{230, 40, 40}, {40, 200, 60}, {50, 60, 220}, {230, 220, 60}};
         const double a = std::atan2(r - kH / 2.0 + 0.25, c - kW / 2.0 + 0.25);
         const int sector = int(std::floor((a + kPi) / (2 * kPi) * 16)) & 15;
         for (int i = 0; i < 3; ++i) rgb[i] = palette[sector & 3][i];
     }},
};

struct Psnr {
    double all, green;
};

double ToDecibels(double squared, double samples) {
    return 10 * std::log10(255.0 * 255.0 * samples / squared);
}

Psnr Measure(const Scene& scene, int algorithm) {
    std::vector<uint8_t> raw(kW * kH);
    for (int r = 0; r < kH; ++r)
        for (int c = 0; c < kW; ++c) {
            double rgb[3];
            scene.colour(c, r, rgb);
            const char colour = ReferenceColour(c, r, false, false);
            raw[r * kW + c] = uint8_t(std::lround(rgb[colour == 'R' ? 0 : colour == 'G' ? 1 : 2]));
        }
    CBayer8Render renderer;
    renderer.SetOutputFormat(1);
    renderer.SetAlgorithm(algorithm);
    renderer.UpdateConverter();
    std::vector<uint8_t> out = OutputBuffer(1, kW, kH);
    EXPECT_TRUE(renderer.Render(out.data(), raw.data(), kW, kH));

    const int w = kW - 8, h = kH - 8;
    const size_t stride = render::OutputStride(1, w);
    double squared = 0, squaredGreen = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int c = x + 3, r = y + 4;
            double truth[3], right[3], down[3], diagonal[3];
            scene.colour(c, r, truth);
            if (algorithm == 3) {
                scene.colour(c + 1, r, right);
                scene.colour(c, r + 1, down);
                scene.colour(c + 1, r + 1, diagonal);
                for (int i : {0, 2}) truth[i] = (truth[i] + right[i] + down[i] + diagonal[i]) / 4;
                truth[1] = (truth[1] + right[1]) / 2;
            }
            const uint8_t* px = &out[y * stride + 3 * x];
            for (int i = 0; i < 3; ++i) {
                const double d = px[2 - i] - truth[i];
                squared += d * d;
                if (i == 1) squaredGreen += d * d;
            }
        }
    return {ToDecibels(squared, 3.0 * w * h), ToDecibels(squaredGreen, 1.0 * w * h)};
}

TEST(Quality, InterpolationBeatsNearestAndEdgesFavourEdgeDirected) {
    for (const Scene& scene : kScenes) {
        const Psnr nearest = Measure(scene, 1), bilinear = Measure(scene, 2), smooth = Measure(scene, 3),
                   edge = Measure(scene, 4);
        std::printf("PSNR %-9s nearest %5.1f, bilinear %5.1f, smooth %5.1f, edge-directed %5.1f dB"
                    " (green: %5.1f, %5.1f, %5.1f, %5.1f dB)\n",
                    scene.name, nearest.all, bilinear.all, smooth.all, edge.all, nearest.green, bilinear.green,
                    smooth.green, edge.green);
        EXPECT_GT(bilinear.all, nearest.all + 2.0) << scene.name;
        EXPECT_GT(smooth.all, nearest.all + 2.0) << scene.name;
        EXPECT_GT(edge.all, nearest.all + 2.0) << scene.name;
        if (std::string(scene.name) == "edges") {
            // Edge-directed differs from bilinear only in green at R and B sites.
            EXPECT_GT(edge.all, bilinear.all + 0.1);
            EXPECT_GT(edge.green, bilinear.green + 1.0);
        }
    }
}

}  // namespace
}  // namespace orvo::test
