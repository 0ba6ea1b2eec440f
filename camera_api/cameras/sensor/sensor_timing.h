// Frame timing of the sensor: blanking, row time, shutter and the frame-rate
// rules tied to the mains frequency. Pure logic. Rates are in thousandths of
// a frame per second, times in nanoseconds unless named otherwise.
#pragma once
#include <cstdint>

#include "camera_api/cameras/sensor/sensor_registers.h"

namespace orvo {

constexpr int32_t kMinVerticalBlanking = 26;
constexpr int32_t kMinFrameRate = 1000;

int64_t FramePeriod(int32_t frameRate);
// Horizontal blanking in pixel clocks for the binning programmed in registers 34, 35.
int32_t HorizontalBlanking(const SensorRegisters& regs);
// Row time of a window `width` wide (the border included by the caller's W + 8).
int32_t RowTime(int32_t horizontalBlanking, int32_t width, int64_t pixelClockPeriodPs);
// Vertical blanking rows a frame rate leaves for a window `height` high; may be negative.
int64_t VerticalBlanking(int32_t frameRate, int32_t rowTime, int32_t height);
// Clamps the exposure to one row time .. maxExposure, writes the shutter rows
// into registers 8 and 9 and returns the clamped exposure.
int64_t ProgramShutter(SensorRegisters& regs, int32_t rowTime, int64_t exposure, int64_t maxExposure);

// The highest rate the mains frequency allows; with a window (rowTime > 0),
// also the highest whose vertical blanking is at least 26 rows.
int32_t HighestFrameRate(int32_t mainsFrequency, int32_t rowTime, int32_t height);
// The rate applied for a request: capped at `highest`, then moved to the
// nearer rate that divides the mains frequency (the lower one on a tie).
int32_t ChooseFrameRate(int32_t requested, int32_t highest, int32_t mainsFrequency);

// PLL output divider for a pixel clock in MHz (24 or 48).
constexpr uint16_t PllOutputDivider(int32_t pixelClockMHz) { return pixelClockMHz >= 48 ? 6 : 12; }
constexpr uint16_t kPllConfig = (24 << 8) | (2 - 1);
constexpr uint16_t kStillPllDivider = 23;       // halves the 24 MHz clock for large stills
constexpr int64_t kStillPixelClockPeriodPs = 83333;
constexpr int64_t kLargeStillBytes = 1246784;

}  // namespace orvo
