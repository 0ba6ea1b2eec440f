// A proxy feeder in this process against the stand-in proxy and an emulated
// camera through the real library: registration record, attach, placeholder
// and camera frames, the application stopping, another process holding the
// camera, and proxies that refuse or never answer.
#include <gtest/gtest.h>

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/ksproxy/proxy_nodes.h"
#include "proxy_feed_rig.h"
#include "watchdog/common/names.h"
#include "watchdog/proxy/frame_geometry.h"
#include "watchdog/proxy/proxy_binding.h"
#include "watchdog/proxy/proxy_contract.h"
#include "watchdog/proxy/proxy_feeder.h"

namespace orvo::watchdog {
namespace {

using test::KsProxyRig;

bool IsPlaceholder(const std::vector<uint8_t>& pixels) {
    return pixels.size() >= 3 && pixels[0] == 255 && pixels[1] == 255 && pixels[2] == 255;
}

struct CameraFrame {
    bool pattern = false;
    uint32_t counter = 0;
};

// A camera frame as fed: every row carries the camera's row marker, its row
// numbers rise in memory order and all rows carry one frame counter.
CameraFrame Inspect(const std::vector<uint8_t>& pixels, int width, int height) {
    CameraFrame f;
    const size_t stride = size_t(width) * 3;
    if (height < 2 || pixels.size() != stride * height) return f;
    auto counter = [&](int y) { const uint8_t* r = &pixels[y * stride]; return uint32_t(r[0] | r[1] << 8 | r[2] << 16); };
    auto number = [&](int y) { const uint8_t* r = &pixels[y * stride]; return r[5] == emu::kRowMarker ? int(r[3] | r[4] << 8) : -1; };
    f.counter = counter(0);
    for (int y = 0; y < height; ++y) {
        if (number(y) < 0 || counter(y) != f.counter) return f;
        if (y > 0 && number(y) <= number(y - 1)) return f;
    }
    f.pattern = true;
    return f;
}

class ProxyFeedTest : public ProxyFeedRig {
protected:
    void SetUp() override {
        const std::wstring id = test::UniqueSerial(L"pf");
        emu::DeviceSettings settings = test::AlderCamera(id);
        settings["width"] = "640";
        settings["height"] = "480";
        PlugListed(settings, id);
    }

    // Starts the feeder and waits, pumping, until its node is found.
    GUID StartAndAttach(ProxyFeeder& feeder) {
        EXPECT_EQ(S_OK, feeder.Start(L"System camera", kKindGeneral, deviceId, deviceInstance));
        const auto record = proxy.LastRecord();
        GUID id{};
        if (record.size() >= 16) std::memcpy(&id, record.data(), 16);
        EXPECT_EQ(S_OK, AttachWithin(feeder));
        return id;
    }

    // Pumps until the proxy holds a frame newer than `after` that passes `want`.
    template <class Want>
    bool WaitFrame(const GUID& id, unsigned long long after, Want want, ZKSP_FRAME* out = nullptr,
                   DWORD ms = 20000) {
        const ULONGLONG deadline = GetTickCount64() + ms;
        ZKSP_FRAME frame{};
        std::vector<uint8_t> pixels;
        while (GetTickCount64() < deadline) {
            if (proxy.ReadFrame(id, frame, pixels) && frame.frames > after && frame.bytes && want(pixels, frame)) {
                if (out) *out = frame;
                return true;
            }
            test::WaitPumping(nullptr, 20);
        }
        return false;
    }

