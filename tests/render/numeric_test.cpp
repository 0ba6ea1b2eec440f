// Worked examples: geometry, white levels, phases, statistics and the
// converter's life cycle, through the renderer's own interface.
#include <gtest/gtest.h>

#include <algorithm>

#include "bayer_reference.h"
#include "camera_api/render/bayer8_render.h"
#include "render_test_util.h"

namespace orvo::test {
namespace {

struct Renderer {
    CBayer8Render r;
    Renderer(int format, int algorithm, int cp = 0, int rp = 0) {
        r.SetOutputFormat(format);
        r.SetAlgorithm(algorithm);
        r.SetColumnPhase(cp);
        r.SetRowPhase(rp);
        r.UpdateConverter();
    }
};

TEST(Geometry, WindowStartsFourRowsDownAndThreeColumnsIn) {
    const int width = 648, height = 488;
    std::vector<uint8_t> raw = RandomFrame(width, height, 1);
    Renderer grey(2, 0);
    std::vector<uint8_t> out = OutputBuffer(2, width, height);
    ASSERT_EQ(out.size() - 64, 640u * 480u);
    ASSERT_TRUE(grey.r.Render(out.data(), raw.data(), width, height));
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) ASSERT_EQ(out[y * 640 + x], raw[(y + 4) * width + x + 3]);
    for (size_t i = 640 * 480; i < out.size(); ++i) ASSERT_EQ(out[i], kCanary);
}

TEST(Geometry, StridesRoundRowsUpToFourBytes) {
    EXPECT_EQ(render::OutputStride(2, 642), 644u);
    EXPECT_EQ(render::OutputStride(1, 642), 1928u);
    EXPECT_EQ(render::OutputStride(0, 642), 2568u);
    EXPECT_EQ(render::OutputStride(1, 640), 1920u);
    EXPECT_EQ(render::OutputStride(3, 642), 0u);

    // Rows land at y * stride; the padding between them is left alone.
    const int width = 650, height = 14;
    std::vector<uint8_t> raw = RandomFrame(width, height, 2);
    for (int format : {1, 2}) {
        Renderer mosaic(format, 0);
        std::vector<uint8_t> out = OutputBuffer(format, width, height);
        ASSERT_TRUE(mosaic.r.Render(out.data(), raw.data(), width, height));
        const size_t stride = render::OutputStride(format, 642), used = 642 * BytesPerPixel(format);
        for (int y = 0; y < 6; ++y) {
            for (size_t i = used; i < stride; ++i) EXPECT_EQ(out[y * stride + i], kCanary);
            const uint8_t v = raw[(y + 4) * width + 3];
            const bool green = ReferenceColour(3, y + 4, false, false) == 'G';
            EXPECT_EQ(out[y * stride + (format == 2 ? 0 : 1)], (format == 2 || green) ? v : 0);
        }
    }
}

TEST(Levels, WhiteGives254ThroughLumaAnd255Otherwise) {
    std::vector<uint8_t> raw = Uniform(20, 20, 255);
    for (int algorithm = 0; algorithm <= 5; ++algorithm) {
        Renderer grey(2, algorithm);
        std::vector<uint8_t> out = OutputBuffer(2, 20, 20);
        ASSERT_TRUE(grey.r.Render(out.data(), raw.data(), 20, 20));
        const uint8_t want = (algorithm == 0 || algorithm == 5) ? 255 : 254;
        for (int i = 0; i < 12 * 12; ++i) ASSERT_EQ(out[i], want) << "algorithm " << algorithm;
    }
}

TEST(Levels, MonochromeThirtyTwoBitPixel) {
    std::vector<uint8_t> raw = Uniform(12, 12, 0x80);
    Renderer mono(0, 5, 1, 1);
    std::vector<uint8_t> out = OutputBuffer(0, 12, 12);
    ASSERT_TRUE(mono.r.Render(out.data(), raw.data(), 12, 12));
    for (int i = 0; i < 16; ++i) {
        const uint32_t px = out[4 * i] | out[4 * i + 1] << 8 | out[4 * i + 2] << 16 | uint32_t(out[4 * i + 3]) << 24;
        ASSERT_EQ(px, 0x00808080u);
    }
}

// 200 at R sites, 100 at G sites and 50 at B sites, for a phase.
std::vector<uint8_t> ThreeLevels(int width, int height, bool cp, bool rp) {
    std::vector<uint8_t> raw(size_t(width) * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const char colour = ReferenceColour(c, r, cp, rp);
            raw[r * width + c] = colour == 'R' ? 200 : colour == 'G' ? 100 : 50;
        }
    return raw;
}

TEST(Levels, FlatColourSurvivesEveryInterpolation) {
    for (int phase = 0; phase < 4; ++phase) {
        const bool cp = phase & 1, rp = phase & 2;
        std::vector<uint8_t> raw = ThreeLevels(42, 18, cp, rp);
        for (int algorithm = 1; algorithm <= 4; ++algorithm) {
            Renderer bgr(1, algorithm, cp, rp);
            std::vector<uint8_t> out = OutputBuffer(1, 42, 18);
            ASSERT_TRUE(bgr.r.Render(out.data(), raw.data(), 42, 18));
            const size_t stride = render::OutputStride(1, 34);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 34; ++x) {
                    const uint8_t* px = &out[y * stride + 3 * x];
                    ASSERT_EQ(px[0], 50) << algorithm << " " << phase;
                    ASSERT_EQ(px[1], 100);
                    ASSERT_EQ(px[2], 200);
                }
            EXPECT_EQ(bgr.r.GetMeanRed(), 200u);
            EXPECT_EQ(bgr.r.GetMeanGreen(), 100u);
            EXPECT_EQ(bgr.r.GetMeanBlue(), 50u);
        }
    }
}

