// The model camera's base: what every model shares. The API reaches a camera
// through these operations, in this slot order; models override what they do
// differently and supply parameter tables and capture threads.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>

#include "camera_api/api/orvo_api.h"
#include "camera_api/cameras/frame_rings.h"
#include "camera_api/devices/device_record.h"
#include "win32/critical_section.h"

namespace orvo {

class CDevice;

// Status word bits every model reports.
constexpr uint32_t kStatusVideoFrameSize = 0x1;
constexpr uint32_t kStatusVideoThreadError = 0x2;
constexpr uint32_t kStatusStillReadFailed = 0x4;
constexpr uint32_t kStatusStillNoFrame = 0x8;
constexpr uint32_t kStatusDeviceRemoved = 0x40;

constexpr int kEventVideoFrame = 0;
constexpr int kEventStillFrame = 1;
constexpr int kEventStatus = 2;
constexpr int kParamStatus = 24;

class CZelCamera {
public:
    explicit CZelCamera(CDevice* device) noexcept;
    virtual ~CZelCamera();
    CZelCamera(const CZelCamera&) = delete;
    CZelCamera& operator=(const CZelCamera&) = delete;

    virtual bool Initialize(const DeviceRecord& record);
    virtual bool EnableCameraEvent(int index, HANDLE event);
    virtual int32_t GetInfo(int infoId, void* record);
    virtual int32_t SetInfo(int infoId, void* record);
    virtual int32_t CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height, int frameCount,
                                 int* bufferIndex);
    virtual int32_t SetPalette(int unused, void* palette);
    virtual int32_t DeleteBuffer(int bufferIndex);
    virtual int32_t GetFrame(int bufferIndex, int* frameIndex, FrameDesc* frame);
    virtual int32_t ReleaseFrame(int bufferIndex, int frameIndex);
    virtual int32_t GetParam(int bufferIndex, int paramId, int* value);
    virtual int32_t GetParamRange(int bufferIndex, int paramId, ParamRange* range);
    virtual int32_t SetParam(int bufferIndex, int paramId, int* value);
    virtual int32_t SetFramePos(int bufferIndex, int x, int y);
    virtual int32_t UpdateParams();
    virtual int32_t StartCapture(int bufferIndex);
    virtual int32_t StopCapture();
    virtual void DeviceRemoved();
    // Closes the device object between two exchanges of the camera's threads,
    // never in the middle of one.
    void CloseDevice() noexcept;

protected:
    // Parameter tables of a model. The camera-wide ones answer for buffer -1
    // and as the fallback; the per-buffer ones are asked first for a buffer
    // (under the buffer lock). ORVO_E_BAD_PARAM means "not mine".
    virtual int32_t GetCameraParam(int paramId, int* value);
    virtual int32_t GetCameraParamRange(int paramId, ParamRange* range);
    virtual int32_t SetCameraParam(int paramId, int value);
    virtual int32_t GetBufferParam(BufferSet& set, int paramId, int* value);
    virtual int32_t GetBufferParamRange(BufferSet& set, int paramId, ParamRange* range);
    virtual int32_t SetBufferParam(BufferSet& set, int paramId, int value);
    // Number of event slots the model offers.
    virtual int EventSlots() const noexcept { return 4; }

    // Sets status bits under the status lock, then signals event 2.
    void ReportStatus(uint32_t bits) noexcept;
    // Sets some bits and withdraws others that they contradict, as one report.
    void ReportStatus(uint32_t set, uint32_t clear) noexcept;
    void SignalEvent(int index) noexcept;

    CDevice* Device() const noexcept { return m_device; }
    FrameRings& Rings() noexcept { return m_rings; }

    // For cameras with capture threads of their own. StartOnSet marks the set
    // active and runs start(kind) outside the buffer lock (stopping an old
    // video thread waits for it, and it takes that lock to deliver); a start
    // that fails leaves the set inactive.
    template <class Start>
    int32_t StartOnSet(int bufferIndex, Start start);
    // After a frame release: a still set stays active while it holds frames.
    // True when the set is a still set.
    bool SettleStillSet(int bufferIndex) noexcept;

    int32_t m_releaseMajor = 0;
    int32_t m_releaseMinor = 0;
    int32_t m_info1[4] = {};
    uint8_t m_isWinUsb = 0;
    win32::CriticalSection m_deviceLock;   // around every exchange with the device
    win32::CriticalSection m_apiLock;      // serialises the info and parameter calls
    win32::CriticalSection m_statusLock;   // the status word and device-reported state
    win32::CriticalSection m_commandLock;  // pending outgoing command data

private:
    int32_t ControlTransferIn(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint32_t length);
    int32_t ControlTransferOut(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint32_t length);

    CDevice* m_device;
    std::atomic<HANDLE> m_events[4] = {};
    uint32_t m_status = 0;
    FrameRings m_rings;
};

template <class Start>
int32_t CZelCamera::StartOnSet(int bufferIndex, Start start) {
    int kind;
    {
        win32::CriticalSectionLock buffers(m_rings.Lock());
        BufferSet* set = m_rings.Allocated(bufferIndex);
        if (!set) return ORVO_E_BAD_BUFFER;
        if (set->active) return ORVO_E_BUSY;
        set->active = 1;
        kind = set->kind;
    }
    const int32_t started = start(kind);
    if (started != ORVO_OK) {
        win32::CriticalSectionLock buffers(m_rings.Lock());
        if (BufferSet* set = m_rings.Allocated(bufferIndex)) set->active = 0;
    }
    return started;
}

}  // namespace orvo