    bool CameraInUse() {
        for (const DeviceEntry& e : client.List())
            if (e.deviceId == deviceId) return e.inUse != 0;
        return false;
    }
};

TEST_F(ProxyFeedTest, RegistersExactlyAndFeedsWhileTheApplicationStreams) {
    ProxyFeeder feeder;
    const GUID id = StartAndAttach(feeder);

    // The record: header, instance id of the camera, "NAME Proxy".
    const auto record = proxy.LastRecord();
    const std::wstring instance = DeviceInstanceId(deviceInstance);
    ASSERT_FALSE(instance.empty());
    // The size the camera reports, as the feeder must choose it.
    FrameGeometry geometry;
    {
        int handle = 0;
        ASSERT_EQ(ORVO_OK, client.api.orvo_Open(deviceId, &handle));
        std::vector<uint8_t> info(kInfoRecordBytes, 0);
        if (client.api.orvo_GetInfo(handle, 10, info.data()) != ORVO_OK ||
            !GeometryFromModeList(info.data(), info.size(), geometry)) {
            std::fill(info.begin(), info.end(), 0);
            ASSERT_EQ(ORVO_OK, client.api.orvo_GetInfo(handle, 1, info.data()));
            int32_t w, h;
            std::memcpy(&w, &info[4], 4);
            std::memcpy(&h, &info[8], 4);
            ASSERT_TRUE(GeometryFromGeneralInfo(w, h, geometry));
        }
        client.api.orvo_Close(handle);
    }
    const auto expected =
        BuildProxyRegistration(id, geometry.outputWidth, geometry.outputHeight, instance, L"System camera Proxy");
    EXPECT_EQ(expected, record);

    win32::UniqueHandle active(CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, id).c_str()));
    win32::UniqueHandle inactive(
        CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Inactive, id).c_str()));
    ZKSP_FRAME frame{};
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(proxy.ReadFrame(id, frame, pixels));
    EXPECT_EQ(0u, frame.frames);

    // The application starts: one placeholder first, then the camera's frames.
    SetEvent(active.get());
    ZKSP_FRAME first{};
    ASSERT_TRUE(WaitFrame(id, 0, [](auto&, auto&) { return true; }, &first));
    ASSERT_TRUE(proxy.ReadFrame(id, frame, pixels));
    ZKSP_FRAME camera{};
    ASSERT_TRUE(WaitFrame(id, 0, [](auto& p, auto& f) { return Inspect(p, f.width, f.height).pattern; }, &camera));
    EXPECT_EQ(geometry.outputWidth, camera.width);
    EXPECT_EQ(geometry.outputHeight, camera.height);
    EXPECT_EQ(geometry.OutputBytes(), camera.bytes);
    EXPECT_EQ(0u, camera.badWrites);
    // Frames advance.
    ASSERT_TRUE(proxy.ReadFrame(id, frame, pixels));
    const uint32_t counter = Inspect(pixels, frame.width, frame.height).counter;
    EXPECT_TRUE(WaitFrame(id, frame.frames, [&](auto& p, auto& fr) {
        const auto f = Inspect(p, fr.width, fr.height);
        return f.pattern && f.counter != counter;
    }));
    EXPECT_TRUE(CameraInUse());

    // The application stops: the camera is closed.
    ResetEvent(active.get());
    SetEvent(inactive.get());
    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (CameraInUse() && GetTickCount64() < deadline) test::WaitPumping(client.apiEvent.get(), 100);
    EXPECT_FALSE(CameraInUse());

    // Again: a placeholder first, then frames.
    ASSERT_TRUE(proxy.ReadFrame(id, frame, pixels));
    ResetEvent(inactive.get());
    SetEvent(active.get());
    EXPECT_TRUE(WaitFrame(id, frame.frames, [](auto& p, auto&) { return IsPlaceholder(p); }, nullptr, 20000));
    EXPECT_TRUE(WaitFrame(id, frame.frames, [](auto& p, auto& f) { return Inspect(p, f.width, f.height).pattern; }));

    // Stop takes the virtual camera away.
    feeder.Stop();
    EXPECT_FALSE(proxy.ReadFrame(id, frame, pixels));
    const ULONGLONG gone = GetTickCount64() + 15000;
    bool listed = true;
    while (listed && GetTickCount64() < gone) {
        listed = false;
        for (const auto& node : emu::ListProxyNodes()) listed |= IsEqualGUID(node.camera, id) != 0;
        if (listed) Sleep(50);
    }
    EXPECT_FALSE(listed);
}

