// The capture pin's picture logic, its buffer choice and the camera table's
// rules, in-process.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "capture_source/filter/camera_filter.h"
#include "capture_source/filter/camera_pins.h"
#include "capture_source/filter/frame_format.h"
#include "capture_source/module/camera_table.h"

namespace orvo::capture {
namespace {

std::vector<uint8_t> ModeRecord(std::initializer_list<std::array<int, 6>> modes, int32_t count = -2) {
    std::vector<uint8_t> record(kInfoRecordBytes, 0);
    const int32_t n = count == -2 ? int32_t(modes.size()) : count;
    std::memcpy(record.data() + 8, &n, 4);
    size_t offset = 16;
    for (const auto& m : modes) {
        const uint16_t w = uint16_t(m[0]), h = uint16_t(m[1]);
        std::memcpy(&record[offset], &w, 2);
        std::memcpy(&record[offset + 2], &h, 2);
        for (int r = 0; r < 4; ++r) record[offset + 4 + r] = uint8_t(m[2 + r]);
        offset += 8;
    }
    return record;
}

TEST(FrameFormat, ModeChoiceTakesTheLargestScoreAndTheFirstAmongEquals) {
    VideoMode best;
    auto r = ModeRecord({{640, 480, 30, 0, 0, 0}, {1280, 720, 15, 0, 0, 0}});
    ASSERT_TRUE(ChooseVideoMode(r.data(), r.size(), &best));
    EXPECT_EQ(best.width, 1280);
    EXPECT_EQ(best.height, 720);
    EXPECT_EQ(best.rate, 15);

    r = ModeRecord({{640, 480, 0, 30, 0, 0}, {480, 640, 30, 0, 0, 0}});
    ASSERT_TRUE(ChooseVideoMode(r.data(), r.size(), &best));
    EXPECT_EQ(best.width, 640);

    // No rates, no entries, or a count that would read past the record.
    r = ModeRecord({{640, 480, 0, 0, 0, 0}});
    EXPECT_FALSE(ChooseVideoMode(r.data(), r.size(), &best));
    r = ModeRecord({}, 0);
    EXPECT_FALSE(ChooseVideoMode(r.data(), r.size(), &best));
    r = ModeRecord({{320, 240, 5, 0, 0, 0}}, 0x7FFFFFFF);
    ASSERT_TRUE(ChooseVideoMode(r.data(), r.size(), &best));
    EXPECT_EQ(best.width, 320);
    // A score beyond 32 bits does not wrap into a loser.
    r = ModeRecord({{640, 480, 30, 0, 0, 0}, {65535, 65535, 255, 0, 0, 0}});
    ASSERT_TRUE(ChooseVideoMode(r.data(), r.size(), &best));
    EXPECT_EQ(best.width, 65535);
}

TEST(FrameFormat, GeneralSizeHalvesOnlyAboveSevenHundredTwenty) {
    std::vector<uint8_t> record(kInfoRecordBytes, 0);
    auto size = [&](int32_t w, int32_t h) {
        std::memcpy(&record[4], &w, 4);
        std::memcpy(&record[8], &h, 4);
        int ow = 0, oh = 0;
        GeneralSizeFromInfo(record.data(), &ow, &oh);
        return std::make_pair(ow, oh);
    };
    EXPECT_EQ(size(1280, 960), std::make_pair(640, 480));
    EXPECT_EQ(size(720, 576), std::make_pair(720, 576));
    EXPECT_EQ(size(1280, 720), std::make_pair(640, 360));
}

// Rows of widths that are not a multiple of 4 are padded; a copy that took
// them as packed would shear the picture.
TEST(FrameFormat, FlipUsesTheDibStrideOnBothSides) {
    for (int width : {640, 642, 3}) {
        SCOPED_TRACE(width);
        const int height = 5, stride = DibStride(width);
        EXPECT_EQ(stride % 4, 0);
        std::vector<uint8_t> frame(size_t(stride) * height), sample(frame.size(), 0xEE);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * 3; ++x) frame[size_t(y) * stride + x] = uint8_t(y * 50 + x);
        CopyFlipped(frame.data(), sample.data(), width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width * 3; ++x) {
                ASSERT_EQ(sample[size_t(height - 1 - y) * stride + x], frame[size_t(y) * stride + x]);
            }
        }
    }
}

