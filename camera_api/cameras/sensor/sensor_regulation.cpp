#include "camera_api/cameras/sensor/sensor_regulation.h"

#include <algorithm>
#include <cstdlib>

namespace orvo {
namespace {

constexpr int32_t kIntegralMax = 255;
constexpr int32_t kIntegralMin = -255;
constexpr uint32_t kVeryDark = 32;
constexpr uint32_t kVeryBright = 224;
constexpr int64_t kRetuneLimit = 500;    // per mille of illumination change
constexpr int64_t kTargetResetLimit = 200;

int32_t Smallest(const SensorGains& g) { return std::min({g.red, g.green, g.blue}); }
int32_t Largest(const SensorGains& g) { return std::max({g.red, g.green, g.blue}); }

int32_t Saturate32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Thousandths to the nearest unit. Offsets go negative, where a plain
// (v + 500) / 1000 would round towards zero and leave up to a whole unit of
// every correction undone.
int32_t RoundThousandths(int32_t v) {
    const int64_t shifted = int64_t{v} + 500;
    return static_cast<int32_t>(shifted >= 0 ? shifted / 1000 : -((999 - shifted) / 1000));
}

}  // namespace

void CSensorRegulation::SplitGains() noexcept {
    const SensorGains g = m_sensor.Gains();
    m_base = Smallest(g);
    m_redOffset = g.red - m_base;
    m_greenOffset = g.green - m_base;
    m_blueOffset = g.blue - m_base;
}

void CSensorRegulation::InitLuminanceControllers(int32_t rowTime) noexcept {
    SplitGains();
    m_pid[kGain].init(kGain, 709, 3, 1, kIntegralMax, kIntegralMin, m_base * 1000);
    m_pid[kExposure].init(kExposure, Saturate32(int64_t{rowTime} * 10), 3000, 1000, kIntegralMax, kIntegralMin,
                          Saturate32(m_sensor.Exposure()));
    m_pid[kTarget].init(kTarget, 1000, 3, 1, kIntegralMax, kIntegralMin, workingTarget * 1000);
}

void CSensorRegulation::RestartBalance() noexcept {
    SplitGains();
    m_pid[kRed].init(kRed, 500, 3, 1, kIntegralMax, kIntegralMin, m_redOffset * 1000);
    m_pid[kBlue].init(kBlue, 500, 3, 1, kIntegralMax, kIntegralMin, m_blueOffset * 1000);
    m_red = m_blue = ColourBalance{};
}

void CSensorRegulation::Start(int32_t rowTime) noexcept {
    m_exposureSaturated = m_gainSaturated = false;
    m_retuneSum = m_targetSum = 0;
    illumination = 0;
    InitLuminanceControllers(rowTime);
}

void CSensorRegulation::StartVideo(int32_t rowTime) noexcept {
    workingTarget = luminanceTarget / 4;
    settled = jumped = false;
    deadBand = 1;
    m_darknessReported = false;
    m_balanceReported = false;
    RestartBalance();
    Start(rowTime);
}

void CSensorRegulation::SetGainsFromBase(int32_t base) noexcept {
    SensorGains g;
    if (autoBalance) {
        g = {base + m_redOffset, base + m_greenOffset, base + m_blueOffset};
        int32_t shift = 0;
        if (Smallest(g) < minGain) shift = minGain - Smallest(g);
        else if (Largest(g) > maxGain) shift = maxGain - Largest(g);
        g = {g.red + shift, g.green + shift, g.blue + shift};
    } else {
        const int32_t rr = std::max(redRatio, 1), br = std::max(blueRatio, 1);
        auto fromBase = [&](int32_t a) {
            return SensorGains{(a * rr + 500) / 1000, a, (a * br + 500) / 1000};
        };
        // Inverse of a ratio: the green base that puts a colour at `limit`.
        auto baseFor = [&](int32_t limit, const SensorGains& cur) {
            const int32_t edge = limit < minGain + 1 ? Smallest(cur) : Largest(cur);
            if (edge == cur.green) return limit;
            const int32_t ratio = edge == cur.red ? rr : br;
            return (limit * 1000 + 500) / ratio;
        };
        g = fromBase(base);
        if (Smallest(g) < minGain) g = fromBase(baseFor(minGain, g));
        else if (Largest(g) > maxGain) g = fromBase(baseFor(maxGain, g));
    }
    // Extreme offsets or ratios cannot be met inside the range: clamp each.
    g.red = std::clamp(g.red, minGain, maxGain);
    g.green = std::clamp(g.green, minGain, maxGain);
    g.blue = std::clamp(g.blue, minGain, maxGain);
    m_sensor.SetGains(g);
}

void CSensorRegulation::BalanceColour(int32_t error, int32_t level, int32_t gain, int controller, int32_t& offset,
                                      ColourBalance& colour) noexcept {
    // A colour whose gain unit is coarser than the band swings between two
    // gains with errors of opposite sign; an error that comes back every
    // second step counts as a repeat too, or the balance would never settle.
    if (error == colour.lastError || error == colour.errorBefore) {
        ++colour.repeats;
    } else {
        colour.repeats = 0;
    }
    const int32_t measuredWith = offset;
    const int32_t partnerError = colour.lastError, partnerOffset = colour.lastOffset;
    colour.errorBefore = colour.lastError;
    colour.lastError = error;
    colour.lastOffset = measuredWith;
    const bool outside = error < -1 || error > 1;
    // Such a swing ends on the gain of the two that lands nearer the target:
    // stopping wherever the count runs out leaves every other level up to a
    // whole gain unit off.
    if (outside && colour.repeats >= 4 && partnerOffset != measuredWith && (partnerError < 0) != (error < 0) &&
        std::abs(partnerError) < std::abs(error)) {
        offset = partnerOffset;
        m_pid[controller].clampOutput(offset * 1000, offset * 1000);
        colour.settled = false;
        return;
    }
    if (outside && colour.repeats < 4) {
        CPidController& pid = m_pid[controller];
        pid.step(error);
        // As with the common gain: the colour's level grows in proportion to
        // its gain, so a step goes no further than the offset whose gain meets
        // the colour's target at the level just measured.
        if (level > 0 && gain > 0) {
            const int64_t meet = (int64_t{gain} * 1000 * (level + error) / level) - int64_t{gain - offset} * 1000;
            if ((error > 0 && pid.output > meet) || (error < 0 && pid.output < meet))
                pid.clampOutput(Saturate32(meet), Saturate32(meet));
        }
        offset = RoundThousandths(pid.output);
        // An offset can never exceed the width of the gain range.
        offset = std::clamp(offset, -(maxGain - minGain), maxGain - minGain);
        colour.settled = false;
        if (m_balanceReported) {
            m_balanceReported = false;
            m_sensor.UpdateStatus(kStatusBalanceAdjusting, kStatusBalanceSettled);
        }
    } else {
        colour.settled = true;
    }
}

void CSensorRegulation::Regulate(int32_t rowTime, const RegulationMeans& means) noexcept {
    const uint32_t r = std::min(means.red, 255u), gr = std::min(means.green, 255u), b = std::min(means.blue, 255u);
    const uint32_t y = means.grey ? gr : (gr * 9848225u + r * 5014709u + b * 1912602u) >> 24;
    meanRed4 = r / 4;
    meanGreen4 = gr / 4;
    meanBlue4 = b / 4;
    luminance4 = y / 4;

    if (autoBalance) {
        const int32_t g4 = static_cast<int32_t>(meanGreen4);
        const int32_t r4 = static_cast<int32_t>(meanRed4), b4 = static_cast<int32_t>(meanBlue4);
        const SensorGains gains = m_sensor.Gains();
        BalanceColour((g4 * redTargetPercent + 50) / 100 - r4, r4, gains.red, kRed, m_redOffset, m_red);
        BalanceColour((g4 * blueTargetPercent + 50) / 100 - b4, b4, gains.blue, kBlue, m_blueOffset, m_blue);
    }
    m_measuredExposure = m_sensor.Exposure();
    if (FastPath(rowTime, y)) return;
    if (jumped) {
        Start(rowTime);
        workingTarget = luminanceTarget / 4;
        jumped = false;
    }
    Estimate(rowTime, luminance4);
    Darkness(y);
    ReduceTarget(means.brightCount);
    RegulateLuminance(rowTime, workingTarget - static_cast<int32_t>(luminance4));
}

bool CSensorRegulation::FastPath(int32_t rowTime, uint32_t y) noexcept {
    if (!autoExposure) return false;
    int64_t exposure = m_sensor.Exposure();
    if (y < kVeryDark && exposure <= m_sensor.MaxExposure() / 2) {
        exposure *= 2;
    } else if (y > kVeryBright && exposure >= 16 * int64_t{rowTime}) {
        if (!jumped) SetGainsFromBase(minGain);
        exposure /= 2;
    } else {
        return false;
    }
    m_sensor.ProgramShutter(exposure);
    jumped = true;
    ApplyBalance();
    return true;
}

void CSensorRegulation::Estimate(int32_t rowTime, uint32_t y4) noexcept {
    const SensorGains g = m_sensor.Gains();
    const int64_t meanGain = (int64_t{g.red} + g.green + g.blue) / 3;
    const int64_t exposureUs = std::max<int64_t>(m_sensor.Exposure() / 1000, 1);
    const int64_t level = int64_t{y4} - int64_t{y4} * (meanGain - minGain) * 893 / 100000;
    const int64_t estimate = std::clamp<int64_t>(level * 1000000 / exposureUs, 0, INT32_MAX);
    const int64_t previous = illumination;
    illumination = static_cast<int32_t>(estimate);
    if (estimate > 0 && previous > 0) {
        const int64_t change = (previous - estimate) * 1000 / previous;
        m_retuneSum += change;
        if (m_retuneSum < -kRetuneLimit || m_retuneSum > kRetuneLimit) {
            Retune(rowTime);
            m_retuneSum = 0;
        }
        if (settled) {
            m_targetSum += change;
            if (m_targetSum < -kTargetResetLimit || m_targetSum > kTargetResetLimit) {
                workingTarget = luminanceTarget / 4;
                m_targetSum = 0;
            }
        }
    } else if (previous <= 0) {
        Retune(rowTime);
        m_retuneSum = 0;
    }
}

void CSensorRegulation::Retune(int32_t rowTime) noexcept {
    int64_t k = m_sensor.MaxExposure() / 8;
    if (illumination > 0) {
        const int64_t q = (1000000000LL / illumination) / 2;
        if (k >= q) {
            k = q;
            deadBand = (q > 0 && q < rowTime) ? static_cast<int32_t>(rowTime / q) : 1;
        }
    }
    const int32_t kp = Saturate32(k);
    m_pid[kExposure].tune(kp, kp / 250, 0);
}

void CSensorRegulation::Darkness(uint32_t y) noexcept {
    if (m_dark) {
        if (y > static_cast<uint32_t>(highThreshold)) {
            m_dark = false;
            m_darknessReported = true;
            m_sensor.UpdateStatus(kStatusBrightEnough, kStatusTooDark);
        }
    } else if (y < static_cast<uint32_t>(lowThreshold)) {
        m_dark = true;
        m_darknessReported = true;
        m_sensor.UpdateStatus(kStatusTooDark, kStatusBrightEnough);
    } else if (!m_darknessReported) {
        m_darknessReported = true;
        m_sensor.UpdateStatus(kStatusBrightEnough, kStatusTooDark);
    }
}

void CSensorRegulation::ReduceTarget(uint32_t brightCount) noexcept {
    if (!autoExposure || !gainReduction || minTarget >= workingTarget) return;
    int32_t by = 0;
    if (brightCount > 100000) by = 5;
    else if (brightCount > 10000) by = 4;
    else if (brightCount > 100) by = 2;
    else if (brightCount > 10) by = 1;
    workingTarget = std::max(workingTarget - by, minTarget);
}

void CSensorRegulation::ReportRegulating() noexcept {
    settled = false;
    deadBand = 1;
    m_sensor.UpdateStatus(kStatusRegulating, kStatusSettled);
}

void CSensorRegulation::RegulateLuminance(int32_t rowTime, int32_t error) noexcept {
    if (error < -deadBand && !m_exposureSaturated) {
        if (settled) {
            ReportRegulating();
            m_gainSaturated = false;
        }
        if (!GainStep(error)) {
            ExposureStep(rowTime, error);
            ApplyBalance();
        }
        return;
    }
    if (error > deadBand && !m_gainSaturated) {
        if (settled) {
            ReportRegulating();
            m_exposureSaturated = false;
        }
        if (ExposureStep(rowTime, error)) ApplyBalance();
        else GainStep(error);
        return;
    }
    ApplyBalance();
    if (!autoExposure && !autoGain) return;
    if (settled && !oneShot) return;
    settled = true;
    m_targetSum = 0;
    deadBand = 3;
    if (oneShot) {
        autoExposure = autoGain = false;
        oneShot = false;
        m_sensor.UpdateStatus(kStatusOneShotDone, 0);
    } else {
        m_sensor.UpdateStatus(kStatusSettled, kStatusRegulating);
    }
}

bool CSensorRegulation::ExposureStep(int32_t rowTime, int32_t error) noexcept {
    if (!autoExposure) {
        if (error < 0) m_exposureSaturated = true;
        return false;
    }
    CPidController& pid = m_pid[kExposure];
    const int64_t maxExposure = m_sensor.MaxExposure();
    if (error > 0 && pid.output >= maxExposure) return false;
    if (error < 0 && pid.output <= 2 * int64_t{rowTime}) {
        m_exposureSaturated = true;
        return false;
    }
    pid.step(error);
    pid.clampOutput(rowTime, Saturate32(maxExposure));
    m_sensor.ProgramShutter(pid.output);
    return !(error > 0 && pid.output >= maxExposure);
}

bool CSensorRegulation::GainStep(int32_t error) noexcept {
    if (!autoGain) {
        if (error > 0) {
            m_gainSaturated = true;
            ApplyBalance();
        }
        return false;
    }
    const SensorGains g = m_sensor.Gains();
    m_base = Smallest(g);
    if (error < 0 && (Smallest(g) <= minGain || m_base <= minGain)) return false;
    if (error > 0 && (Largest(g) >= maxGain || m_base >= maxGain)) {
        m_gainSaturated = true;
        ApplyBalance();
        return false;
    }
    CPidController& pid = m_pid[kGain];
    pid.step(error);
    pid.clampOutput(minGain * 1000, maxGain * 1000);
    const int32_t stepped = std::clamp((pid.output + 500) / 1000, minGain, maxGain);
    const int32_t base = LimitGainStep(error, g.green, stepped);
    if (base != stepped) pid.clampOutput(base * 1000, base * 1000);
    if (error < 0 && GreenFor(base) >= g.green) return false;  // the exposure trims instead
    SetGainsFromBase(base);
    const SensorGains now = m_sensor.Gains();
    return !(error < 0 && (Smallest(now) <= minGain || base <= minGain));
}

int32_t CSensorRegulation::GreenFor(int32_t base) const noexcept {
    return autoBalance ? base + m_greenOffset : base;
}

// Luminance grows in proportion to the gain (and the exposure), while the
// controller's step is in proportion to the error alone. Near the minimum gain
// one step overshoots by more than the error, and after an exposure step in the
// same regulation step the error would be counted twice; either way the loop
// swings for ever between the two actuators. So a step goes no further than the
// gain that meets the target at the luminance expected with the exposure now
// programmed, moves at least one unit upward, and going down never lands below
// the dead band: where no lower gain stays inside it, the exposure, which moves
// finely, does the trimming.
int32_t CSensorRegulation::LimitGainStep(int32_t error, int32_t green, int32_t base) const noexcept {
    const int64_t expected =
        int64_t{luminance4} * m_sensor.Exposure() / std::max<int64_t>(m_measuredExposure, 1);
    if (expected <= 0 || green <= 0) return base;
    auto luminanceAt = [&](int32_t b) { return expected * GreenFor(b) / green; };
    const int32_t current = std::clamp(green - GreenFor(0), minGain, maxGain);
    if (error > 0) {
        while (base > current + 1 && luminanceAt(base - 1) >= workingTarget) --base;
        return std::clamp(std::max(base, current + 1), minGain, maxGain);
    }
    while (base < current && luminanceAt(base) < workingTarget - deadBand) ++base;
    return base;
}

void CSensorRegulation::ApplyBalance() noexcept {
    if (!autoBalance) return;
    const SensorGains g = m_sensor.Gains();
    if (!m_red.settled || !m_blue.settled) {
        SetGainsFromBase(g.green - m_greenOffset);
        return;
    }
    const int32_t green = std::max(g.green, 1);
    redRatio = (g.red * 1000 + 500) / green;
    blueRatio = (g.blue * 1000 + 500) / green;
    m_sensor.StoreBalance(redRatio, blueRatio);
    if (oneShotBalance) {
        oneShotBalance = false;
        autoBalance = false;
        m_balanceReported = true;
        m_sensor.UpdateStatus(kStatusBalanceDone, 0);
    } else if (!m_balanceReported) {
        m_balanceReported = true;
        m_sensor.UpdateStatus(kStatusBalanceSettled, kStatusBalanceAdjusting);
    }
}

}  // namespace orvo