TEST_F(ProxyFeedTest, CameraHeldElsewhereGivesThePlaceholderUntilReleased) {
    // The feeder reads the camera's size at its start; another process opens
    // the camera after that.
    ProxyFeeder feeder;
    const GUID id = StartAndAttach(feeder);
    const std::wstring name = test::UniqueName(L"pf_peer");
    win32::UniqueHandle peerReady(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    test::ChildProcess peer;
    ASSERT_TRUE(peer.Start(test::ExeFolder() + L"system_camera_peer.exe", serial + L" " + name + L" 60"));
    ASSERT_TRUE(test::WaitPumping(peerReady.get(), 30000));

    win32::UniqueHandle active(CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, id).c_str()));
    SetEvent(active.get());
    ASSERT_TRUE(WaitFrame(id, 0, [](auto& p, auto&) { return IsPlaceholder(p); }));
    // Still the placeholder a while later.
    test::WaitPumping(nullptr, 1500);
    ZKSP_FRAME frame{};
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(proxy.ReadFrame(id, frame, pixels));
    EXPECT_TRUE(IsPlaceholder(pixels));

    // The holder goes: camera frames within the 3 s poll (and some slack).
    TerminateProcess(peer.Process(), 0);
    peer.Wait(10000);
    EXPECT_TRUE(WaitFrame(id, frame.frames, [](auto& p, auto& f) { return Inspect(p, f.width, f.height).pattern; },
                          nullptr, 15000));
    feeder.Stop();
}

TEST_F(ProxyFeedTest, RefusingOrMuteProxiesNeverHoldTheAgent) {
    {
        ProxyFeeder feeder;
        proxy.SetFaults(ZKSP_FAULT_REJECT_ADD);
        EXPECT_EQ(static_cast<HRESULT>(ZKSP_STATUS_REJECTED),
                  feeder.Start(L"System camera", kKindGeneral, deviceId, deviceInstance));
        EXPECT_EQ(S_FALSE, feeder.Attach());
        feeder.Stop();
    }
    {
        // ADD is never answered: the start gives up after its bound.
        ProxyFeeder feeder;
        proxy.SetFaults(ZKSP_FAULT_HOLD_ADD);
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT),
                  feeder.Start(L"System camera", kKindGeneral, deviceId, deviceInstance));
        EXPECT_LT(GetTickCount64() - before, 15000u);
        feeder.Stop();
    }
    {
        // Writes are never answered: stop still ends the feeding thread
        // without terminating it, and the camera is closed.
        proxy.SetFaults(0);
        ProxyFeeder feeder;
        const GUID id = StartAndAttach(feeder);
        proxy.SetFaults(ZKSP_FAULT_HOLD_WRITES);
        win32::UniqueHandle active(
            CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, id).c_str()));
        SetEvent(active.get());
        test::WaitPumping(nullptr, 1000);
        const ULONGLONG before = GetTickCount64();
        feeder.Stop();
        EXPECT_LT(GetTickCount64() - before, 10000u);
        proxy.SetFaults(0);
        EXPECT_FALSE(CameraInUse());
    }
}

TEST(ProxyDriver, RefusesMalformedRecords) {
    KsProxyRig proxy;
    ASSERT_TRUE(proxy.Start());
    const GUID id = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};
    auto good = BuildProxyRegistration(id, 64, 48, L"ROOT\\X\\0000", L"Cam Proxy");
    auto bad = good;
    bad.resize(bad.size() - 2);  // lengths no longer add up
    EXPECT_EQ(ZKSP_STATUS_INVALIDARG, proxy.Add(bad));
    bad = good;
    bad[64 + 22] = 'X';  // instance id without its NUL
    bad[64 + 23] = 0;
    EXPECT_EQ(ZKSP_STATUS_INVALIDARG, proxy.Add(bad));
    bad = good;
    bad[36] ^= 1;  // image size that does not fit the format
    EXPECT_EQ(ZKSP_STATUS_INVALIDARG, proxy.Add(bad));
    EXPECT_EQ(ZKSP_STATUS_INVALIDARG, proxy.Add(std::vector<uint8_t>(good.begin(), good.begin() + 40)));
    EXPECT_EQ(0, proxy.Add(good));
    EXPECT_EQ(good, proxy.LastRecord());
    EXPECT_EQ(0, proxy.Remove(id));
    EXPECT_EQ(ZKSP_STATUS_INVALIDARG, proxy.Remove(id));
}

}  // namespace
}  // namespace orvo::watchdog
