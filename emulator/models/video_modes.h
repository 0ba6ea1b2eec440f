// The video modes an emulated camera with its own processor offers, as a
// description gives them: "640x480@30/15,1280x720@30" lists each mode's
// width x height and, after '@', up to four frame rates separated by '/'.
// The camera reports each mode as one uint32 (width low, height high) and
// its rates as one uint32 of four bytes, a rate per byte from the lowest,
// 0 where there is none. Pure logic.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::emu {

struct VideoModes {
    static constexpr size_t kMaxModes = 16;
    static constexpr size_t kMaxRates = 4;
    std::vector<uint32_t> sizes;   // height << 16 | width
    std::vector<uint32_t> rates;   // one rate set per size

    // False (and out unchanged) for text that is not a list of modes.
    static bool Parse(const std::string& text, VideoModes& out);
    std::string Format() const;
};

}  // namespace orvo::emu
