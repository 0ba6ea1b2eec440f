#include "watchdog/proxy/frame_geometry.h"

#include <algorithm>
#include <cstring>

namespace orvo::watchdog {
namespace {

int32_t ReadInt32(const uint8_t* p) noexcept {
    int32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

uint16_t ReadUInt16(const uint8_t* p) noexcept {
    uint16_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

bool SizeAcceptable(int64_t width, int64_t height) noexcept {
    return width > 0 && height > 0 && static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 <= kMaxFrameBytes;
}

}  // namespace

bool GeometryFromModeList(const uint8_t* record, size_t recordBytes, FrameGeometry& geometry) noexcept {
    if (!record || recordBytes < kModeListFirstEntry) return false;
    const int32_t count = ReadInt32(record + 8);
    if (count <= 0) return false;
    // The count comes from another process: never walk past the record.
    size_t modes = static_cast<size_t>(count);
    const size_t fit = (recordBytes - kModeListFirstEntry) / kModeEntryBytes;
    if (modes > fit) modes = fit;

    int64_t best = 0;
    int bestWidth = 0, bestHeight = 0, bestRate = 0;
    for (size_t i = 0; i < modes; ++i) {
        const uint8_t* entry = record + kModeListFirstEntry + i * kModeEntryBytes;
        const int width = ReadUInt16(entry);
        const int height = ReadUInt16(entry + 2);
        for (int r = 0; r < 4; ++r) {
            const int rate = entry[4 + r];
            if (rate == 0) continue;
            // 64-bit products: 65535 x 65535 x 255 does not fit 32 bits.
            const int64_t score = int64_t{width} * height * rate;
            if (score > best) {
                best = score;
                bestWidth = width;
                bestHeight = height;
                bestRate = rate;
            }
        }
    }
    if (best == 0 || !SizeAcceptable(bestWidth, bestHeight)) return false;
    geometry = FrameGeometry{};
    geometry.sourceWidth = geometry.outputWidth = bestWidth;
    geometry.sourceHeight = geometry.outputHeight = bestHeight;
    geometry.frameRate = bestRate;
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
