// Converts raw 8-bit Bayer frames into 32-bit, 24-bit or grey pixels, with
// optional in-place repair of listed defective pixels and per-colour
// histograms for the exposure control.
//
// Threading: the setters and UpdateConverter run on the owner's parameter
// thread, Render on the capture thread; the lock covers the hand-over of the
// converter, the defect switch and the defect table, and the defect repair
// (so a replaced table is free once SetDefectTable returns). The statistics are
// written by Render and read between frames on the capture thread.
#pragma once
#include <cstdint>
#include <memory>

#include "camera_api/render/bayer_types.h"
#include "camera_api/render/render_lock.h"

namespace orvo {

class CBayer8Render {
public:
    CBayer8Render() noexcept;
    virtual ~CBayer8Render();
    CBayer8Render(const CBayer8Render&) = delete;
    CBayer8Render& operator=(const CBayer8Render&) = delete;

    void SetOutputFormat(int32_t format) noexcept;
    void SetAlgorithm(int32_t algorithm) noexcept;
    void SetColumnPhase(int32_t flag) noexcept;
    void SetRowPhase(int32_t flag) noexcept;
    void SetDefectCorrection(int32_t on) noexcept;
    // The table stays owned by the caller, who may free the one it replaces
    // once this returns.
    void SetDefectTable(const uint32_t* offsets, uint32_t count) noexcept;

    // Chooses the converter when a setting changed since the last choice:
    // returns 1 then, 0 when nothing was stale.
    int UpdateConverter() noexcept;

    // Converts a width x height raw frame (width is the pitch) into
    // destination, which holds (height - 8) rows of OutputStride bytes.
    // Returns false, changing nothing, without a converter or for a frame the
    // converters cannot take (a side below 10, an odd side, null pointers).
    // Defect repair changes raw in place.
    bool Render(void* destination, uint8_t* raw, int width, int height) noexcept;

    uint32_t GetMeanRed() const noexcept;
    uint32_t GetMeanGreen() const noexcept;
    uint32_t GetMeanBlue() const noexcept;
    uint32_t GetBrightCount() const noexcept { return m_lastBrightCount; }

    const render::RenderStats& Statistics() const noexcept { return m_stats; }

private:
    // Stores a converter setting; a change makes the converter stale.
    void Store(int32_t& setting, int32_t value) noexcept;
    void RepairDefects(uint8_t* raw, int width, int height, const uint32_t* offsets, uint32_t count) noexcept;

    render::RenderLock m_lock;
    render::Converter m_converter = nullptr;
    int32_t m_outputFormat = render::kFormat32;
    const uint32_t* m_defectOffsets = nullptr;
    uint32_t m_defectCount = 0;
    int32_t m_algorithm = render::kSmooth;
    int32_t m_columnPhase = 0;
    int32_t m_rowPhase = 0;
    int32_t m_dirty = 1;
    int32_t m_defectCorrection = 0;
    render::RenderStats m_stats{};
    uint32_t m_lastBrightCount = 0;
    // Counting scratch of the converters, made once (512 KB); null when that failed.
    std::unique_ptr<render::PairCounts> m_pairs;
};

}  // namespace orvo
