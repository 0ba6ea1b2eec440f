// A proxy feeder for a raw-sensor camera through the real library: the
// virtual camera is half the sensor picture, turned upright by a quarter, and
// what reaches the proxy is the library's own picture of the scene turned.
#include <gtest/gtest.h>

#include <windows.h>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "proxy_feed_rig.h"
#include "watchdog/common/names.h"
#include "watchdog/proxy/frame_geometry.h"
#include "watchdog/proxy/proxy_binding.h"
#include "watchdog/proxy/proxy_contract.h"
#include "watchdog/proxy/proxy_feeder.h"

namespace orvo::watchdog {
namespace {

// Mean of each colour in square blocks of a packed 24-bit picture.
constexpr int kBlock = 16;
// Frames the exposure regulation gets before a picture is compared.
constexpr int kSettleFrames = 30;
struct BlockMap {
    int columns = 0, rows = 0;
    std::vector<double> means;  // (row * columns + column) * 3 + colour
    double At(int column, int row, int colour) const { return means[(size_t(row) * columns + column) * 3 + colour]; }
};

BlockMap Blocks(const uint8_t* pixels, int width, int height, size_t stride) {
    BlockMap map;
    map.columns = width / kBlock;
    map.rows = height / kBlock;
    map.means.assign(size_t(map.columns) * map.rows * 3, 0.0);
    for (int y = 0; y < map.rows * kBlock; ++y)
        for (int x = 0; x < map.columns * kBlock; ++x)
            for (int c = 0; c < 3; ++c)
                map.means[(size_t(y / kBlock) * map.columns + x / kBlock) * 3 + c] += pixels[y * stride + x * 3 + c];
    for (double& m : map.means) m /= kBlock * kBlock;
    return map;
}

// Correlation of `fed` with the library's map read through `from`, which
// names the library block behind each fed block; per colour, then averaged,
// as the two pictures were taken with different gains.
template <class From>
double Correlation(const BlockMap& fed, const BlockMap& library, From from) {
    double sum = 0;
    for (int c = 0; c < 3; ++c) {
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        int n = 0;
        for (int row = 0; row < fed.rows; ++row)
            for (int column = 0; column < fed.columns; ++column) {
                int x = 0, y = 0;
                from(column, row, &x, &y);
                const double a = fed.At(column, row, c), b = library.At(x, y, c);
                sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
                ++n;
            }
        const double cov = sab - sa * sb / n, va = saa - sa * sa / n, vb = sbb - sb * sb / n;
        sum += va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0.0;
    }
    return sum / 3;
}

class ProxyFeedSensorTest : public ProxyFeedRig {
protected:
    void SetUp() override {
        // The colour chart: no symmetry a wrong turn or a mirror could hide behind.
        const std::wstring id = test::UniqueSerial(L"pfs");
        PlugListed({{"model", "sensor"}, {"vid", test::VendorId()}, {"pid", "0x0311"}, {"serial", test::Narrow(id)},
                    {"product", "Cedar camera"}, {"scene", "chart"}, {"temperature", "3200"}},
                   id);
    }

