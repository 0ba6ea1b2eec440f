// One buffer set's view of the sensor: binning or skipping, the window and
// its position with mirroring, the timing, the renderer and the camera's bad
// pixels translated into this set's raw frames. The register programming is
// pure logic over a register image.
#pragma once
#include <cstdint>
#include <vector>

#include "camera_api/cameras/sensor/sensor_registers.h"
#include "camera_api/render/bayer8_render.h"

namespace orvo {

struct SensorGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t columnStart = 0;  // default column and row start
    int32_t rowStart = 0;
};

struct TimingSettings {
    int64_t pixelClockPeriodPs = 41666;
    int32_t frameRate = 30000;
    int64_t exposure = 66666666;
    int64_t maxExposure = 66666666;
};

class CSensorContext {
public:
    CSensorContext(int32_t width, int32_t height) noexcept;

    int32_t ColumnFactor() const noexcept { return columnFactorMinus1 + 1; }
    int32_t RowFactor() const noexcept { return rowFactorMinus1 + 1; }
    int32_t EvenWidth() const noexcept { return width & ~1; }
    int32_t EvenHeight() const noexcept { return height & ~1; }
    // Bytes of one raw frame: the window and a 4-pixel border on every side.
    uint32_t RawBytes() const noexcept;
    // Largest window positions for the factors.
    int32_t MaxX(const SensorGeometry& sensor) const noexcept;
    int32_t MaxY(const SensorGeometry& sensor) const noexcept;

    // Registers 34, 35: skip factor - 1, and the bin field unless skipping only.
    void ProgramBinning(SensorRegisters& regs, bool skippingOnly) const noexcept;
    // Registers 3, 4, 6, 8, 9; stores the row time; returns the clamped exposure.
    int64_t ProgramTiming(SensorRegisters& regs, const TimingSettings& timing) noexcept;
    // Registers 1, 2 and the window origin.
    void ProgramWindow(SensorRegisters& regs, const SensorGeometry& sensor, bool columnMirror,
                       bool rowMirror) noexcept;
    // Translates the camera's list ((x << 16) | y in sensor coordinates) into
    // raw-frame indices and hands them to the renderer. The new table is
    // complete before the hand-over, so a frame being repaired meanwhile uses
    // the old one whole.
    void BuildBadPixels(const std::vector<uint32_t>& list, bool columnMirror, bool rowMirror);
    // True when the window, the factors or the mirroring differ from those the
    // bad-pixel indices were built for.
    bool BadPixelsStale(bool columnMirror, bool rowMirror) const noexcept;

    int32_t columnFactorMinus1 = 0;
    int32_t rowFactorMinus1 = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowTime = 0;
    CBayer8Render renderer;
    std::vector<uint32_t> badPixels;
    int32_t renderMode = 3;
    bool mapColumnMirror = false;
    bool mapRowMirror = false;
    int32_t originColumn = 0;
    int32_t originRow = 0;

private:
    // The geometry the bad-pixel indices were built for.
    int32_t m_mapOriginColumn = -1;
    int32_t m_mapOriginRow = -1;
    int32_t m_mapColumnFactor = 0;
    int32_t m_mapRowFactor = 0;
};

// Address-mode field of a binning or skipping factor.
uint16_t AddressMode(int32_t factor, bool skippingOnly) noexcept;

}  // namespace orvo
