#include "camera_api/cameras/sensor/sensor_timing.h"

#include <algorithm>
#include <cstdlib>

namespace orvo {
namespace {

constexpr int32_t kMinHorizontalBlanking[3][3] = {
    {450, 430, 420},
    {796, 776, 766},
    {1488, 1468, 1458},
};

int BinField(uint16_t mode) { return std::min((mode >> 4) & 3, 2); }

}  // namespace

int64_t FramePeriod(int32_t frameRate) {
    frameRate = std::max(frameRate, 1);
    return (1000000000000LL + frameRate / 2) / frameRate;
}

int32_t HorizontalBlanking(const SensorRegisters& regs) {
    const int32_t minimum =
        kMinHorizontalBlanking[BinField(regs.value[kRegRowAddressMode])][BinField(regs.value[kRegColumnAddressMode])];
    return std::max<int32_t>(regs.value[kRegHorizontalBlanking] + 1, minimum);
}

int32_t RowTime(int32_t horizontalBlanking, int32_t width, int64_t pixelClockPeriodPs) {
    return static_cast<int32_t>(((horizontalBlanking + (width + 8) / 2) * pixelClockPeriodPs * 2 + 500) / 1000);
}

int64_t VerticalBlanking(int32_t frameRate, int32_t rowTime, int32_t height) {
    if (rowTime <= 0) return 0;
    return (FramePeriod(frameRate) + rowTime / 2 - int64_t{height + 8} * rowTime) / rowTime;
}

int64_t ProgramShutter(SensorRegisters& regs, int32_t rowTime, int64_t exposure, int64_t maxExposure) {
    rowTime = std::max(rowTime, 1);
    exposure = std::max<int64_t>(std::min(exposure, maxExposure), rowTime);
    const int64_t rows = std::max<int64_t>((exposure + rowTime / 2) / rowTime, 1);
    regs.value[kRegShutterHigh] = static_cast<uint16_t>(rows >> 16);
    regs.value[kRegShutterLow] = static_cast<uint16_t>(rows);
    return exposure;
}

int32_t HighestFrameRate(int32_t mainsFrequency, int32_t rowTime, int32_t height) {
    int32_t rate = mainsFrequency / 2;
    if (rowTime <= 0) return rate;
    for (int32_t c = 3; VerticalBlanking(rate, rowTime, height) < kMinVerticalBlanking; ++c) {
        if (mainsFrequency / c < kMinFrameRate) break;
        if (mainsFrequency % c == 0) rate = mainsFrequency / c;
    }
    return rate;
}

int32_t ChooseFrameRate(int32_t requested, int32_t highest, int32_t mainsFrequency) {
    int32_t rate = std::min(requested, highest);
    if (rate <= 0 || mainsFrequency <= 0) return kMinFrameRate;
    if (mainsFrequency % rate != 0) {
        // Rates that divide the mains frequency are mains / k for whole k.
        int32_t above = 0, below = 0;
        for (int32_t k = 1; k <= mainsFrequency; ++k) {
            if (mainsFrequency % k) continue;
            const int32_t candidate = mainsFrequency / k;
            if (candidate > rate) above = candidate;
            else { below = candidate; break; }
        }
        if (above > highest) above = 0;  // never past what the window allows
        if (above == 0) rate = below;
        else if (below == 0) rate = above;
        else rate = (above - rate < rate - below) ? above : below;
    }
    return std::max(rate, kMinFrameRate);
}

}  // namespace orvo
