#include "emulator/models/video_modes.h"

#include <cstdlib>

namespace orvo::emu {
namespace {

// A decimal number in [1, max] at the start of text; advances past it.
bool Number(const char*& text, uint32_t max, uint32_t* value) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (n == 0 || n > max) return false;
    *value = uint32_t(n);
    text = end;
    return true;
}

}  // namespace

bool VideoModes::Parse(const std::string& text, VideoModes& out) {
    VideoModes modes;
    const char* p = text.c_str();
    while (*p) {
        uint32_t width, height, set = 0;
        if (!Number(p, 0xFFFF, &width) || *p++ != 'x' || !Number(p, 0xFFFF, &height)) return false;
        if (*p == '@') {
            size_t count = 0;
            do {
                uint32_t rate;
                ++p;
                if (count == kMaxRates || !Number(p, 255, &rate)) return false;
                set |= rate << (8 * count++);
            } while (*p == '/');
        }
        if (*p == ',') ++p;
        else if (*p) return false;
        if (modes.sizes.size() == kMaxModes) return false;
        modes.sizes.push_back(height << 16 | width);
        modes.rates.push_back(set);
    }
    out = std::move(modes);
    return true;
}

std::string VideoModes::Format() const {
    std::string text;
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (i) text += ',';
        text += std::to_string(sizes[i] & 0xFFFF) + 'x' + std::to_string(sizes[i] >> 16);
        const uint32_t set = i < rates.size() ? rates[i] : 0;
        for (int b = 0; b < 4 && (set >> (8 * b)) & 0xFF; ++b) {
            text += (b ? '/' : '@') + std::to_string((set >> (8 * b)) & 0xFF);
        }
    }
    return text;
}

}  // namespace orvo::emu
