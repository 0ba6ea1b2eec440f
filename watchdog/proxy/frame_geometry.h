// Sizes and pixel mapping of the frames a feeder writes to the proxy, chosen
// from the camera's info records. No Win32 here.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::watchdog {

// Info records are read into buffers of this many bytes.
constexpr size_t kInfoRecordBytes = 4100;
// A frame above this is refused: the record's sizes come from another
// process and must not overflow the 32-bit byte counts of the writes.
constexpr uint64_t kMaxFrameBytes = 0x40000000;

enum class FrameTransform { Identity, QuarterTurn };

struct FrameGeometry {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    int frameRate = 0;  // 0: none to set
    FrameTransform transform = FrameTransform::Identity;

    uint32_t SourceBytes() const noexcept { return static_cast<uint32_t>(sourceWidth) * sourceHeight * 3; }
    uint32_t OutputBytes() const noexcept { return static_cast<uint32_t>(outputWidth) * outputHeight * 3; }
};

// The mode list (info 10), chosen as every client chooses (ChooseVideoMode);
// false when none is offered or its frame would be too large.
bool GeometryFromModeList(const uint8_t* record, size_t recordBytes, FrameGeometry& geometry) noexcept;
// Info 1 of a general camera without a mode list: halved above 720 wide.
bool GeometryFromGeneralInfo(int32_t width, int32_t height, FrameGeometry& geometry) noexcept;
// Info 1 of a raw-sensor camera: halved, then turned by a quarter.
bool GeometryFromCedarInfo(int32_t width, int32_t height, FrameGeometry& geometry) noexcept;

// Copies one library frame (rows sourceStride bytes apart, memory order)
// into the packed output buffer.
void TransformFrame(const FrameGeometry& geometry, const uint8_t* source, size_t sourceStride,
                    uint8_t* output) noexcept;

// Bytes per row of a 24-bit DIB: rounded up to four.
inline size_t DibStride(int width) noexcept { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

}  // namespace orvo::watchdog
