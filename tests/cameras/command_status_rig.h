// A camera with its own processor opened on an emulated one, in-process: the
// camera class over the in-process device object over the USB model.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "camera_api/cameras/command_status_camera.h"
#include "emulator/model_device.h"
#include "emulator/models/command_status_usb_model.h"

namespace orvo::test {

inline emu::Family EmulatedFamily(cmdstat::Family family) {
    return family == cmdstat::Family::Alder ? emu::Family::Alder : emu::Family::Birch;
}

class CommandStatusRig {
public:
    explicit CommandStatusRig(cmdstat::Family family, bool winUsb = false)
        : family(family),
          usb(EmulatedFamily(family), emu::DeviceIdentity{}, emu::PipeLayout{}),
          model(usb.FirmwareUnlocked()),
          device(usb, winUsb) {
        device.SetSyncReadTimeout(200);   // a mute camera fails the handshake quickly
    }
    ~CommandStatusRig() { camera.reset(); }

    bool Open() {
        if (!device.Open(L"in-process", nullptr)) return false;
        if (family == cmdstat::Family::Alder) camera.reset(new CZelAlder(&device));
        else camera.reset(new CZelBirch(&device));
        DeviceRecord record{};
        // Answers beyond the handshake's own are left to the poller: let it
        // read them, so that tests start from a quiet camera.
        return camera->Initialize(record) && WaitStatusRead();
    }
    // Runs f on the camera's firmware under the model's lock.
    template <class F>
    auto WithModel(F f) {
        return usb.WithFirmware(f);
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
            if (WithModel([](emu::CommandStatusModel& m) { return m.WaitingStatus(); }) == 0) {
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
        return WithModel([](emu::CommandStatusModel& m) { return m.Commands().back(); });
    }
    size_t CommandCount() {
        return WithModel([](emu::CommandStatusModel& m) { return m.Commands().size(); });
    }

    cmdstat::Family family;
    emu::CCommandStatusUsbModel usb;
    emu::CommandStatusModel& model;   // for set-up before Open
    emu::CModelDevice device;
    std::unique_ptr<CZelCommandStatusCamera> camera;
};

}  // namespace orvo::test
