// Shared vocabulary of the Bayer renderer: formats, algorithms, site kinds,
// frame geometry and the statistics a conversion leaves behind.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::render {

// Pixel-format codes of the API's frame buffers.
enum OutputFormat : int32_t {
    kFormat32 = 0,  // little-endian uint32 R << 16 | G << 8 | B
    kFormat24 = 1,  // B, G, R bytes
    kFormatGrey = 2,
};
constexpr int kFormatCount = 3;

enum Algorithm : int32_t {
    kRawMosaic = 0,
    kNearest = 1,
    kBilinear = 2,
    kSmooth = 3,
    kEdgeDirected = 4,
    kMonochrome = 5,
};
constexpr int kPhasedAlgorithmCount = 5;  // 0..4 depend on the Bayer phase

// R, green in a red row, green in a blue row, B.
enum class SiteKind { R, Gr, Gb, B };

// The window: output (x, y) is raw site (x + 3, y + 4); 8 columns and rows fewer.
constexpr int kWindowLeft = 3;
constexpr int kWindowTop = 4;
constexpr int kBorder = 8;
constexpr int kMinFrameSide = 10;

// Bright thresholds of the statistics.
constexpr uint32_t kBrightRaw = 240;     // monochrome: raw samples above this
constexpr uint32_t kBrightOutput = 224;  // bilinear 24-bit: all of R, G, B above this

struct RenderStats {
    uint32_t histRed[256];
    uint32_t histGreen[256];
    uint32_t histBlue[256];
    uint32_t brightCount;
};

// Scratch counts of horizontal sample pairs (first | second << 8), one table
// for even and one for odd output rows: one increment per two samples, folded
// into the histograms at the end of the frame. Zero between frames.
struct PairCounts {
    uint32_t n[2][65536];
};

// Converts the window of a raw frame (width x height, pitch = width) and
// fills stats, which the caller has zeroed. pairs must be zero on
// entry and is left zero.
using Converter = void (*)(uint8_t* destination, const uint8_t* raw, int width, int height,
                           RenderStats* stats, PairCounts* pairs);

// The 63 routines of one instruction set.
struct ConverterTable {
    Converter phased[kFormatCount][kPhasedAlgorithmCount][4];  // [format][algorithm][rowPhase * 2 + columnPhase]
    Converter mono[kFormatCount];
};

// Bytes per output row for an output width w; 0 for an unknown format.
constexpr size_t OutputStride(int format, size_t w) {
    return format == kFormat32 ? 4 * w
         : format == kFormat24 ? (3 * w + 3) & ~size_t{3}
         : format == kFormatGrey ? (w + 3) & ~size_t{3}
         : 0;
}

// Colour of raw site (column, row) for the two phase flags (0 or 1).
constexpr SiteKind KindAt(int column, int row, int columnPhase, int rowPhase) {
    const int c = (column + columnPhase) & 1;
    const int r = (row + rowPhase) & 1;
    return r == 0 ? (c == 0 ? SiteKind::R : SiteKind::Gr) : (c == 0 ? SiteKind::Gb : SiteKind::B);
}

}  // namespace orvo::render
