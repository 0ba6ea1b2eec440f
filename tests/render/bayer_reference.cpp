#include "bayer_reference.h"

#include <cstdlib>

namespace orvo::test {
namespace {

struct Tap {
    int weight, dy, dx;
};
using Taps = std::vector<Tap>;

// site: 0 R, 1 Gr, 2 Gb, 3 B; channel: 0 R, 1 G, 2 B.
const Taps& NearestTaps(int site, int channel) {
    static const Taps t[4][3] = {
        {{{1, 0, 0}}, {{1, 0, 1}}, {{1, 1, 1}}},  // R
        {{{1, 0, 1}}, {{1, 0, 0}}, {{1, 1, 0}}},  // Gr
        {{{1, 1, 0}}, {{1, 0, 0}}, {{1, 0, 1}}},  // Gb
        {{{1, 1, 1}}, {{1, 0, 1}}, {{1, 0, 0}}},  // B
    };
    return t[site][channel];
}

const Taps& BilinearTaps(int site, int channel) {
    static const Taps own = {{1, 0, 0}};
    static const Taps cross = {{1, -1, 0}, {1, 1, 0}, {1, 0, -1}, {1, 0, 1}};
    static const Taps diag = {{1, -1, -1}, {1, -1, 1}, {1, 1, -1}, {1, 1, 1}};
    static const Taps horiz = {{1, 0, -1}, {1, 0, 1}};
    static const Taps vert = {{1, -1, 0}, {1, 1, 0}};
    static const Taps* t[4][3] = {
        {&own, &cross, &diag},   // R
        {&horiz, &own, &vert},   // Gr
        {&vert, &own, &horiz},   // Gb
        {&diag, &cross, &own},   // B
    };
    return *t[site][channel];
}

const Taps& SmoothTaps(int site, int channel) {
    static const Taps t[4][3] = {
        {{{9, 0, 0}, {3, 0, 2}, {3, 2, 0}, {1, 2, 2}},
         {{6, 0, 1}, {3, 1, 0}, {3, -1, 0}, {2, 0, -1}, {1, 1, 2}, {1, -1, 2}},
         {{9, 1, 1}, {3, 1, -1}, {3, -1, 1}, {1, -1, -1}}},
        {{{9, 0, 1}, {3, 0, -1}, {3, 2, 1}, {1, 2, -1}},
         {{6, 0, 0}, {3, 1, 1}, {3, -1, 1}, {2, 0, 2}, {1, 1, -1}, {1, -1, -1}},
         {{9, 1, 0}, {3, -1, 0}, {3, 1, 2}, {1, -1, 2}}},
        {{{9, 1, 0}, {3, -1, 0}, {3, 1, 2}, {1, -1, 2}},
         {{6, 0, 0}, {3, 1, 1}, {3, -1, 1}, {2, 0, 2}, {1, 1, -1}, {1, -1, -1}},
         {{9, 0, 1}, {3, 0, -1}, {3, 2, 1}, {1, 2, -1}}},
        {{{9, 1, 1}, {3, 1, -1}, {3, -1, 1}, {1, -1, -1}},
         {{6, 0, 1}, {3, 1, 0}, {3, -1, 0}, {2, 0, -1}, {1, 1, 2}, {1, -1, 2}},
         {{9, 0, 0}, {3, 0, 2}, {3, 2, 0}, {1, 2, 2}}},
    };
    return t[site][channel];
}

uint32_t Apply(const Taps& taps, const uint8_t* raw, int width, int c, int r) {
    uint32_t sum = 0, weights = 0;
    for (const Tap& t : taps) {
        sum += t.weight * raw[(r + t.dy) * width + c + t.dx];
        weights += t.weight;
    }
    return sum / weights;
}

int SiteIndex(char colour, int row, bool rowPhase) {
    if (colour == 'R') return 0;
    if (colour == 'B') return 3;
    // Green in a row whose other sites are red?
    const bool redRow = ReferenceColour(0, row, false, rowPhase) == 'R' ||
                        ReferenceColour(1, row, false, rowPhase) == 'R';
    return redRow ? 1 : 2;
}

}  // namespace

char ReferenceColour(int column, int row, bool columnPhase, bool rowPhase) {
    static const char* patterns[4] = {"RGGB", "GRBG", "GBRG", "BGGR"};  // TL TR BL BR
    const char* p = patterns[(columnPhase ? 1 : 0) + (rowPhase ? 2 : 0)];
    return p[(row & 1) * 2 + (column & 1)];
}

ReferenceFrame ReferenceRender(int format, int algorithm, bool columnPhase, bool rowPhase, const uint8_t* raw,
                               int width, int height) {
    ReferenceFrame f;
    const int w = width - 8, h = height - 8;
    const int bytes = format == 0 ? 4 : format == 1 ? 3 : 1;
    f.stride = format == 0 ? 4 * w : ((bytes * w + 3) / 4) * 4;
    f.pixels.assign(f.stride * h, 0);
    if (algorithm < 0 || algorithm > 5) {
        algorithm = 1;
        columnPhase = rowPhase = false;
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int c = x + 3, r = y + 4;
            const uint32_t v = raw[r * width + c];
            const char colour = ReferenceColour(c, r, columnPhase, rowPhase);
            const int site = SiteIndex(colour, r, rowPhase);
            uint32_t rgb[3] = {0, 0, 0};
            uint32_t grey = v;
            if (algorithm == 5) {
                rgb[0] = rgb[1] = rgb[2] = v;
                f.histRed[v]++;
                f.histGreen[v]++;
                f.histBlue[v]++;
                if (v > 240) f.brightCount++;
            } else {
                (colour == 'R' ? f.histRed : colour == 'B' ? f.histBlue : f.histGreen)[v]++;
                for (int ch = 0; ch < 3; ++ch) {
                    switch (algorithm) {
                    case 0: rgb[ch] = (ch == (colour == 'R' ? 0 : colour == 'G' ? 1 : 2)) ? v : 0; break;
                    case 1: rgb[ch] = Apply(NearestTaps(site, ch), raw, width, c, r); break;
                    case 2:
                    case 4: rgb[ch] = Apply(BilinearTaps(site, ch), raw, width, c, r); break;
                    case 3: rgb[ch] = Apply(SmoothTaps(site, ch), raw, width, c, r); break;
                    }
                }
                if (algorithm == 4 && colour != 'G') {
                    auto at = [&](int dy, int dx) { return int(raw[(r + dy) * width + c + dx]); };
                    const int gh = std::abs(at(0, -2) - at(0, 2)), gv = std::abs(at(-2, 0) - at(2, 0));
                    if (gh < gv) rgb[1] = (at(0, -1) + at(0, 1)) / 2;
                    else if (gv < gh) rgb[1] = (at(-1, 0) + at(1, 0)) / 2;
                }
                if (algorithm != 0)
                    grey = (rgb[0] * 5014709u + rgb[1] * 9848225u + rgb[2] * 1912602u) >> 24;
                if (algorithm == 2 && format == 1 && rgb[0] > 224 && rgb[1] > 224 && rgb[2] > 224)
                    f.brightCount++;
            }
            uint8_t* p = &f.pixels[y * f.stride + x * bytes];
            if (format == 2) {
                p[0] = uint8_t(grey);
            } else {
                p[0] = uint8_t(rgb[2]);
                p[1] = uint8_t(rgb[1]);
                p[2] = uint8_t(rgb[0]);
            }
        }
    }
    return f;
}

}  // namespace orvo::test
