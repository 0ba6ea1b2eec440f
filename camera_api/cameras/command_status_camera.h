// The cameras with their own processor: the camera keeps its settings and
// sends finished 24-bit images; the host mirrors its state from status
// packets and sends changes and frame requests in command packets. One
// implementation serves both families; the packet layout and the parameter
// table are chosen by family.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "camera_api/cameras/capture_threads.h"
#include "camera_api/cameras/command_status_protocol.h"
#include "camera_api/cameras/zel_camera.h"

namespace orvo {

class CZelCommandStatusCamera : public CZelCamera {
public:
    ~CZelCommandStatusCamera() override;

    bool Initialize(const DeviceRecord& record) override;
    int32_t GetInfo(int infoId, void* record) override;
    int32_t SetInfo(int infoId, void* record) override;
    int32_t CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height, int frameCount,
                         int* bufferIndex) override;
    int32_t DeleteBuffer(int bufferIndex) override;
    int32_t ReleaseFrame(int bufferIndex, int frameIndex) override;
    int32_t UpdateParams() override;
    int32_t StartCapture(int bufferIndex) override;
    int32_t StopCapture() override;

protected:
    CZelCommandStatusCamera(CDevice* device, cmdstat::Family family) noexcept;

    int32_t GetCameraParam(int paramId, int* value) override;
    int32_t GetCameraParamRange(int paramId, ParamRange* range) override;
    int32_t SetCameraParam(int paramId, int value) override;

private:
    bool IsAlder() const noexcept { return m_layout.family == cmdstat::Family::Alder; }

    // Packets. Exchanges and reads hold the device lock.
    bool Exchange(uint32_t commandFlags, std::vector<uint16_t> items);
    void ParseStatus(const uint8_t* data, size_t size);
    // Builds a command from the pending state and writes it, all under the
    // command lock; a command that could not be written leaves the pending
    // state as it was. Caller holds the device lock.
    bool SendCommand(uint32_t commandFlags, uint32_t dataSize, bool withItems);
    // A frame request, carrying the queued request items when UpdateParams
    // asked for them (and then telling it they are sent).
    bool SendFrameRequest(uint32_t dataSize);
    bool PendingEmpty();

    // Buffer rules (caller holds the buffer lock).
    int32_t CheckBufferSize(int kind, int width, int* height, bool* wantsWideMode);

    // Info records of this family.
    int32_t ListInfo(int infoId, void* record);
    int32_t TextInfo(int infoId, void* record);
    int32_t ModeInfo(void* record);
    int32_t ReadStoredBlock(uint32_t tag, void* record);
    int32_t WriteStoredBlock(uint32_t tag, void* record);

    // Threads.
    static DWORD WINAPI PollerMain(void* self);
    static DWORD WINAPI VideoMain(void* self);
    static DWORD WINAPI StillMain(void* self);
    void Poll();
    bool RunVideo();
    bool RunStill();   // true when a frame was delivered
    // Copies one frame of width x rows packed BGR into a free frame of the set.
    bool DeliverFrame(int set, const uint8_t* source, uint32_t width, uint32_t rows, int event);

    const cmdstat::Layout& m_layout;
    cmdstat::DeviceState m_state;        // under the status lock
    cmdstat::PendingCommand m_pending;   // under the command lock
    std::vector<uint8_t> m_command;      // the packet being sent (command lock)
    int m_mainsFrequency = 60;           // under the API lock

    std::vector<uint8_t> m_staging;      // two halves of m_stagingHalf bytes
    size_t m_stagingHalf = 0;
    uint8_t m_receive[cmdstat::kStatusPacketCapacity] = {};

    int m_videoSet = -1;                 // under the buffer lock
    int m_stillSet = -1;

    std::atomic<bool> m_videoRunning{false};
    std::atomic<bool> m_updatePending{false};
    // Declared last: destroyed first, so no thread outlives the state above.
    CaptureThread m_poller;
    CaptureThreads m_threads;
};

// Model codes 9 to 12.
class CZelAlder final : public CZelCommandStatusCamera {
public:
    explicit CZelAlder(CDevice* device) noexcept : CZelCommandStatusCamera(device, cmdstat::Family::Alder) {}
};

// Model codes 2, 3 and 5 to 8.
class CZelBirch final : public CZelCommandStatusCamera {
public:
    explicit CZelBirch(CDevice* device) noexcept : CZelCommandStatusCamera(device, cmdstat::Family::Birch) {}
};

}  // namespace orvo
