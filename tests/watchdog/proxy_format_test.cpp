// Frame geometry, pixel mapping, the proxy's registration record and event
// names, and the agent's command line.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "watchdog/agent/agent_arguments.h"
#include "watchdog/proxy/frame_geometry.h"
#include "watchdog/proxy/proxy_contract.h"

namespace orvo::watchdog {
namespace {

struct Mode {
    uint16_t width, height;
    uint8_t rates[4];
};

std::vector<uint8_t> ModeList(std::initializer_list<Mode> modes, int32_t count = -1) {
    std::vector<uint8_t> record(kInfoRecordBytes, 0);
    const int32_t n = count >= 0 ? count : static_cast<int32_t>(modes.size());
    std::memcpy(&record[8], &n, 4);
    size_t at = 16;  // the first entry
    for (const Mode& m : modes) {
        std::memcpy(&record[at], &m, 8);
        at += 8;
    }
    return record;
}

TEST(Geometry, ModeListTakesTheLargestPixelRate) {
    FrameGeometry g;
    auto record = ModeList({{1280, 720, {30, 0, 0, 0}}, {1920, 1080, {15, 0, 0, 0}}});
    ASSERT_TRUE(GeometryFromModeList(record.data(), record.size(), g));
    EXPECT_EQ(1920, g.sourceWidth);
    EXPECT_EQ(1080, g.outputHeight);
    EXPECT_EQ(15, g.frameRate);
    EXPECT_EQ(FrameTransform::Identity, g.transform);

    // Equal products: the first stays; zero rates are no offer.
    record = ModeList({{640, 480, {0, 30, 0, 0}}, {1280, 480, {15, 0, 0, 0}}});
    ASSERT_TRUE(GeometryFromModeList(record.data(), record.size(), g));
    EXPECT_EQ(640, g.sourceWidth);
    EXPECT_EQ(30, g.frameRate);

    record = ModeList({{640, 480, {0, 0, 0, 0}}});
    EXPECT_FALSE(GeometryFromModeList(record.data(), record.size(), g));
    record = ModeList({});
    EXPECT_FALSE(GeometryFromModeList(record.data(), record.size(), g));
}

TEST(Geometry, ModeCountFromAnotherProcessIsClampedToTheRecord) {
    FrameGeometry g;
    // A count far past the record: only the record's 510 entries are read.
    auto record = ModeList({{320, 240, {5, 0, 0, 0}}}, 0x7FFFFFFF);
    ASSERT_TRUE(GeometryFromModeList(record.data(), record.size(), g));
    EXPECT_EQ(320, g.sourceWidth);
    // The largest possible mode would overflow 32-bit products; it is too big to feed.
    record = ModeList({{65535, 65535, {255, 0, 0, 0}}, {320, 240, {5, 0, 0, 0}}});
    EXPECT_FALSE(GeometryFromModeList(record.data(), record.size(), g));
}

TEST(Geometry, GeneralInfoHalvesAbove720) {
    FrameGeometry g;
    ASSERT_TRUE(GeometryFromGeneralInfo(1280, 960, g));
    EXPECT_EQ(640, g.outputWidth);
    EXPECT_EQ(480, g.outputHeight);
    EXPECT_EQ(0, g.frameRate);
    ASSERT_TRUE(GeometryFromGeneralInfo(720, 576, g));
    EXPECT_EQ(720, g.outputWidth);
    EXPECT_FALSE(GeometryFromGeneralInfo(0, 480, g));
    EXPECT_FALSE(GeometryFromGeneralInfo(-1280, 960, g));
}

TEST(Geometry, CedarIsHalvedAndTurned) {
    FrameGeometry g;
    ASSERT_TRUE(GeometryFromCedarInfo(1280, 962, g));
    EXPECT_EQ(640, g.sourceWidth);
    EXPECT_EQ(481, g.sourceHeight);
    EXPECT_EQ(481, g.outputWidth);
    EXPECT_EQ(640, g.outputHeight);
    EXPECT_EQ(FrameTransform::QuarterTurn, g.transform);
    EXPECT_FALSE(GeometryFromCedarInfo(1, 960, g));
}

// Source pixel (x, y) holds x, y and the row's low byte of y + 1.
std::vector<uint8_t> SyntheticSource(int width, int height, size_t stride) {
    std::vector<uint8_t> source(stride * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &source[y * stride + x * 3];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(y + 1);
        }
    }
    return source;
}

TEST(Transform, IdentityDropsTheDibRowPadding) {
    FrameGeometry g;
    ASSERT_TRUE(GeometryFromGeneralInfo(5, 3, g));  // 15-byte rows padded to 16
    const size_t stride = DibStride(5);
    ASSERT_EQ(16u, stride);
    auto source = SyntheticSource(5, 3, stride);
    std::vector<uint8_t> out(g.OutputBytes(), 0);
    TransformFrame(g, source.data(), stride, out.data());
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(j, out[(i * 5 + j) * 3]);
            EXPECT_EQ(i, out[(i * 5 + j) * 3 + 1]);
        }
    }
}

