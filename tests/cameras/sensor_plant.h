// A register-backed stand-in for the camera side of the regulation: gains
// and shutter go into a register image, status changes are recorded.
#pragma once
#include <vector>

#include "camera_api/cameras/sensor/sensor_regulation.h"
#include "camera_api/cameras/sensor/sensor_registers.h"
#include "camera_api/cameras/sensor/sensor_timing.h"

namespace orvo::test {

class RegisterActuator : public ISensorActuator {
public:
    SensorGains Gains() override {
        return {DecodeGain(regs.value[kRegRedGain], mode), DecodeGain(regs.value[kRegGreen1Gain], mode),
                DecodeGain(regs.value[kRegBlueGain], mode)};
    }
    void SetGains(const SensorGains& g) override {
        regs.value[kRegRedGain] = EncodeGain(g.red, 56, mode);
        regs.value[kRegGreen1Gain] = regs.value[kRegGreen2Gain] = EncodeGain(g.green, 56, mode);
        regs.value[kRegBlueGain] = EncodeGain(g.blue, 56, mode);
    }
    int64_t Exposure() override { return exposure; }
    int64_t MaxExposure() override { return maxExposure; }
    void ProgramShutter(int64_t value) override {
        exposure = orvo::ProgramShutter(regs, rowTime, value, maxExposure);
    }
    void UpdateStatus(uint32_t set, uint32_t clear) override {
        status = (status | set) & ~(clear & ~set);
        reports.push_back(set);
    }
    void StoreBalance(int32_t red, int32_t blue) override {
        storedRed = red;
        storedBlue = blue;
    }
    uint32_t TakeStatus() {
        const uint32_t s = status;
        status = 0;
        return s;
    }
    bool Reported(uint32_t bit) const {
        for (uint32_t r : reports)
            if (r & bit) return true;
        return false;
    }

    SensorRegisters regs;
    GainMode mode;
    int32_t rowTime = 30000;
    int64_t exposure = 10000000;
    int64_t maxExposure = 66666666;
    uint32_t status = 0;
    std::vector<uint32_t> reports;
    int32_t storedRed = 0, storedBlue = 0;
};

}  // namespace orvo::test
