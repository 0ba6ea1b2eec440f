// A camera with its own processor on the emulated USB bus: the firmware model
// behind the device's pipes. Commands written to the command pipe reach the
// firmware; the response pipe reads its status packets; the data pipe reads
// the frame of the oldest frame request; vendor control transfers reach its
// memory. Transfers arrive from the emulated WinUSB's own thread, so every
// entry point takes the model's lock.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "emulator/device_settings.h"
#include "emulator/frame_pacer.h"
#include "emulator/models/command_status_model.h"
#include "emulator/usb_model_base.h"
#include "win32/critical_section.h"

namespace orvo::emu {

class CCommandStatusUsbModel final : public CUsbModelBase {
public:
    CCommandStatusUsbModel(Family family, DeviceIdentity identity, PipeLayout layout);

    // From a description: the identity keys (vid, pid, release, strings; the
    // bus names the device's path after vid and pid, so they have no
    // defaults here) and the picture size (width, height).
    static std::unique_ptr<CCommandStatusUsbModel> FromSettings(Family family, const DeviceSettings& settings);

    UsbStatus Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                        IsoPacket* packets) override;

    // Runs f on the firmware under the model's lock, then lets waiting
    // transfers look again. For tests that change the camera meanwhile.
    template <class F>
    auto WithFirmware(F f) {
        struct Waker {
            CCommandStatusUsbModel& model;
            ~Waker() { model.Wake(); }
        } waker{*this};
        win32::CriticalSectionLock lock(m_lock);
        return f(m_firmware);
    }

    // The firmware without the lock: for setting the camera up before a host
    // has opened it, and for reading what it recorded after the host is gone.
    CommandStatusModel& FirmwareUnlocked() noexcept { return m_firmware; }

    // Frames come at the camera's frame rate (the default) or, for
    // benchmarks of the host side, as fast as they are asked for.
    void SetPaced(bool paced);

    // Largest frame the data pipe serves; larger requests are cut to it.
    static constexpr uint32_t kMaxFrameBytes = 64u << 20;

private:
    // One device transfer being read in pieces: a status packet or a frame.
    struct Transfer {
        std::vector<uint8_t> bytes;
        size_t end = 0;
        size_t offset = 0;
        bool active = false;
    };
    static UsbStatus ReadPiece(Transfer& transfer, uint8_t* data, uint32_t length, uint32_t* moved);
    bool NextFrameLocked();

    win32::CriticalSection m_lock;
    CommandStatusModel m_firmware;
    std::deque<uint32_t> m_frameSizes;   // sizes of the firmware's waiting frame requests
    std::deque<double> m_frameReady;     // and when each frame is ready
    CFramePacer m_pacer;
    bool m_paced = true;
    Transfer m_status;
    Transfer m_frame;
};

}  // namespace orvo::emu
