// Picture sizes and pixel copies of the capture pin: pure logic, no Win32,
// so it also builds natively. Frames and samples are 24-bit DIBs whose rows
// are padded to 4 bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera_api/api/video_modes.h"

namespace orvo::capture {

constexpr size_t kInfoRecordBytes = 4100;

inline constexpr int DibStride(int width, int bitCount = 24) noexcept { return ((width * bitCount + 31) / 32) * 4; }
inline constexpr int64_t DibImageSize(int width, int height, int bitCount = 24) noexcept {
    return int64_t(DibStride(width, bitCount)) * height;
}

// The best entry of a video mode list record (info 10), read as every
// client of the library reads it.
using orvo::ChooseVideoMode;
using orvo::VideoMode;

// The general kind's size from info 1 (width at 4, height at 8): both
// halved when wider than 720.
void GeneralSizeFromInfo(const uint8_t* record, int* width, int* height) noexcept;

// Frame rows (top row first in memory) to a bottom-up sample: row r goes to
// row height - 1 - r. Both sides use the DIB stride.
void CopyFlipped(const uint8_t* frame, uint8_t* sample, int width, int height) noexcept;

// The cedar kind's quarter turn: a source of a x b pixels (rows in memory
// order) to a sample b wide and a high; sample row i, column j takes source
// pixel x = a - 1 - i, y = b - 1 - j.
void CopyTurned(const uint8_t* frame, uint8_t* sample, int a, int b) noexcept;

}  // namespace orvo::capture
