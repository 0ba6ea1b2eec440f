// The raw-sensor camera against the emulated sensor, in process: the
// fixture the camera's suites share.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "camera_api/cameras/zel_cedar.h"
#include "emulator/model_device.h"
#include "emulator/sensor/sensor_model.h"
#include "win32/unique_handle.h"

namespace orvo {

class CedarTest : public ::testing::Test {
protected:
    CedarTest() : model(emu::DeviceIdentity{}), device(model) {}

    bool Open(int variant = 1) {
        // The device object stays open across cameras, as the holder keeps it.
        if (!deviceOpen && !(deviceOpen = device.Open(L"\\\\?\\usb#emulated-sensor", nullptr))) return false;
        camera = std::make_unique<CZelCedar>(&device, variant);
        DeviceRecord record{};
        record.entry.releaseMajor = 1;
        if (!camera->Initialize(record)) return false;
        status.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        frame.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        still.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        camera->EnableCameraEvent(kEventVideoFrame, frame.get());
        camera->EnableCameraEvent(kEventStillFrame, still.get());
        camera->EnableCameraEvent(kEventStatus, status.get());
        return true;
    }
    int32_t Set(int id, int value, int buffer = -1) { return camera->SetParam(buffer, id, &value); }
    int Get(int id, int buffer = -1) {
        int value = -1;
        EXPECT_EQ(camera->GetParam(buffer, id, &value), ORVO_OK) << id;
        return value;
    }
    // Frames the camera requests until a status bit shows; -1 past the bound.
    int FramesUntil(uint32_t bit, uint32_t maxFrames) {
        const uint32_t first = model.FramesSent();
        uint32_t seen = 0;
        // Also bounded in polls, for a camera that stopped requesting frames.
        for (int polls = 0; polls < 300 && model.FramesSent() - first < maxFrames; ++polls) {
            ::WaitForSingleObject(status.get(), 100);
            seen |= static_cast<uint32_t>(Get(kParamStatus));
            if (seen & bit) return static_cast<int>(model.FramesSent() - first);
        }
        return -1;
    }

    // Stuck pixels the camera's memory lists, in the sensor's middle; a dim
    // scene, so that they stand out of it.
    void PlantStuckPixels() {
        std::vector<uint32_t> list;
        for (uint32_t i = 0; i < 30; ++i) list.push_back((500 + 6 * i) << 16 | (495 + i));
        model.SetBadPixels(list, static_cast<uint32_t>(list.size()));
        model.SetStuckPixels(list);
        model.SetLight({0.2, 5500});
    }

    // Waits for `frames` new video frames, then hands the newest to `inspect`.
    template <class Inspect>
    bool NewestFrame(int index, int frames, Inspect inspect) {
        for (int i = 0; i < frames; ++i)
            if (::WaitForSingleObject(frame.get(), 5000) != WAIT_OBJECT_0) return false;
        int frameIndex = -1;
        FrameDesc desc{};
        if (camera->GetFrame(index, &frameIndex, &desc) != ORVO_OK) return false;
        inspect(static_cast<const uint8_t*>(desc.bits));
        camera->ReleaseFrame(index, frameIndex);
        return true;
    }

    emu::CSensorUsbModel model;
    emu::CModelDevice device;
    bool deviceOpen = false;
    std::unique_ptr<CZelCedar> camera;
    win32::UniqueHandle status, frame, still;
};

}  // namespace orvo
