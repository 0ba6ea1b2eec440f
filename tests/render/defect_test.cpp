// Defect repair: listed samples become the mean of their four same-colour
// neighbours, in list order, before the conversion; nothing else changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bayer_reference.h"
#include "camera_api/render/bayer8_render.h"
#include "render_test_util.h"

namespace orvo::test {
namespace {

constexpr int kW = 24, kH = 20;

uint32_t At(int column, int row) { return uint32_t(row * kW + column); }

uint8_t MeanOfFour(const std::vector<uint8_t>& f, uint32_t o) {
    return uint8_t((f[o - 2 * kW] + f[o + 2 * kW] + f[o - 2] + f[o + 2]) / 4);
}

struct Fixture {
    CBayer8Render r;
    std::vector<uint8_t> raw = RandomFrame(kW, kH, 99);
    std::vector<uint8_t> out = OutputBuffer(1, kW, kH);
    Fixture() {
        r.SetOutputFormat(1);
        r.SetAlgorithm(2);
        r.UpdateConverter();
    }
};

TEST(DefectRepair, ListedSamplesAreRepairedInOrderBeforeConversion) {
    Fixture f;
    // (7, 9) and (9, 9) share a colour: the second repair sees the first.
    const uint32_t table[] = {At(7, 9), At(9, 9), At(2, 2), At(21, 17), At(12, 4)};
    f.raw[At(7, 9)] = 255;  // a hot pixel among dark neighbours
    f.raw[At(5, 9)] = f.raw[At(9, 9)] = f.raw[At(7, 7)] = f.raw[At(7, 11)] = 0;
    std::vector<uint8_t> want = f.raw;
    for (uint32_t o : table) want[o] = MeanOfFour(want, o);
    ASSERT_NE(want[At(9, 9)], MeanOfFour(f.raw, At(9, 9)));  // the order is visible

    f.r.SetDefectTable(table, 5);
    f.r.SetDefectCorrection(1);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_EQ(f.raw, want);
    const ReferenceFrame ref = ReferenceRender(1, 2, false, false, want.data(), kW, kH);
    EXPECT_TRUE(std::equal(ref.pixels.begin(), ref.pixels.end(), f.out.begin()));
    EXPECT_EQ(0, std::memcmp(ref.histGreen, f.r.Statistics().histGreen, sizeof ref.histGreen));
}

TEST(DefectRepair, OffWhenSwitchedOffOrTheListIsEmpty) {
    Fixture f;
    const std::vector<uint8_t> before = f.raw;
    const uint32_t table[] = {At(7, 9)};
    f.r.SetDefectTable(table, 1);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_EQ(f.raw, before);

    f.r.SetDefectCorrection(1);
    f.r.SetDefectTable(table, 0);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_EQ(f.raw, before);

    // The switch needs no UpdateConverter.
    f.r.SetDefectTable(table, 1);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_NE(f.raw, before);
    f.raw = before;
    f.r.SetDefectCorrection(0);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_EQ(f.raw, before);
}

TEST(DefectRepair, EntriesWhoseNeighboursLeaveTheFrameAreSkipped) {
    Fixture f;
    const std::vector<uint8_t> before = f.raw;
    const uint32_t table[] = {At(1, 9), At(22, 9), At(9, 1), At(9, 18), 0, kW * kH - 1, kW * kH, 0xFFFFFFFFu};
    f.r.SetDefectTable(table, 8);
    f.r.SetDefectCorrection(1);
    ASSERT_TRUE(f.r.Render(f.out.data(), f.raw.data(), kW, kH));
    EXPECT_EQ(f.raw, before);
}

}  // namespace
}  // namespace orvo::test
