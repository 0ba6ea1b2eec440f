// Software exposure, gain and white-balance regulation of a raw-sensor
// camera. Pure logic: the camera reaches the sensor through ISensorActuator,
// and calls every operation under its register lock.
#pragma once
#include <cstdint>

#include "camera_api/cameras/sensor/pid_controller.h"

namespace orvo {

// Status bits the regulation reports.
constexpr uint32_t kStatusOneShotDone = 0x10;
constexpr uint32_t kStatusBalanceDone = 0x20;
constexpr uint32_t kStatusRegulating = 0x80;
constexpr uint32_t kStatusBalanceAdjusting = 0x100;
constexpr uint32_t kStatusSettled = 0x200;
constexpr uint32_t kStatusBalanceSettled = 0x400;
constexpr uint32_t kStatusTooDark = 0x1000;
constexpr uint32_t kStatusBrightEnough = 0x2000;

struct SensorGains {
    int32_t red = 0;
    int32_t green = 0;
    int32_t blue = 0;
};

// What the regulation changes on the camera. Gains are in gain units,
// exposures in nanoseconds.
class ISensorActuator {
public:
    virtual SensorGains Gains() = 0;
    virtual void SetGains(const SensorGains& gains) = 0;
    virtual int64_t Exposure() = 0;
    virtual int64_t MaxExposure() = 0;
    // Clamps to one row time .. maximum exposure and programs the shutter.
    virtual void ProgramShutter(int64_t exposure) = 0;
    virtual void UpdateStatus(uint32_t set, uint32_t clear) = 0;
    // Settled white balance, ratios in thousandths: active and preset.
    virtual void StoreBalance(int32_t redRatio, int32_t blueRatio) = 0;

protected:
    ~ISensorActuator() = default;
};

struct RegulationMeans {
    uint32_t red = 0;
    uint32_t green = 0;
    uint32_t blue = 0;
    uint32_t brightCount = 0;
    bool grey = false;  // luminance is the green mean
};

class CSensorRegulation {
public:
    enum { kGain = 0, kExposure = 1, kRed = 2, kBlue = 3, kTarget = 4, kControllers = 5 };

    explicit CSensorRegulation(ISensorActuator& sensor) noexcept : m_sensor(sensor) {}

    // Beginning of video capture: fresh targets and colour controllers too.
    void StartVideo(int32_t rowTime) noexcept;
    // Fresh luminance controllers from the current gains and exposure.
    void Start(int32_t rowTime) noexcept;
    void Regulate(int32_t rowTime, const RegulationMeans& means) noexcept;
    // The automatic functions were switched on while video runs.
    void RestartLuminance(int32_t rowTime) noexcept { InitLuminanceControllers(rowTime); }
    void RestartBalance() noexcept;
    // Gains from a base gain: with offsets under automatic white balance,
    // else with the active ratios.
    void SetGainsFromBase(int32_t base) noexcept;

    // Settings (parameters of the camera).
    bool autoExposure = false;
    bool autoGain = false;
    bool autoBalance = false;
    bool oneShot = false;
    bool oneShotBalance = false;
    bool gainReduction = true;
    int32_t minGain = 8;
    int32_t maxGain = 56;
    int32_t redTargetPercent = 102;
    int32_t blueTargetPercent = 88;
    int32_t luminanceTarget = 128;
    int32_t workingTarget = 32;
    int32_t minTarget = 10;
    int32_t minLuminanceTarget = 40;  // as set; the regulation works with minTarget, its quarter
    int32_t lowThreshold = 32;
    int32_t highThreshold = 39;
    int32_t redRatio = 1000;   // active white balance, thousandths
    int32_t blueRatio = 1000;

    // Results of the last regulated frame.
    uint32_t meanRed4 = 0, meanGreen4 = 0, meanBlue4 = 0, luminance4 = 0;
    int32_t illumination = 0;
    bool settled = false;
    bool jumped = false;
    int32_t deadBand = 1;

    const CPidController& Controller(int i) const noexcept { return m_pid[i]; }

private:
    void SplitGains() noexcept;
    void InitLuminanceControllers(int32_t rowTime) noexcept;
    // Convergence of one colour's balance.
    struct ColourBalance {
        bool settled = false;
        int32_t lastError = 0;
        int32_t errorBefore = 0;  // the error of the step before the last
        int32_t lastOffset = 0;   // the offset the last error was measured with
        int32_t repeats = 0;
    };
    void BalanceColour(int32_t error, int32_t level, int32_t gain, int controller, int32_t& offset,
                       ColourBalance& colour) noexcept;
    bool FastPath(int32_t rowTime, uint32_t y) noexcept;
    void Estimate(int32_t rowTime, uint32_t y4) noexcept;
    void Retune(int32_t rowTime) noexcept;
    void Darkness(uint32_t y) noexcept;
    void ReduceTarget(uint32_t brightCount) noexcept;
    void RegulateLuminance(int32_t rowTime, int32_t error) noexcept;
    bool ExposureStep(int32_t rowTime, int32_t error) noexcept;
    bool GainStep(int32_t error) noexcept;
    int32_t GreenFor(int32_t base) const noexcept;
    int32_t LimitGainStep(int32_t error, int32_t green, int32_t base) const noexcept;
    void ApplyBalance() noexcept;
    void ReportRegulating() noexcept;

    ISensorActuator& m_sensor;
    CPidController m_pid[kControllers];
    int32_t m_base = 8, m_redOffset = 0, m_greenOffset = 0, m_blueOffset = 0;
    bool m_exposureSaturated = false;
    bool m_gainSaturated = false;
    int64_t m_retuneSum = 0;
    int64_t m_measuredExposure = 0;  // the exposure the step's frame was taken with
    int64_t m_targetSum = 0;
    bool m_dark = false;
    bool m_darknessReported = false;
    ColourBalance m_red, m_blue;
    bool m_balanceReported = false;
};

}  // namespace orvo
