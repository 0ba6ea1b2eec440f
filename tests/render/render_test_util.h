// Frames and buffers shared by the renderer suites.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "camera_api/render/bayer_types.h"

namespace orvo::test {

constexpr uint8_t kCanary = 0xCD;

inline std::vector<uint8_t> RandomFrame(int width, int height, uint32_t seed, int lo = 0, int hi = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint8_t> f(size_t(width) * height);
    for (auto& v : f) v = uint8_t(d(rng));
    return f;
}

// Few levels, so that gradients tie and edges are hard.
inline std::vector<uint8_t> LevelsFrame(int width, int height, uint32_t seed) {
    static const uint8_t levels[3] = {0, 128, 255};
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(size_t(width) * height);
    for (auto& v : f) v = levels[rng() % 3];
    return f;
}

inline std::vector<uint8_t> Uniform(int width, int height, uint8_t value) {
    return std::vector<uint8_t>(size_t(width) * height, value);
}

// Output buffer of the frame's window plus a guard tail, filled with kCanary.
inline std::vector<uint8_t> OutputBuffer(int format, int width, int height, size_t guard = 64) {
    return std::vector<uint8_t>(
        render::OutputStride(format, size_t(width - render::kBorder)) * (height - render::kBorder) + guard, kCanary);
}

inline int BytesPerPixel(int format) { return format == 0 ? 4 : format == 1 ? 3 : 1; }

}  // namespace orvo::test
