#include "camera_api/render/bayer8_render.h"

#include <cstring>
#include <new>

#include "camera_api/render/converters.h"

namespace orvo {

namespace {

uint32_t HistogramMean(const uint32_t (&hist)[256]) {
    // 64-bit sums: a large frame of bright samples exceeds 32 bits.
    uint64_t sum = 0, count = 0;
    for (uint32_t v = 0; v < 256; ++v) {
        sum += static_cast<uint64_t>(v) * hist[v];
        count += hist[v];
    }
    return count == 0 ? 0 : static_cast<uint32_t>(sum / count);
}

}  // namespace

CBayer8Render::CBayer8Render() noexcept : m_pairs(new (std::nothrow) render::PairCounts()) {}
CBayer8Render::~CBayer8Render() = default;

void CBayer8Render::SetOutputFormat(int32_t format) noexcept { Store(m_outputFormat, format); }
void CBayer8Render::SetAlgorithm(int32_t algorithm) noexcept { Store(m_algorithm, algorithm); }
void CBayer8Render::SetColumnPhase(int32_t flag) noexcept { Store(m_columnPhase, flag); }
void CBayer8Render::SetRowPhase(int32_t flag) noexcept { Store(m_rowPhase, flag); }

void CBayer8Render::Store(int32_t& setting, int32_t value) noexcept {
    if (value != setting) {
        setting = value;
        m_dirty = 1;
    }
}

void CBayer8Render::SetDefectCorrection(int32_t on) noexcept {
    if (on != m_defectCorrection) {
        render::RenderLockGuard guard(m_lock);
        m_defectCorrection = on;
    }
}

void CBayer8Render::SetDefectTable(const uint32_t* offsets, uint32_t count) noexcept {
    render::RenderLockGuard guard(m_lock);
    m_defectOffsets = offsets;
    m_defectCount = offsets ? count : 0;
}

int CBayer8Render::UpdateConverter() noexcept {
    if (!m_dirty) return 0;
    m_dirty = 0;
    const render::Converter converter = render::SelectConverter(
        m_outputFormat, m_algorithm, m_columnPhase != 0, m_rowPhase != 0, render::BestSimdLevel());
    render::RenderLockGuard guard(m_lock);
    m_converter = converter;
    return 1;
}

bool CBayer8Render::Render(void* destination, uint8_t* raw, int width, int height) noexcept {
    // The converters step over pixel pairs and read two samples beyond the window.
    if (!destination || !raw || width < render::kMinFrameSide || height < render::kMinFrameSide ||
        (width & 1) || (height & 1))
        return false;
    render::Converter converter;
    {
        // The repair reads the table under the lock: once SetDefectTable has
        // returned, the owner may free the table it replaced.
        render::RenderLockGuard guard(m_lock);
        converter = m_converter;
        if (!converter || !m_pairs) return false;
        if (m_defectCorrection != 0 && m_defectCount != 0)
            RepairDefects(raw, width, height, m_defectOffsets, m_defectCount);
    }
    std::memset(&m_stats, 0, sizeof m_stats);
    converter(static_cast<uint8_t*>(destination), raw, width, height, &m_stats, m_pairs.get());
    m_lastBrightCount = m_stats.brightCount;
    return true;
}

void CBayer8Render::RepairDefects(uint8_t* raw, int width, int height, const uint32_t* offsets,
                                  uint32_t count) noexcept {
    const size_t pitch = static_cast<size_t>(width);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = offsets[i];
        const size_t column = o % pitch, row = o / pitch;
        // An entry whose neighbours would leave the frame is skipped.
        if (column < 2 || column + 2 >= pitch || row < 2 || row + 2 >= static_cast<size_t>(height)) continue;
        raw[o] = static_cast<uint8_t>(
            (raw[o - 2 * pitch] + raw[o + 2 * pitch] + raw[o - 2] + raw[o + 2]) / 4);
    }
}

uint32_t CBayer8Render::GetMeanRed() const noexcept { return HistogramMean(m_stats.histRed); }
uint32_t CBayer8Render::GetMeanGreen() const noexcept { return HistogramMean(m_stats.histGreen); }
uint32_t CBayer8Render::GetMeanBlue() const noexcept { return HistogramMean(m_stats.histBlue); }

}  // namespace orvo
