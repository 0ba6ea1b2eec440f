// The video mode list the library answers for info 10: a count at byte 8,
// then entries of 8 bytes from byte 16 (width and height as 16-bit values,
// four frame rates, 0 where unused). Header-only and free of Win32: every
// client that picks a mode from the list picks it the same way.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvo {

struct VideoMode {
    int width = 0;
    int height = 0;
    int rate = 0;
};

// The entry and non-zero rate with the largest width x height x rate, the
// first among equals. False when the list is empty or no entry has a rate.
// The count comes from another process: the scan stays inside the record.
inline bool ChooseVideoMode(const uint8_t* record, size_t recordBytes, VideoMode* best) noexcept {
    constexpr size_t kCountOffset = 8, kFirstEntry = 16, kEntryBytes = 8;
    if (!record || !best || recordBytes < kFirstEntry) return false;
    int32_t count;
    std::memcpy(&count, record + kCountOffset, sizeof(count));
    if (count <= 0) return false;
    const size_t fit = (recordBytes - kFirstEntry) / kEntryBytes;
    const size_t entries = static_cast<size_t>(count) < fit ? static_cast<size_t>(count) : fit;
    bool found = false;
    int64_t bestScore = 0;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* entry = record + kFirstEntry + i * kEntryBytes;
        uint16_t width, height;
        std::memcpy(&width, entry, sizeof(width));
        std::memcpy(&height, entry + 2, sizeof(height));
        for (int r = 0; r < 4; ++r) {
            const int rate = entry[4 + r];
            if (rate == 0) continue;
            // 64-bit: a product beyond 32 bits must not win or lose by wrapping.
            const int64_t score = int64_t{rate} * height * width;
            if (!found || score > bestScore) {
                found = true;
                bestScore = score;
                *best = {width, height, rate};
            }
        }
    }
    return found;
}

}  // namespace orvo
