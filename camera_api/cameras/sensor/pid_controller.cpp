#include "camera_api/cameras/sensor/pid_controller.h"

#include <algorithm>
#include <limits>

namespace orvo {

void CPidController::init(int32_t newId, int32_t newKp, int32_t newKi, int32_t newKd, int32_t newIntegralMax,
                          int32_t newIntegralMin, int32_t newOutput) noexcept {
    id = newId;
    kp = newKp;
    ki = newKi;
    kd = newKd;
    integralMax = newIntegralMax;
    integralMin = newIntegralMin;
    output = newOutput;
    integral = 0;
    previousError = 0;
}

int32_t CPidController::step(int32_t error) noexcept {
    integral = std::clamp<int64_t>(int64_t{integral} + error, integralMin, integralMax);
    const int64_t next = int64_t{output} + int64_t{ki} * integral + int64_t{kp} * error -
                         int64_t{kd} * (int64_t{error} - previousError);
    // Large factors and errors must saturate, not wrap.
    output = static_cast<int32_t>(
        std::clamp<int64_t>(next, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    previousError = error;
    return output;
}

void CPidController::tune(int32_t newKp, int32_t newKi, int32_t newKd) noexcept {
    kp = newKp;
    ki = newKi;
    kd = newKd;
}

void CPidController::clampOutput(int32_t low, int32_t high) noexcept {
    if (low <= high) output = std::clamp(output, low, high);
}

}  // namespace orvo