    // The library's own 24-bit picture of the camera at the feeder's source
    // size, after its exposure regulation had a moment to settle.
    bool LibraryPicture(int width, int height, std::vector<uint8_t>& pixels) {
        int handle = 0, buffer = -1, index = -1;
        if (client.api.orvo_Open(deviceId, &handle) != ORVO_OK) return false;
        win32::UniqueHandle frameEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        bool ok = client.api.orvo_CreateBuffer(handle, 0, 1, 0, width, height, 1, &buffer) == ORVO_OK;
        // The gains, targets and regulation a feeder asks for (this model
        // has no automatic white balance), so both pictures look alike.
        const int settings[][3] = {{15, 0, 0}, {14, 0, 0}, {32, 2, 1},  {1, 14, 0},  {2, 10, 0}, {3, 20, 0},
                                   {29, 150, 0}, {38, 84, 0}, {10, 1, 0}, {48, 20, 0}, {49, 30, 0}};
        for (const auto& s : settings) {
            int value = s[1];
            ok = ok && client.api.orvo_SetParam(handle, s[2] ? buffer : -1, s[0], &value) == ORVO_OK;
        }
        ok = ok && client.api.orvo_UpdateParams(handle) == ORVO_OK &&
             client.api.orvo_EnableCameraEvent(handle, 0, frameEvent.get()) == ORVO_OK &&
             client.api.orvo_StartCapture(handle, buffer) == ORVO_OK;
        for (int frames = 0; ok && frames < kSettleFrames; ++frames) ok = test::WaitPumping(frameEvent.get());
        FrameDesc frame{};
        if (ok) ok = client.api.orvo_GetFrame(handle, buffer, &index, &frame) == ORVO_OK && frame.bits;
        if (ok) {
            const auto* bits = static_cast<const uint8_t*>(frame.bits);
            pixels.assign(bits, bits + DibStride(width) * height);
            client.api.orvo_ReleaseFrame(handle, buffer, index);
        }
        client.api.orvo_StopCapture(handle);
        client.api.orvo_EnableCameraEvent(handle, 0, nullptr);
        if (buffer != -1) client.api.orvo_DeleteBuffer(handle, buffer);
        client.api.orvo_Close(handle);
        return ok;
    }
};

TEST_F(ProxyFeedSensorTest, FeedsHalfTheSensorPictureTurnedByAQuarter) {
    int32_t info[5] = {};
    {
        int handle = 0;
        ASSERT_EQ(ORVO_OK, client.api.orvo_Open(deviceId, &handle));
        EXPECT_EQ(ORVO_OK, client.api.orvo_GetInfo(handle, 1, info));
        client.api.orvo_Close(handle);
    }
    const int sensorWidth = info[1], sensorHeight = info[2];
    ASSERT_GT(sensorWidth, sensorHeight);
    // Upright: the virtual camera is as wide as half the sensor is high.
    const int width = sensorHeight / 2, height = sensorWidth / 2;

    ProxyFeeder feeder;
    ASSERT_EQ(S_OK, feeder.Start(L"Cedar camera", kKindCedar, deviceId, deviceInstance));
    const auto record = proxy.LastRecord();
    ASSERT_GE(record.size(), 16u);
    GUID id{};
    std::memcpy(&id, record.data(), 16);
    EXPECT_EQ(BuildProxyRegistration(id, width, height, DeviceInstanceId(deviceInstance), L"Cedar camera Proxy"),
              record);
    ASSERT_EQ(S_OK, AttachWithin(feeder));

    // The application streams: camera frames (no white placeholder corner)
    // of exactly the registered size.
    win32::UniqueHandle active(CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, id).c_str()));
    SetEvent(active.get());
    ZKSP_FRAME frame{};
    std::vector<uint8_t> fed;
    bool camera = false;
    unsigned long long placeholders = 0;
    const ULONGLONG frameBy = GetTickCount64() + 30000;
    while (!camera && GetTickCount64() < frameBy) {
        test::WaitPumping(nullptr, 50);
        if (!proxy.ReadFrame(id, frame, fed) || frame.bytes == 0) continue;
        const bool placeholder = fed[0] == 255 && fed[1] == 255 && fed[2] == 255;
        if (placeholder) placeholders = frame.frames;
        // A few frames past the placeholder: the exposure has begun to settle.
        camera = !placeholder && frame.frames > placeholders + kSettleFrames;
    }
    ASSERT_TRUE(camera) << "no camera frames reached the proxy";
    EXPECT_EQ(width, frame.width);
    EXPECT_EQ(height, frame.height);
    EXPECT_EQ(uint32_t(width) * height * 3, frame.bytes);
    EXPECT_EQ(0u, frame.badWrites);
    ASSERT_TRUE(proxy.ReadFrame(id, frame, fed));
    feeder.Stop();

    // The same scene as the library renders it at the feeder's source size
    // (height x width): the fed picture is that one, its memory rows turned
    // into columns, the last row first.
    std::vector<uint8_t> library;
    ASSERT_TRUE(LibraryPicture(height, width, library));
    const BlockMap fedMap = Blocks(fed.data(), width, height, size_t(width) * 3);
    const BlockMap libraryMap = Blocks(library.data(), height, width, DibStride(height));
    const int last = libraryMap.rows - 1, right = libraryMap.columns - 1;
    const double turned = Correlation(fedMap, libraryMap, [&](int c, int r, int* x, int* y) { *x = r, *y = last - c; });
    const double other = Correlation(fedMap, libraryMap, [&](int c, int r, int* x, int* y) { *x = right - r, *y = c; });
    const double mirrored = Correlation(fedMap, libraryMap, [&](int c, int r, int* x, int* y) { *x = r, *y = c; });
    const double both =
        Correlation(fedMap, libraryMap, [&](int c, int r, int* x, int* y) { *x = right - r, *y = last - c; });
    EXPECT_GT(turned, 0.95) << "other turn " << other << ", mirrored " << mirrored << ", both " << both;
    EXPECT_LT(other, turned - 0.2);
    EXPECT_LT(mirrored, turned - 0.2);
    EXPECT_LT(both, turned - 0.2);
}

}  // namespace
}  // namespace orvo::watchdog
