#include "watchdog/proxy/frame_geometry.h"

#include <algorithm>
#include <cstring>

#include "camera_api/api/video_modes.h"

namespace orvo::watchdog {
namespace {

bool SizeAcceptable(int64_t width, int64_t height) noexcept {
    return width > 0 && height > 0 && static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 <= kMaxFrameBytes;
}

}  // namespace

bool GeometryFromModeList(const uint8_t* record, size_t recordBytes, FrameGeometry& geometry) noexcept {
    VideoMode best;
    if (!ChooseVideoMode(record, recordBytes, &best) || !SizeAcceptable(best.width, best.height)) return false;
    geometry = FrameGeometry{};
    geometry.sourceWidth = geometry.outputWidth = best.width;
    geometry.sourceHeight = geometry.outputHeight = best.height;
    geometry.frameRate = best.rate;
    return true;
}

bool GeometryFromGeneralInfo(int32_t width, int32_t height, FrameGeometry& geometry) noexcept {
    if (width > 720) {
        width /= 2;
        height /= 2;
    }
    if (!SizeAcceptable(width, height)) return false;
    geometry = FrameGeometry{};
    geometry.sourceWidth = geometry.outputWidth = width;
    geometry.sourceHeight = geometry.outputHeight = height;
    return true;
}

bool GeometryFromCedarInfo(int32_t width, int32_t height, FrameGeometry& geometry) noexcept {
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    if (!SizeAcceptable(halfWidth, halfHeight)) return false;
    geometry = FrameGeometry{};
    geometry.sourceWidth = halfWidth;
    geometry.sourceHeight = halfHeight;
    geometry.outputWidth = halfHeight;
    geometry.outputHeight = halfWidth;
    geometry.transform = FrameTransform::QuarterTurn;
    return true;
}

void TransformFrame(const FrameGeometry& g, const uint8_t* source, size_t sourceStride, uint8_t* output) noexcept {
    const size_t outRow = static_cast<size_t>(g.outputWidth) * 3;
    if (g.transform == FrameTransform::Identity) {
        for (int i = 0; i < g.outputHeight; ++i) {
            std::memcpy(output + i * outRow, source + i * sourceStride, outRow);
        }
        return;
    }
    // Output (column j, row i) takes source (x = i, y = source height - 1 - j).
    // Square tiles keep both the rows read and the rows written in the cache;
    // walking whole columns would touch a new output row with every pixel.
    constexpr int kTile = 32;
    for (int i0 = 0; i0 < g.outputHeight; i0 += kTile) {
        const int i1 = std::min(i0 + kTile, g.outputHeight);
        for (int j0 = 0; j0 < g.outputWidth; j0 += kTile) {
            const int j1 = std::min(j0 + kTile, g.outputWidth);
            for (int i = i0; i < i1; ++i) {
                uint8_t* dst = output + static_cast<size_t>(i) * outRow + static_cast<size_t>(j0) * 3;
                const uint8_t* src =
                    source + static_cast<size_t>(g.sourceHeight - 1 - j0) * sourceStride + static_cast<size_t>(i) * 3;
                // Pixels move as four bytes: the fourth is the next pixel's, written
                // again after. Not for a row's last pixel (the next row's first is
                // done) nor the source's last column (its row may end there).
                const int wide = i + 1 < g.outputHeight ? std::min(j1, g.outputWidth - 1) : j0;
                int j = j0;
                for (; j < wide; ++j, dst += 3, src -= sourceStride) {
                    uint32_t pixel;
                    std::memcpy(&pixel, src, 4);
                    std::memcpy(dst, &pixel, 4);
                }
                for (; j < j1; ++j, dst += 3, src -= sourceStride) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                }
            }
        }
    }
}

}  // namespace orvo::watchdog
