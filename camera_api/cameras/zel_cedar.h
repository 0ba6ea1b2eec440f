// The raw-sensor camera: the host programs the sensor's registers, reads raw
// Bayer frames, renders them and regulates exposure, gain and white balance
// in software. Variant 1 adds automatic white balance and its presets.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <vector>

#include "camera_api/cameras/capture_threads.h"
#include "camera_api/cameras/sensor/sensor_context.h"
#include "camera_api/cameras/sensor/sensor_registers.h"
#include "camera_api/cameras/sensor/sensor_regulation.h"
#include "camera_api/cameras/zel_camera.h"

namespace orvo {

struct WhiteBalancePreset {
    uint32_t tag = 0;
    int32_t red = 1000;
    int32_t blue = 1000;
};

constexpr uint32_t kMaxBadPixels = 1006;

class CZelCedar final : public CZelCamera, private ISensorActuator {
public:
    CZelCedar(CDevice* device, int variantFlag) noexcept;
    ~CZelCedar() override;

    bool Initialize(const DeviceRecord& record) override;
    bool EnableCameraEvent(int index, HANDLE event) override;
    int32_t GetInfo(int infoId, void* record) override;
    int32_t SetInfo(int infoId, void* record) override;
    int32_t CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height, int frameCount,
                         int* bufferIndex) override;
    int32_t DeleteBuffer(int bufferIndex) override;
    int32_t ReleaseFrame(int bufferIndex, int frameIndex) override;
    int32_t SetFramePos(int bufferIndex, int x, int y) override;
    int32_t UpdateParams() override;
    int32_t StartCapture(int bufferIndex) override;
    int32_t StopCapture() override;

protected:
    int32_t GetCameraParam(int paramId, int* value) override;
    int32_t GetCameraParamRange(int paramId, ParamRange* range) override;
    int32_t SetCameraParam(int paramId, int value) override;
    int32_t GetBufferParam(BufferSet& set, int paramId, int* value) override;
    int32_t GetBufferParamRange(BufferSet& set, int paramId, ParamRange* range) override;
    int32_t SetBufferParam(BufferSet& set, int paramId, int value) override;
    int EventSlots() const noexcept override { return 3; }

private:
    // ISensorActuator, called under the register lock.
    SensorGains Gains() override;
    void SetGains(const SensorGains& gains) override;
    int64_t Exposure() override { return m_exposure; }
    int64_t MaxExposure() override { return m_maxExposure; }
    void ProgramShutter(int64_t exposure) override;
    void UpdateStatus(uint32_t set, uint32_t clear) override;
    void StoreBalance(int32_t redRatio, int32_t blueRatio) override;

    // Exchanges; the caller holds the device lock.
    bool Send(uint8_t opcode, const std::vector<uint8_t>& body);
    bool SendRuns(uint8_t opcode, const std::vector<uint8_t>& runs);
    // Sends every register whose desired value differs (takes the register lock).
    bool SendChanges(uint8_t opcode);
    bool ReadRegisters();
    bool ProgramPll();
    // Camera memory through vendor requests.
    bool ReadMemory(uint32_t address, uint8_t* data, uint32_t length);
    bool WriteMemory(uint32_t address, const uint8_t* data, uint32_t length);
    void ReadPresets();
    void ReadBadPixels();
    bool StoreBadPixels(const std::vector<uint32_t>& list);

    // Register programming for a context; the caller holds the register lock.
    void ProgramContext(CSensorContext& ctx);
    void ProgramWindow(CSensorContext& ctx);
    // A set's geometry after a client change: into the desired registers for
    // the video set, else only into the context (its own capture programs it).
    void ProgramSet(CSensorContext& ctx, bool video);
    void PlaceWindow(CSensorContext& ctx, bool video);
    void ApplyFrameRate(int32_t rate);
    int32_t HighestRate();
    CSensorContext* VideoContext();  // under the buffer lock
    void ApplyBalancePreset();
    void ApplyPixelClock(int32_t mhz);
    void ReencodeGains(GainMode mode);
    GainMode Mode() const noexcept { return {m_digitalGain, m_gainDoubling}; }

    int32_t GetInfo1(int32_t* out);
    int32_t BadPixelInfo(bool write, int32_t* record);
    int32_t PresetInfo(int infoId, bool write, int32_t* record);

    // Capture.
    static DWORD WINAPI VideoMain(void* self);
    static DWORD WINAPI StillMain(void* self);
    void RunVideo();
    void RunStill();
    bool RenderInto(int setIndex, CSensorContext& ctx, uint8_t* raw);
    void PrepareRenderer(CSensorContext& ctx, int pixelFormat);
    int32_t StopVideoThread();

    const int m_variant;
    win32::CriticalSection m_registerLock;  // both register images and the regulation
    SensorGeometry m_sensor;
    SensorRegisters m_confirmed;
    SensorRegisters m_desired;
    int32_t m_pixelClock = 24;
    int64_t m_pixelPeriodPs = 41666;
    int64_t m_exposure = 66666666;
    int64_t m_maxExposure = 66666666;
    int32_t m_frameRate = 30000;
    int32_t m_mains = 60000;
    int32_t m_videoRowTime = 0;  // of the video context, kept under the register lock
    bool m_chipValid = false;
    bool m_columnMirror = false;
    bool m_rowMirror = false;
    bool m_defectCorrection = false;
    bool m_skipping = false;
    bool m_digitalGain = false;
    bool m_gainDoubling = false;
    std::vector<uint8_t> m_raw[2];
    std::vector<uint32_t> m_badPixels;
    bool m_hasBadPixels = false;
    std::vector<uint32_t> m_upload;
    WhiteBalancePreset m_preset1;
    WhiteBalancePreset m_preset2;
    int32_t m_lightMode = 0;
    bool m_lightModePending = false;
    bool m_balancePending = false;
    int m_videoSet = -1;
    int m_stillSet = -1;
    uint32_t m_memoryPosition = 0;
    CSensorRegulation m_regulation;
    std::atomic<bool> m_videoRunning{false};
    std::atomic<bool> m_updateRequest{false};
    std::atomic<uint32_t> m_lastBrightCount{0};
    std::vector<uint8_t> m_scratch;  // rendering of windows whose rows do not match the DIB's
    // Declared last: destroyed first, so a late thread never outlives the state it uses.
    CaptureThreads m_threads;
};

}  // namespace orvo
