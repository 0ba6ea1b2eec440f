// An independent, slow reference of the Bayer conversion: every output pixel
// is computed on its own, straight from the stencil tables, with no shared
// code with the renderer beyond its statistics record.
#pragma once
#include <cstdint>
#include <vector>

#include "camera_api/render/bayer_types.h"

namespace orvo::test {

struct ReferenceFrame {
    std::vector<uint8_t> pixels;  // (height - 8) rows of stride bytes; padding 0
    size_t stride = 0;
    uint32_t histRed[256] = {};
    uint32_t histGreen[256] = {};
    uint32_t histBlue[256] = {};
    uint32_t brightCount = 0;
};

// Site colour from the four documented 2x2 origin patterns.
char ReferenceColour(int column, int row, bool columnPhase, bool rowPhase);

ReferenceFrame ReferenceRender(int format, int algorithm, bool columnPhase, bool rowPhase, const uint8_t* raw,
                               int width, int height);

}  // namespace orvo::test