TEST(Phases, RawMosaicShowsTheFourOriginPatterns) {
    const char* patterns[4] = {"RGGB", "GRBG", "GBRG", "BGGR"};
    std::vector<uint8_t> raw = RandomFrame(18, 14, 3, 1, 255);
    for (int phase = 0; phase < 4; ++phase) {
        Renderer bgr(1, 0, phase & 1, phase >> 1);
        std::vector<uint8_t> out = OutputBuffer(1, 18, 14);
        ASSERT_TRUE(bgr.r.Render(out.data(), raw.data(), 18, 14));
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x) {
                const int c = x + 3, r = y + 4;
                const char colour = patterns[phase][(r & 1) * 2 + (c & 1)];
                const uint8_t* px = &out[y * 32 + 3 * x];
                const uint8_t v = raw[r * 18 + c];
                EXPECT_EQ(px[0], colour == 'B' ? v : 0);
                EXPECT_EQ(px[1], colour == 'G' ? v : 0);
                EXPECT_EQ(px[2], colour == 'R' ? v : 0);
            }
    }
}

TEST(EdgeDirected, EqualGradientsAverageAllFourGreens) {
    // R site at raw (4, 4) is output (1, 0) with clear phase flags.
    std::vector<uint8_t> raw = Uniform(12, 12, 10);
    auto at = [&](int dy, int dx) -> uint8_t& { return raw[(4 + dy) * 12 + 4 + dx]; };
    at(0, -2) = 40;  // |40 - 10| == |10 - 40|
    at(-2, 0) = 40;
    at(0, -1) = 20;
    at(0, 1) = 30;
    at(-1, 0) = 60;
    at(1, 0) = 91;
    Renderer edge(1, 4);
    std::vector<uint8_t> out = OutputBuffer(1, 12, 12);
    ASSERT_TRUE(edge.r.Render(out.data(), raw.data(), 12, 12));
    EXPECT_EQ(out[3 + 1], (20 + 30 + 60 + 91) / 4);

    at(2, 0) = 71;  // vertical gradient 31 > horizontal 30: average along the row
    ASSERT_TRUE(edge.r.Render(out.data(), raw.data(), 12, 12));
    EXPECT_EQ(out[3 + 1], (20 + 30) / 2);
    at(0, 2) = 72;  // horizontal gradient 32 > vertical: average along the column
    ASSERT_TRUE(edge.r.Render(out.data(), raw.data(), 12, 12));
    EXPECT_EQ(out[3 + 1], (60 + 91) / 2);
}

TEST(Statistics, MeansAndBrightCounts) {
    CBayer8Render r;
    EXPECT_EQ(r.GetMeanGreen(), 0u);  // empty histograms
    std::vector<uint8_t> raw = ThreeLevels(16, 16, false, false);
    std::vector<uint8_t> out = OutputBuffer(1, 16, 16);
    r.SetOutputFormat(1);
    r.UpdateConverter();  // smooth
    ASSERT_TRUE(r.Render(out.data(), raw.data(), 16, 16));
    EXPECT_EQ(r.GetMeanGreen(), 100u);
    EXPECT_EQ(r.Statistics().histGreen[100], 32u);  // half of the 8 x 8 window
    EXPECT_EQ(r.Statistics().histRed[200], 16u);
    EXPECT_EQ(r.GetBrightCount(), 0u);

    // Monochrome counts raw samples above 240 in every format; each sample
    // lands in all three histograms.
    std::vector<uint8_t> bright = Uniform(16, 16, 241);
    for (int x = 0; x < 8; ++x) bright[4 * 16 + 3 + x] = 240;  // the window's first row
    for (int format = 0; format < 3; ++format) {
        Renderer mono(format, 5);
        std::vector<uint8_t> o = OutputBuffer(format, 16, 16);
        ASSERT_TRUE(mono.r.Render(o.data(), bright.data(), 16, 16));
        EXPECT_EQ(mono.r.GetBrightCount(), 56u);
        EXPECT_EQ(mono.r.Statistics().histRed[241], 56u);
        EXPECT_EQ(mono.r.Statistics().histGreen[240], 8u);
        EXPECT_EQ(mono.r.Statistics().histBlue[240], 8u);
    }

    // Bilinear to 24-bit counts output pixels whose channels all exceed 224;
    // no other pairing counts.
    std::vector<uint8_t> hot = Uniform(16, 16, 225);
    for (int format = 0; format < 3; ++format)
        for (int algorithm = 0; algorithm <= 4; ++algorithm) {
            Renderer any(format, algorithm);
            std::vector<uint8_t> o = OutputBuffer(format, 16, 16);
            ASSERT_TRUE(any.r.Render(o.data(), hot.data(), 16, 16));
            EXPECT_EQ(any.r.GetBrightCount(), (format == 1 && algorithm == 2) ? 64u : 0u);
        }
    std::vector<uint8_t> warm = Uniform(16, 16, 224);
    Renderer bilinear(1, 2);
    std::vector<uint8_t> o = OutputBuffer(1, 16, 16);
    ASSERT_TRUE(bilinear.r.Render(o.data(), warm.data(), 16, 16));
    EXPECT_EQ(bilinear.r.GetBrightCount(), 0u);
}

