#include "capture_source/filter/frame_format.h"

#include <cstring>

namespace orvo::capture {
namespace {

int32_t ReadInt32(const uint8_t* p) noexcept {
    int32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

}  // namespace

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
