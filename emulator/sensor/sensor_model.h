// The emulated raw-sensor camera on the USB wire: "PLUM" command packets
// with register runs and their echoes, raw frames from the pixel array of
// CSensorScene, and the camera's non-volatile memory behind vendor requests.
#pragma once
#include <cstdint>
#include <deque>
#include <vector>

#include <map>
#include <memory>
#include <string>

#include "emulator/frame_pacer.h"
#include "emulator/sensor/sensor_scene.h"
#include "emulator/usb_model_base.h"

namespace orvo::emu {


class CSensorUsbModel : public CUsbModelBase {
public:
    explicit CSensorUsbModel(DeviceIdentity identity, PipeLayout layout = PipeLayout{});
    // From "key=value" settings: vid, pid, release (hex), illumination,
    // temperature (kelvin) and scene (tiles or chart); for the model factory
    // of the emulated WinUsb.dll.
    static std::unique_ptr<CSensorUsbModel> FromSettings(const std::map<std::string, std::string>& settings);

    UsbStatus Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                        IsoPacket* packets) override;

    // Scene and memory set-up (before or while the host runs).
    void SetLight(SceneLight light);
    void SetScene(SceneKind kind);
    void SetPreset1(int32_t red, int32_t blue);
    // A "BadP" list; `declaredCount` may differ from the entries to model a bad header.
    void SetBadPixels(const std::vector<uint32_t>& entries, uint32_t declaredCount);
    // Pixels stuck bright in the raw data (usually the memory's list).
    void SetStuckPixels(std::vector<uint32_t> pixels);
    std::vector<uint8_t> Memory(uint32_t address, uint32_t length);

    // Faults on request.
    void CorruptNextEchoes(uint32_t count);
    void ShortenNextFrames(uint32_t count);
    void SetChipVersion(uint16_t version);

    plum::RegisterFile Registers();
    // The registers the last frame was read out with.
    plum::RegisterFile FrameRegisters();
    uint32_t FramesSent();
    uint32_t PacketsWithOpcode(uint8_t opcode);

private:
    void WriteMemory(uint32_t address, const uint8_t* data, uint32_t length);
    // Applies register runs and returns the values the registers now hold.
    bool ApplyRuns(const uint8_t* runs, size_t length, std::vector<uint8_t>& echo);
    bool ReadRuns(const uint8_t* runs, size_t length, std::vector<uint8_t>& answer) const;
    void QueueEcho(std::vector<uint8_t> echo);
    void QueueFrame(uint32_t requested);
    // False (and a wake-up booked) while the front frame is still being read out.
    bool FrontFrameReady();
    void PopFrame();

    win32::CriticalSection m_lock;
    plum::RegisterFile m_regs;
    plum::RegisterFile m_frameRegs;
    CSensorScene m_scene;
    std::vector<uint8_t> m_memory;
    uint32_t m_memoryPosition = 0;
    std::deque<std::vector<uint8_t>> m_responses;
    std::deque<std::vector<uint8_t>> m_frames;
    std::deque<double> m_frameReady;   // when each queued frame has been read out
    CFramePacer m_pacer;
    size_t m_isochOffset = 0;  // bytes of the front frame sent in packets
    uint32_t m_corruptEchoes = 0;
    uint32_t m_shortFrames = 0;
    uint32_t m_framesSent = 0;
    uint32_t m_opcodeCounts[256] = {};
};

}  // namespace orvo::emu
