// A camera with its own processor opened on an emulated one, in-process.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "camera_api/cameras/command_status_camera.h"
#include "emulator/models/model_device.h"

namespace orvo::test {

class CommandStatusRig {
public:
    explicit CommandStatusRig(cmdstat::Family family, bool winUsb = false)
        : family(family), model(family), device(model, winUsb) {
        device.SetSyncReadTimeout(200);   // a mute camera fails the handshake quickly
    }
    ~CommandStatusRig() { camera.reset(); }

    bool Open() {
        if (family == cmdstat::Family::Alder) camera.reset(new CZelAlder(&device));
        else camera.reset(new CZelBirch(&device));
        DeviceRecord record{};
        // Answers beyond the handshake's own are left to the poller: let it
        // read them, so that tests start from a quiet camera.
        return camera->Initialize(record) && WaitStatusRead();
    }
    int Get(int id) {
        int value = -12345;
        EXPECT_EQ(camera->GetParam(-1, id, &value), ORVO_OK) << "parameter " << id;
        return value;
    }
    int32_t Set(int id, int value) { return camera->SetParam(-1, id, &value); }
    std::vector<int> DrainChanges() {
        std::vector<int> ids;
        for (int id = 0, n = 0; n < 100; ++n) {
            camera->GetParam(-1, 46, &id);
            if (id == 47) break;
            ids.push_back(id);
        }
        return ids;
    }
    // The status packets the model has queued have all been read.
    bool WaitStatusRead() {
        for (int i = 0; i < 400; ++i) {
            if (device.WithModel([](emu::CommandStatusModel& m) { return m.WaitingStatus(); }) == 0) {
                ::Sleep(30);   // and parsed
                return true;
            }
            ::Sleep(5);
        }
        return false;
    }
    template <class F>
    bool WaitUntil(F condition, int ms = 3000) {
        for (int waited = 0; waited < ms; waited += 5) {
            if (condition()) return true;
            ::Sleep(5);
        }
        return condition();
    }
    emu::CommandStatusModel::Command LastCommand() {
        return device.WithModel([](emu::CommandStatusModel& m) { return m.Commands().back(); });
    }
    size_t CommandCount() {
        return device.WithModel([](emu::CommandStatusModel& m) { return m.Commands().size(); });
    }

    cmdstat::Family family;
    emu::CommandStatusModel model;
    emu::ModelDevice device;
    std::unique_ptr<CZelCommandStatusCamera> camera;
};

}  // namespace orvo::test
