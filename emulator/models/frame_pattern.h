// The picture an emulated camera sends: packed 24-bit BGR rows, top row
// first. Every row carries the frame counter (pixel 0) and its own row number
// (pixel 1), so a reader can tell fresh frames from repeated ones, see a
// frame turned upside down, and find a frame mixed from two. The rest is a
// moving checkerboard that a person recognises in a saved picture.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::emu {

constexpr uint8_t kRowMarker = 0xA5;

// Rewrites the counter and row number of every row of a painted frame.
inline void StampPatternFrame(uint8_t* pixels, uint32_t width, uint32_t rows, size_t stride, uint32_t counter) {
    if (width < 2) return;
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* row = pixels + y * stride;
        row[0] = uint8_t(counter), row[1] = uint8_t(counter >> 8), row[2] = uint8_t(counter >> 16);
        row[3] = uint8_t(y), row[4] = uint8_t(y >> 8), row[5] = kRowMarker;
    }
}

inline void FillPatternFrame(uint8_t* pixels, uint32_t width, uint32_t rows, size_t stride, uint32_t counter) {
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* row = pixels + y * stride;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = row + 3 * size_t(x);
            const bool light = (((x + counter * 4) / 32) + (y / 32)) & 1;
            p[0] = uint8_t(x + counter);
            p[1] = uint8_t(y);
            p[2] = light ? 0xF0 : 0x30;
        }
    }
    StampPatternFrame(pixels, width, rows, stride, counter);
}

enum class PatternCheck { Ok, NotAPattern, UpsideDown, Torn };

// Reads a frame back (rows as stored, first row in memory first).
inline PatternCheck CheckPatternFrame(const uint8_t* pixels, uint32_t rows, size_t stride, uint32_t* counter) {
    if (rows == 0) return PatternCheck::NotAPattern;
    auto rowCounter = [&](uint32_t y) {
        const uint8_t* r = pixels + y * stride;
        return uint32_t(r[0]) | uint32_t(r[1]) << 8 | uint32_t(r[2]) << 16;
    };
    auto rowNumber = [&](uint32_t y) {
        const uint8_t* r = pixels + y * stride;
        return r[5] == kRowMarker ? int64_t(r[3] | r[4] << 8) : -1;
    };
    *counter = rowCounter(0);
    if (rowNumber(0) < 0) return PatternCheck::NotAPattern;
    if (rows > 1 && rowNumber(0) == int64_t((rows - 1) & 0xFFFF)) return PatternCheck::UpsideDown;
    for (uint32_t y = 0; y < rows; ++y) {
        if (rowNumber(y) != int64_t(y & 0xFFFF)) return PatternCheck::NotAPattern;
        if (rowCounter(y) != *counter) return PatternCheck::Torn;
    }
    return PatternCheck::Ok;
}

}  // namespace orvo::emu
