// Every converter of every instruction set against the table-driven reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bayer_reference.h"
#include "camera_api/render/converters.h"
#include "render_test_util.h"

namespace orvo::test {
namespace {

using render::SimdLevel;

struct Size {
    int width, height;
};

// The smallest frame, odd multiples of both SIMD widths (16 and 32 output
// pixels) and widths with a remainder after the SIMD steps.
const Size kSizes[] = {{10, 10}, {12, 16}, {56, 14}, {58, 12}, {88, 18}, {104, 10}, {106, 12}, {138, 20}};

std::vector<SimdLevel> Levels() {
    std::vector<SimdLevel> levels = {SimdLevel::kScalar, SimdLevel::kSse2};
    if (render::SimdLevelSupported(SimdLevel::kAvx2)) levels.push_back(SimdLevel::kAvx2);
    return levels;
}

std::string Describe(int format, int algorithm, bool cp, bool rp, SimdLevel level, Size s, int frame) {
    return "format " + std::to_string(format) + " algorithm " + std::to_string(algorithm) + " phase " +
           std::to_string(cp) + std::to_string(rp) + " level " + std::to_string(int(level)) + " size " +
           std::to_string(s.width) + "x" + std::to_string(s.height) + " frame " + std::to_string(frame);
}

// Converts with one routine and compares pixels, padding, guard and statistics.
void ExpectMatchesReference(int format, int algorithm, bool cp, bool rp, SimdLevel level, Size s,
                            const std::vector<uint8_t>& raw, const std::string& what) {
    const render::Converter convert = render::SelectConverter(format, algorithm, cp, rp, level);
    ASSERT_NE(convert, nullptr) << what;
    const ReferenceFrame ref = ReferenceRender(format, algorithm, cp, rp, raw.data(), s.width, s.height);
    std::vector<uint8_t> out = OutputBuffer(format, s.width, s.height);
    render::RenderStats stats{};
    static auto* pairs = new render::PairCounts();
    convert(out.data(), raw.data(), s.width, s.height, &stats, pairs);

    const int w = s.width - 8, h = s.height - 8, rowBytes = w * BytesPerPixel(format);
    for (int y = 0; y < h; ++y) {
        const uint8_t* got = &out[y * ref.stride];
        const uint8_t* want = &ref.pixels[y * ref.stride];
        for (int i = 0; i < rowBytes; ++i)
            ASSERT_EQ(got[i], want[i]) << what << " row " << y << " byte " << i;
        for (size_t i = rowBytes; i < ref.stride; ++i) ASSERT_EQ(got[i], kCanary) << what << " padding";
    }
    for (size_t i = ref.stride * h; i < out.size(); ++i) ASSERT_EQ(out[i], kCanary) << what << " past the end";
    ASSERT_EQ(0, std::memcmp(stats.histRed, ref.histRed, sizeof ref.histRed)) << what;
    ASSERT_EQ(0, std::memcmp(stats.histGreen, ref.histGreen, sizeof ref.histGreen)) << what;
    ASSERT_EQ(0, std::memcmp(stats.histBlue, ref.histBlue, sizeof ref.histBlue)) << what;
    ASSERT_EQ(stats.brightCount, ref.brightCount) << what;
    for (int t = 0; t < 2; ++t)
        for (uint32_t n : pairs->n[t]) ASSERT_EQ(n, 0u) << what << ": the scratch must be left clear";
}

class GoldenTest : public ::testing::TestWithParam<int> {};

TEST_P(GoldenTest, EveryRoutineEqualsTheReference) {
    const int algorithm = GetParam();
    for (const Size s : kSizes) {
        const std::vector<uint8_t> frames[] = {
            RandomFrame(s.width, s.height, 17u * s.width + s.height),
            LevelsFrame(s.width, s.height, 31u * s.width + s.height),
            RandomFrame(s.width, s.height, 7u * s.width + s.height, 200, 255),
        };
        for (int frame = 0; frame < 3; ++frame)
            for (int format = 0; format < 3; ++format)
                for (int phase = 0; phase < 4; ++phase)
                    for (SimdLevel level : Levels()) {
                        const bool cp = phase & 1, rp = phase & 2;
                        ExpectMatchesReference(format, algorithm, cp, rp, level, s, frames[frame],
                                               Describe(format, algorithm, cp, rp, level, s, frame));
                        if (HasFatalFailure()) return;
                    }
    }
}

// Algorithms 0..5, and 7: outside the range, which selects nearest with the
// phase flags taken as clear.
INSTANTIATE_TEST_SUITE_P(Algorithms, GoldenTest, ::testing::Values(0, 1, 2, 3, 4, 5, 7));

// Full-size frames: many SIMD steps per row, and the SIMD routines must give
// the scalar routines' bytes and statistics exactly.
TEST(SimdAgreement, FullFramesMatchTheScalarRoutines) {
    const int width = 648, height = 488;
    const std::vector<uint8_t> raw = RandomFrame(width, height, 2024);
    std::printf("instruction sets compared with the scalar routines: SSE2%s\n",
                render::SimdLevelSupported(SimdLevel::kAvx2) ? ", AVX2" : " (no AVX2 on this machine)");
    static auto* pairs = new render::PairCounts();
    for (int format = 0; format < 3; ++format)
        for (int algorithm = 0; algorithm <= 5; ++algorithm)
            for (int phase = 0; phase < 4; ++phase) {
                std::vector<uint8_t> want = OutputBuffer(format, width, height);
                render::RenderStats wantStats{};
                render::SelectConverter(format, algorithm, phase & 1, phase & 2, SimdLevel::kScalar)(
                    want.data(), raw.data(), width, height, &wantStats, pairs);
                for (SimdLevel level : Levels()) {
                    std::vector<uint8_t> got = OutputBuffer(format, width, height);
                    render::RenderStats stats{};
                    render::SelectConverter(format, algorithm, phase & 1, phase & 2, level)(
                        got.data(), raw.data(), width, height, &stats, pairs);
                    ASSERT_EQ(got, want) << Describe(format, algorithm, phase & 1, phase & 2, level,
                                                     {width, height}, 0);
                    ASSERT_EQ(0, std::memcmp(&stats, &wantStats, sizeof stats));
                }
            }
}

TEST(ConverterChoice, SixtyThreeDistinctRoutinesPerInstructionSet) {
    for (SimdLevel level : Levels()) {
        std::vector<render::Converter> seen;
        for (int format = 0; format < 3; ++format)
            for (int algorithm = 0; algorithm <= 5; ++algorithm)
                for (int phase = 0; phase < 4; ++phase) {
                    const render::Converter c = render::SelectConverter(format, algorithm, phase & 1, phase & 2, level);
                    ASSERT_NE(c, nullptr);
                    bool known = false;
                    for (auto s : seen) known |= s == c;
                    if (!known) seen.push_back(c);
                }
        EXPECT_EQ(seen.size(), 63u);
    }
    EXPECT_EQ(render::SelectConverter(3, 2, false, false, SimdLevel::kScalar), nullptr);
    EXPECT_EQ(render::SelectConverter(-1, 2, false, false, SimdLevel::kSse2), nullptr);
}

}  // namespace
}  // namespace orvo::test
