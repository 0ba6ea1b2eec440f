#include "camera_api/cameras/sensor/sensor_context.h"

#include <algorithm>

#include "camera_api/cameras/sensor/sensor_timing.h"

namespace orvo {

CSensorContext::CSensorContext(int32_t w, int32_t h) noexcept : width(w), height(h) {}

uint32_t CSensorContext::RawBytes() const noexcept {
    return static_cast<uint32_t>(EvenWidth() + 8) * static_cast<uint32_t>(EvenHeight() + 8);
}

int32_t CSensorContext::MaxX(const SensorGeometry& sensor) const noexcept {
    return std::max(sensor.width / ColumnFactor() - EvenWidth(), 0);
}

int32_t CSensorContext::MaxY(const SensorGeometry& sensor) const noexcept {
    return std::max(sensor.height / RowFactor() - EvenHeight(), 0);
}

uint16_t AddressMode(int32_t factor, bool skippingOnly) noexcept {
    const uint16_t skip = static_cast<uint16_t>((factor - 1) & 7);
    uint16_t bin = 0;
    if (!skippingOnly) bin = (factor == 2 || factor == 6) ? 1 : factor == 4 ? 3 : 0;
    return static_cast<uint16_t>(skip | bin << 4);
}

void CSensorContext::ProgramBinning(SensorRegisters& regs, bool skippingOnly) const noexcept {
    regs.value[kRegRowAddressMode] = AddressMode(RowFactor(), skippingOnly);
    regs.value[kRegColumnAddressMode] = AddressMode(ColumnFactor(), skippingOnly);
}

int64_t CSensorContext::ProgramTiming(SensorRegisters& regs, const TimingSettings& timing) noexcept {
    const int32_t w = EvenWidth(), h = EvenHeight();
    regs.value[kRegRowSize] = static_cast<uint16_t>((h + 8) * RowFactor() - 1);
    regs.value[kRegColumnSize] = static_cast<uint16_t>((w + 8) * ColumnFactor() - 1);
    rowTime = std::max(RowTime(HorizontalBlanking(regs), w, timing.pixelClockPeriodPs), 1);
    const int64_t blanking = std::max<int64_t>(VerticalBlanking(timing.frameRate, rowTime, h), kMinVerticalBlanking);
    regs.value[kRegVerticalBlanking] = static_cast<uint16_t>(std::min<int64_t>(blanking, 0xFFFF));
    return ProgramShutter(regs, rowTime, timing.exposure, timing.maxExposure);
}

void CSensorContext::ProgramWindow(SensorRegisters& regs, const SensorGeometry& sensor, bool columnMirror,
                                   bool rowMirror) noexcept {
    const int32_t fc = ColumnFactor(), fr = RowFactor();
    int32_t wx = std::clamp(x, 0, MaxX(sensor));
    int32_t wy = std::clamp(y, 0, MaxY(sensor));
    if (columnMirror) wx = MaxX(sensor) - wx;
    // Frames are stored bottom-up, so the sensor's natural row order is the flipped one.
    if (!rowMirror) wy = MaxY(sensor) - wy;
    originColumn = fc * (wx & ~3);
    originRow = fr * (wy & ~1);
    const int32_t row = sensor.rowStart + originRow - 4 * (fr - 1) - 4;
    int32_t column = sensor.columnStart + originColumn - 4 * (fc - 1) - 4;
    if (columnMirror) column += 2 * (fc - 1) + 2;
    regs.value[kRegRowStart] = static_cast<uint16_t>(std::max(row, 0));
    regs.value[kRegColumnStart] = static_cast<uint16_t>(std::max(column, 0));
}

void CSensorContext::BuildBadPixels(const std::vector<uint32_t>& list, bool columnMirror, bool rowMirror) {
    std::vector<uint32_t> table;
    table.reserve(list.size());
    mapColumnMirror = columnMirror;
    mapRowMirror = rowMirror;
    const int32_t fc = ColumnFactor(), fr = RowFactor();
    m_mapOriginColumn = originColumn;
    m_mapOriginRow = originRow;
    m_mapColumnFactor = fc;
    m_mapRowFactor = fr;
    const int32_t w = EvenWidth(), h = EvenHeight();
    for (uint32_t entry : list) {
        const int32_t nx = static_cast<int32_t>(entry >> 16) + 4 * (fc - 1) - originColumn + 4;
        const int32_t ny = static_cast<int32_t>(entry & 0xFFFF) + 4 * (fr - 1) - originRow + 4;
        if (nx < 0 || ny < 0) continue;  // left of or above the window
        int32_t c = (nx / (2 * fc)) * 2 + (nx % 2) - 1;
        int32_t r = (ny / (2 * fr)) * 2 + (ny % 2);
        if (c <= 1 || c > w + 5 || r <= 1 || r > h + 5) continue;
        if (columnMirror) c = w - c + 7;
        if (rowMirror) r = h - r + 7;
        table.push_back(static_cast<uint32_t>(c + r * (w + 8)));
    }
    // The renderer lets go of the old table under its lock; the swap keeps the
    // new one's storage where the renderer now points.
    renderer.SetDefectTable(table.data(), static_cast<uint32_t>(table.size()));
    badPixels.swap(table);
}

bool CSensorContext::BadPixelsStale(bool columnMirror, bool rowMirror) const noexcept {
    return columnMirror != mapColumnMirror || rowMirror != mapRowMirror || originColumn != m_mapOriginColumn ||
           originRow != m_mapOriginRow || ColumnFactor() != m_mapColumnFactor || RowFactor() != m_mapRowFactor;
}

}  // namespace orvo