TEST(Transform, QuarterTurnTakesSourceRowsAsOutputColumns) {
    // Odd widths pad the rows; 71 x 37 spans several copy tiles with partial ones at both edges.
    for (const auto& size : {std::pair<int, int>{7, 5}, {71, 37}}) {
        FrameGeometry g;
        ASSERT_TRUE(GeometryFromCedarInfo(size.first * 2, size.second * 2, g));
        ASSERT_EQ(size.first, g.sourceWidth);
        const size_t stride = DibStride(g.sourceWidth);
        auto source = SyntheticSource(g.sourceWidth, g.sourceHeight, stride);
        std::vector<uint8_t> out(g.OutputBytes(), 0xAA);
        TransformFrame(g, source.data(), stride, out.data());
        int wrong = 0;
        for (int i = 0; i < g.outputHeight; ++i) {
            for (int j = 0; j < g.outputWidth; ++j) {
                const uint8_t* p = &out[(i * g.outputWidth + j) * 3];
                // x = i, y = H - 1 - j
                if (p[0] != i || p[1] != g.sourceHeight - 1 - j || p[2] != g.sourceHeight - j) ++wrong;
            }
        }
        EXPECT_EQ(0, wrong) << size.first << " x " << size.second;
    }
}

TEST(ProxyContract, RegistrationRecordIsExact) {
    const GUID feeder = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    const std::wstring instance = L"ROOT\\0001\\";  // 10 characters
    const std::wstring display = L"Camera Proxy";  // a 6-character name, a blank, "Proxy"
    const auto record = BuildProxyRegistration(feeder, 480, 640, instance, display);
    ASSERT_EQ(64u + 22u + 26u, record.size());
    ProxyRegistrationHeader header;
    std::memcpy(&header, record.data(), sizeof(header));
    EXPECT_TRUE(IsEqualGUID(feeder, header.feederGuid));
    EXPECT_EQ(40u, header.format.biSize);
    EXPECT_EQ(480, header.format.biWidth);
    EXPECT_EQ(640, header.format.biHeight);
    EXPECT_EQ(1, header.format.biPlanes);
    EXPECT_EQ(24, header.format.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.format.biCompression);
    EXPECT_EQ(480u * 640u * 3u, header.format.biSizeImage);
    EXPECT_EQ(0, header.format.biXPelsPerMeter);
    EXPECT_EQ(0u, header.format.biClrUsed);
    EXPECT_EQ(22u, header.instanceIdBytes);
    EXPECT_EQ(26u, header.displayNameBytes);
    EXPECT_EQ(0, std::memcmp(record.data() + 64, instance.c_str(), 22));
    EXPECT_EQ(0, std::memcmp(record.data() + 86, display.c_str(), 26));
}

TEST(ProxyContract, EventNamesAreLowerCase) {
    const GUID feeder = {0xABCDEF01, 0xA2B3, 0xC4D5, {0xE6, 0xF7, 0x08, 0x19, 0x2A, 0x3B, 0x4C, 0x5D}};
    EXPECT_EQ(L"ZelKernelStreamingProxy-Camera-Active-{abcdef01-a2b3-c4d5-e6f7-08192a3b4c5d}",
              ProxyEventName(ProxyEvent::Active, feeder));
    EXPECT_EQ(L"ZelKernelStreamingProxy-Camera-Inactive-{abcdef01-a2b3-c4d5-e6f7-08192a3b4c5d}",
              ProxyEventName(ProxyEvent::Inactive, feeder));
}

TEST(AgentArguments, OnlyDecimalNumbersInRange) {
    const wchar_t* good[] = {L"C:\\Program Files\\x\\OrvoVistrelWatchdog.exe", L"1234", L"18446744073709551615"};
    auto parsed = ParseAgentArguments(3, good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(1234u, parsed->serviceProcessId);
    EXPECT_EQ(UINT64_MAX, parsed->stopEventHandle);
    EXPECT_FALSE(parsed->CleanupRun());

    const wchar_t* cleanup[] = {L"a.exe", L"77", L"0"};
    ASSERT_TRUE(ParseAgentArguments(3, cleanup));
    EXPECT_TRUE(ParseAgentArguments(3, cleanup)->CleanupRun());

    // Garbage would read as 0 with the C runtime's readers, and 0 cleans up
    // every session.
    for (const wchar_t* bad : {L"", L"abc", L"12x", L"-1", L" 5", L"18446744073709551616"}) {
        const wchar_t* argv[] = {L"a.exe", L"77", bad};
        EXPECT_FALSE(ParseAgentArguments(3, argv)) << bad;
    }
    const wchar_t* badPid[] = {L"a.exe", L"4294967296", L"5"};
    EXPECT_FALSE(ParseAgentArguments(3, badPid));
    EXPECT_FALSE(ParseAgentArguments(2, good));
}

}  // namespace
}  // namespace orvo::watchdog
