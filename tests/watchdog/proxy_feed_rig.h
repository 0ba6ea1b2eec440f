// What the proxy-feed tests start a feeder on: the stand-in proxy, and a
// camera of the emulated bus listed by the real library in this process.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>
#include <string>

#include "ksproxy_rig.h"
#include "system/system_rig.h"
#include "watchdog/proxy/proxy_feeder.h"

namespace orvo::watchdog {

class ProxyFeedRig : public ::testing::Test {
protected:
    // Starts the proxy, plugs the camera and waits until the library lists it.
    void PlugListed(const emu::DeviceSettings& settings, const std::wstring& cameraSerial) {
        ASSERT_TRUE(proxy.Start());
        serial = cameraSerial;
        ASSERT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, settings, &plugged)) << test::Narrow(bus.LastError());
        ASSERT_TRUE(client.Start());
        deviceId = client.WaitListed(serial);
        ASSERT_GE(deviceId, 0);
        for (const DeviceEntry& e : client.List())
            if (e.deviceId == deviceId) deviceInstance = e.devInst;
    }
    void TearDown() override { bus.Unplug(plugged.path); }

    // Pumps until the feeder finds its virtual camera; the last answer.
    static HRESULT AttachWithin(ProxyFeeder& feeder, DWORD ms = 30000) {
        const ULONGLONG deadline = GetTickCount64() + ms;
        HRESULT attached = S_FALSE;
        while ((attached = feeder.Attach()) == S_FALSE && GetTickCount64() < deadline) test::WaitPumping(nullptr, 100);
        return attached;
    }

    test::KsProxyRig proxy;
    emu::CEmulatedUsbBus bus;
    emu::PluggedDevice plugged;
    test::LibraryClient client;
    std::wstring serial;
    int deviceId = -1;
    DWORD deviceInstance = 0;
};

}  // namespace orvo::watchdog
