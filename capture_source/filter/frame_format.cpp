#include "capture_source/filter/frame_format.h"

#include <cstring>

namespace orvo::capture {
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

constexpr size_t kModeCountOffset = 8;
constexpr size_t kModesOffset = 16;
constexpr size_t kModeBytes = 8;

}  // namespace

bool ChooseVideoMode(const uint8_t* record, size_t recordBytes, VideoMode* best) noexcept {
    if (!record || !best || recordBytes < kModesOffset) return false;
    const int32_t count = ReadInt32(record + kModeCountOffset);
    if (count <= 0) return false;
    const size_t fit = (recordBytes - kModesOffset) / kModeBytes;
    const size_t entries = size_t(count) < fit ? size_t(count) : fit;
    bool found = false;
    int64_t bestScore = 0;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* entry = record + kModesOffset + i * kModeBytes;
        const int width = ReadUInt16(entry), height = ReadUInt16(entry + 2);
        for (int r = 0; r < 4; ++r) {
            const int rate = entry[4 + r];
            if (rate == 0) continue;
            // 64-bit: a product that overflows 32 bits must not win by wrapping.
            const int64_t score = int64_t(rate) * height * width;
            if (!found || score > bestScore) {
                found = true;
                bestScore = score;
                *best = {width, height, rate};
            }
        }
    }
    return found;
}

void GeneralSizeFromInfo(const uint8_t* record, int* width, int* height) noexcept {
    int w = ReadInt32(record + 4), h = ReadInt32(record + 8);
    if (w > 720) {
        w /= 2;
        h /= 2;
    }
    *width = w;
    *height = h;
}

void CopyFlipped(const uint8_t* frame, uint8_t* sample, int width, int height) noexcept {
    const size_t stride = size_t(DibStride(width));
    for (int r = 0; r < height; ++r) {
        std::memcpy(sample + size_t(height - 1 - r) * stride, frame + size_t(r) * stride, stride);
    }
}

void CopyTurned(const uint8_t* frame, uint8_t* sample, int a, int b) noexcept {
    const size_t frameStride = size_t(DibStride(a));
    const size_t sampleStride = size_t(DibStride(b));
    for (int i = 0; i < a; ++i) {
        uint8_t* out = sample + size_t(i) * sampleStride;
        const uint8_t* column = frame + size_t(a - 1 - i) * 3;
        for (int j = 0; j < b; ++j) {
            const uint8_t* in = column + size_t(b - 1 - j) * frameStride;
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out += 3;
        }
    }
}

}  // namespace orvo::capture