TEST(FrameFormat, CedarTurnPutsEachPixelWhereTheQuarterTurnSays) {
    const int a = 6, b = 3;  // source a wide, b high; sample b wide, a high
    std::vector<uint8_t> frame(size_t(DibStride(a)) * b);
    for (int y = 0; y < b; ++y)
        for (int x = 0; x < a; ++x)
            for (int c = 0; c < 3; ++c) frame[size_t(y) * DibStride(a) + x * 3 + c] = uint8_t(y * 16 + x * 2 + c * 100);
    std::vector<uint8_t> sample(size_t(DibStride(b)) * a, 0xEE);
    CopyTurned(frame.data(), sample.data(), a, b);
    for (int i = 0; i < a; ++i) {
        for (int j = 0; j < b; ++j) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(sample[size_t(i) * DibStride(b) + j * 3 + c],
                          frame[size_t(b - 1 - j) * DibStride(a) + (a - 1 - i) * 3 + c]);
            }
        }
    }
}

TEST(CameraTableRules, CountsAreClampedAndRemovalKeepsOrder) {
    static CameraTable table;
    const GUID kind{};
    auto id = [](uint32_t n) {
        GUID g{};
        g.Data1 = n;
        return g;
    };
    table.count = 0;
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(AddEntry(table, {id(n), kind, n}));
    RemoveEntry(table, id(1));
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.entries[0].deviceId, 2u);
    EXPECT_EQ(table.entries[1].deviceId, 3u);
    RemoveEntry(table, id(99));
    EXPECT_EQ(table.count, 2);

    table.count = -1;
    EXPECT_EQ(ClampedCount(table), 0);
    EXPECT_EQ(FindEntry(table, id(2)), -1);
    table.count = 100000;
    EXPECT_EQ(ClampedCount(table), 512);
    EXPECT_FALSE(AddEntry(table, {id(4), kind, 4}));
    RemoveEntry(table, id(2));  // found at 0 of a clamped 512
    EXPECT_EQ(table.count, 511);
}

}  // namespace
}  // namespace orvo::capture

namespace orvo::capture {
namespace {

// Records what the pin asks of an allocator and grants it.
class FakeAllocator : public IMemAllocator {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        asked = *request;
        *actual = *request;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Decommit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return S_OK; }

    ALLOCATOR_PROPERTIES asked{};
};

// A downstream pin's buffer count is kept, 0 meaning one; the size is the
// pin's image size.
TEST(CapturePin, BufferCountsComeFromDownstreamAndSizesFromThePin) {
    const CLSID clsid = {0x5151, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    auto* filter = new CGeneralCameraFilter(clsid);
    filter->AddRef();
    auto* pin = new CGeneralCameraPin(filter, 1);
    FakeAllocator allocator;
    for (long count : {0L, 3L}) {
        ALLOCATOR_PROPERTIES request{count, 0, 1, 0};
        EXPECT_EQ(pin->DecideBufferSize(&allocator, &request), S_OK);
        EXPECT_EQ(allocator.asked.cBuffers, count == 0 ? 1 : count);
        EXPECT_EQ(allocator.asked.cbBuffer, long(pin->OutputFormat().biSizeImage));
    }
    ALLOCATOR_PROPERTIES request{1, 0, 1, 0};
    EXPECT_EQ(pin->DecideBufferSize(nullptr, &request), E_INVALIDARG);
    EXPECT_EQ(pin->DecideBufferSize(&allocator, nullptr), E_INVALIDARG);
    filter->Release();  // deletes the pin with it
}

}  // namespace
}  // namespace orvo::capture