TEST(Lifecycle, NothingRendersUntilAConverterIsChosen) {
    CBayer8Render r;
    std::vector<uint8_t> raw = RandomFrame(12, 12, 4);
    std::vector<uint8_t> out = OutputBuffer(0, 12, 12);
    EXPECT_FALSE(r.Render(out.data(), raw.data(), 12, 12));
    for (uint8_t b : out) ASSERT_EQ(b, kCanary);

    EXPECT_EQ(r.UpdateConverter(), 1);  // smooth, 32-bit, after construction
    EXPECT_EQ(r.UpdateConverter(), 0);
    r.SetAlgorithm(3);
    r.SetOutputFormat(0);
    r.SetColumnPhase(0);
    EXPECT_EQ(r.UpdateConverter(), 0);  // nothing changed
    ASSERT_TRUE(r.Render(out.data(), raw.data(), 12, 12));
    const ReferenceFrame smooth = ReferenceRender(0, 3, false, false, raw.data(), 12, 12);
    EXPECT_TRUE(std::equal(smooth.pixels.begin(), smooth.pixels.end(), out.begin()));

    // A new setting waits for the next UpdateConverter.
    r.SetRowPhase(5);
    ASSERT_TRUE(r.Render(out.data(), raw.data(), 12, 12));
    EXPECT_TRUE(std::equal(smooth.pixels.begin(), smooth.pixels.end(), out.begin()));
    EXPECT_EQ(r.UpdateConverter(), 1);
    ASSERT_TRUE(r.Render(out.data(), raw.data(), 12, 12));
    const ReferenceFrame swapped = ReferenceRender(0, 3, false, true, raw.data(), 12, 12);
    EXPECT_TRUE(std::equal(swapped.pixels.begin(), swapped.pixels.end(), out.begin()));
}

TEST(Lifecycle, InvalidFormatStopsRenderingAndKeepsTheLastStatistics) {
    Renderer r(1, 2);
    std::vector<uint8_t> raw = Uniform(12, 12, 230);
    std::vector<uint8_t> out = OutputBuffer(1, 12, 12);
    ASSERT_TRUE(r.r.Render(out.data(), raw.data(), 12, 12));
    EXPECT_EQ(r.r.GetBrightCount(), 16u);

    r.r.SetOutputFormat(3);
    EXPECT_EQ(r.r.UpdateConverter(), 1);
    std::vector<uint8_t> other = Uniform(12, 12, 7);
    std::vector<uint8_t> untouched = OutputBuffer(1, 12, 12);
    EXPECT_FALSE(r.r.Render(untouched.data(), other.data(), 12, 12));
    for (uint8_t b : untouched) ASSERT_EQ(b, kCanary);
    EXPECT_EQ(r.r.GetBrightCount(), 16u);
    EXPECT_EQ(r.r.GetMeanGreen(), 230u);
}

TEST(Lifecycle, FramesTheConvertersCannotTakeAreRefused) {
    Renderer r(1, 2);
    std::vector<uint8_t> raw = RandomFrame(16, 16, 5);
    std::vector<uint8_t> out = OutputBuffer(1, 16, 16);
    EXPECT_FALSE(r.r.Render(out.data(), raw.data(), 8, 16));   // too narrow
    EXPECT_FALSE(r.r.Render(out.data(), raw.data(), 16, 9));   // too short
    EXPECT_FALSE(r.r.Render(out.data(), raw.data(), 15, 16));  // odd output width
    EXPECT_FALSE(r.r.Render(out.data(), raw.data(), 14, 15));  // odd output height
    EXPECT_FALSE(r.r.Render(nullptr, raw.data(), 16, 16));
    EXPECT_FALSE(r.r.Render(out.data(), nullptr, 16, 16));
    for (uint8_t b : out) ASSERT_EQ(b, kCanary);
    EXPECT_EQ(r.r.GetMeanGreen(), 0u);
}

}  // namespace
}  // namespace orvo::test
