// Incremental PID controller of the exposure regulation: each step adds the
// correction to the controlled value instead of recomputing it.
#pragma once
#include <cstdint>

namespace orvo {

class CPidController {
public:
    CPidController() = default;
    virtual ~CPidController() = default;

    void init(int32_t id, int32_t kp, int32_t ki, int32_t kd, int32_t integralMax, int32_t integralMin,
              int32_t output) noexcept;
    // Adds the error to the bounded integral and the correction to the output.
    int32_t step(int32_t error) noexcept;
    // Changes the factors only; integral and output stay.
    void tune(int32_t kp, int32_t ki, int32_t kd) noexcept;
    // Holds the output inside the range the controlled value can take, so
    // the controller does not wind up beyond what the sensor applies.
    void clampOutput(int32_t low, int32_t high) noexcept;

    int32_t id = 0;
    int32_t kp = 0;
    int32_t ki = 0;
    int32_t kd = 0;
    int32_t integral = 0;
    int32_t integralMax = 0;
    int32_t integralMin = 0;
    int32_t previousError = 0;
    int32_t output = 0;
};

}  // namespace orvo
