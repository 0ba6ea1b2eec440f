// The converters, generated from the stencil descriptions: one frame routine
// per (vector policy, format, algorithm, phase). Each row holds a fixed pair
// of site kinds; a row is converted two output pixels per step (a SIMD step
// covers VO::kBytes pixels, the rest of the row goes pair by pair with the
// same stencils on plain integers). Its raw samples are counted as pairs
// inside the same steps, so that the scalar increments run beside the vector
// arithmetic, and the pair counts become the histograms at the end.
//
// VO is a vector policy (simd_sse2.h, simd_avx2.h) or NoSimd. Internal
// linkage throughout: see bayer_stencils.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "camera_api/render/bayer_stencils.h"
#include "camera_api/render/bayer_types.h"

namespace orvo::render {
namespace {

struct NoSimd {
    static constexpr int kBytes = 0;
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pair indices assume little-endian loads");

// Counts the w samples (w even) of a row as pairs.
ORVO_RENDER_INLINE void CountPairs(const uint8_t* s, int w, uint32_t* table) {
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        uint64_t q;
        std::memcpy(&q, s + x, 8);
        ++table[q & 0xFFFF];
        ++table[(q >> 16) & 0xFFFF];
        ++table[(q >> 32) & 0xFFFF];
        ++table[q >> 48];
    }
    for (; x < w; x += 2) ++table[s[x] | s[x + 1] << 8];
}

// Adds a pair table to the histograms of its first and second samples and
// clears it for the next frame.
inline void FoldPairs(uint32_t* table, uint32_t* first, uint32_t* second) {
    for (int hi = 0; hi < 256; ++hi) {
        uint32_t* row = table + hi * 256;
        uint32_t sum = 0;
        for (int lo = 0; lo < 256; ++lo) {
            const uint32_t n = row[lo];
            first[lo] += n;
            sum += n;
            row[lo] = 0;
        }
        second[hi] += sum;
    }
}

template <int F, int A>
ORVO_RENDER_INLINE void PutPixel(uint8_t* out, int x, const Rgb<uint32_t>& c, uint32_t raw,
                                 uint32_t& bright) {
    if constexpr (F == kFormatGrey) {
        out[x] = static_cast<uint8_t>(A == kRawMosaic ? raw : Luma(c.r, c.g, c.b));
    } else {
        uint8_t* p = out + (F == kFormat24 ? 3 : 4) * x;
        p[0] = static_cast<uint8_t>(c.b);
        p[1] = static_cast<uint8_t>(c.g);
        p[2] = static_cast<uint8_t>(c.r);
        if constexpr (F == kFormat32) p[3] = 0;
        if constexpr (F == kFormat24 && A == kBilinear)
            bright += (c.r > kBrightOutput) & (c.g > kBrightOutput) & (c.b > kBrightOutput);
    }
}

struct ScalarFetch {
    const uint8_t* p;
    ptrdiff_t pitch;
    ORVO_RENDER_INLINE uint32_t operator()(int dy, int dx) const { return p[dy * pitch + dx]; }
};

template <int F, int A, SiteKind K0, SiteKind K1>
ORVO_RENDER_INLINE void ScalarPairs(uint8_t* out, const uint8_t* site, ptrdiff_t pitch, int x, int w,
                                    uint32_t& bright) {
    for (; x < w; x += 2) {
        const ScalarFetch f0{site + x, pitch};
        const ScalarFetch f1{site + x + 1, pitch};
        PutPixel<F, A>(out, x, Reconstruct<A, K0, ScalarOps>(f0), f0(0, 0), bright);
        PutPixel<F, A>(out, x + 1, Reconstruct<A, K1, ScalarOps>(f1), f1(0, 0), bright);
    }
}

// Lane i of a fetch holds the sample of output pixel 2i (even) or 2i + 1 (odd)
// of the step: the low or high byte of one unaligned load.
template <class VO, bool kOdd>
struct LaneFetch {
    const uint8_t* p;
    ptrdiff_t pitch;
    ORVO_RENDER_INLINE typename VO::V operator()(int dy, int dx) const {
        const auto v = VO::Load(p + dy * pitch + dx);
        if constexpr (kOdd) return VO::HiBytes(v);
        else return VO::LoBytes(v);
    }
};

// Converts whole SIMD steps of a row and counts their samples; returns the
// pixels done.
template <class VO, int F, int A, SiteKind K0, SiteKind K1>
ORVO_RENDER_INLINE int SimdPairs(uint8_t* out, const uint8_t* site, ptrdiff_t pitch, int w,
                                 typename VO::Acc& bright, uint32_t* pairs) {
    constexpr int N = VO::kBytes;
    int x = 0;
    for (; x + N <= w; x += N) {
        const uint8_t* p = site + x;
        CountPairs(p, N, pairs);
        if constexpr (F == kFormatGrey && A == kRawMosaic) {
            VO::Store8(out + x, VO::Load(p));
        } else {
            const LaneFetch<VO, false> fe{p, pitch};
            const LaneFetch<VO, true> fo{p, pitch};
            const auto e = Reconstruct<A, K0, VO>(fe);
            const auto o = Reconstruct<A, K1, VO>(fo);
            if constexpr (F == kFormatGrey) {
                VO::Store8(out + x, VO::Combine(VO::Luma(e.r, e.g, e.b), VO::Luma(o.r, o.g, o.b)));
            } else {
                const auto b = VO::Combine(e.b, o.b);
                const auto g = VO::Combine(e.g, o.g);
                const auto r = VO::Combine(e.r, o.r);
                if constexpr (F == kFormat24) {
                    VO::Store24(out + 3 * x, b, g, r);
                    if constexpr (A == kBilinear) VO::CountBright(bright, b, g, r);
                } else {
                    VO::Store32(out + 4 * x, b, g, r);
                }
            }
        }
    }
    return x;
}

template <class VO, int F, int A, SiteKind K0, SiteKind K1, class Acc>
ORVO_RENDER_INLINE void ConvertRow(uint8_t* out, const uint8_t* site, ptrdiff_t pitch, int w,
                                   uint32_t* pairs, Acc& vbright, uint32_t& bright) {
    int x = 0;
    if constexpr (VO::kBytes > 0) x = SimdPairs<VO, F, A, K0, K1>(out, site, pitch, w, vbright, pairs);
    ScalarPairs<F, A, K0, K1>(out, site, pitch, x, w, bright);
    CountPairs(site + x, w - x, pairs);
}

template <class VO>
struct BrightAcc {
    typename VO::Acc acc = VO::AccZero();
    uint32_t Total() const { return VO::AccTotal(acc); }
};
template <>
struct BrightAcc<NoSimd> {
    int acc = 0;
    uint32_t Total() const { return 0; }
};

inline uint32_t* Histogram(RenderStats* stats, SiteKind k) {
    const int c = ColourIndex(k);
    return c == 0 ? stats->histRed : c == 1 ? stats->histGreen : stats->histBlue;
}

// Algorithms 0..4 for one format and phase (CP, RP are 0 or 1).
template <class VO, int F, int A, int CP, int RP>
void ConvertFrame(uint8_t* dst, const uint8_t* raw, int width, int height, RenderStats* stats,
                  PairCounts* pairs) {
    // Output column 0 is raw column 3 (odd); output row y has the parity of raw row y + 4.
    constexpr SiteKind kEven0 = KindAt(kWindowLeft, 0, CP, RP), kEven1 = KindAt(kWindowLeft + 1, 0, CP, RP);
    constexpr SiteKind kOdd0 = KindAt(kWindowLeft, 1, CP, RP), kOdd1 = KindAt(kWindowLeft + 1, 1, CP, RP);
    const int w = width - kBorder, h = height - kBorder;
    const ptrdiff_t pitch = width;
    const size_t stride = OutputStride(F, static_cast<size_t>(w));
    BrightAcc<VO> vbright;
    uint32_t bright = 0;
    const uint8_t* site = raw + kWindowTop * pitch + kWindowLeft;
    for (int y = 0; y < h; y += 2, site += 2 * pitch, dst += 2 * stride) {
        ConvertRow<VO, F, A, kEven0, kEven1>(dst, site, pitch, w, pairs->n[0], vbright.acc, bright);
        ConvertRow<VO, F, A, kOdd0, kOdd1>(dst + stride, site + pitch, pitch, w, pairs->n[1], vbright.acc, bright);
    }
    FoldPairs(pairs->n[0], Histogram(stats, kEven0), Histogram(stats, kEven1));
    FoldPairs(pairs->n[1], Histogram(stats, kOdd0), Histogram(stats, kOdd1));
    stats->brightCount = bright + vbright.Total();
}

// Algorithm 5: the raw value is the grey level, whatever the phase. Every
// sample counts in all three histograms, so one histogram is kept and copied.
template <class VO, int F>
void ConvertMono(uint8_t* dst, const uint8_t* raw, int width, int height, RenderStats* stats,
                 PairCounts* pairs) {
    const int w = width - kBorder, h = height - kBorder;
    const ptrdiff_t pitch = width;
    const size_t stride = OutputStride(F, static_cast<size_t>(w));
    const uint8_t* site = raw + kWindowTop * pitch + kWindowLeft;
    for (int y = 0; y < h; ++y, site += pitch, dst += stride) {
        int x = 0;
        if constexpr (VO::kBytes > 0) {
            for (; x + VO::kBytes <= w; x += VO::kBytes) {
                CountPairs(site + x, VO::kBytes, pairs->n[0]);
                const auto v = VO::Load(site + x);
                if constexpr (F == kFormatGrey) VO::Store8(dst + x, v);
                else if constexpr (F == kFormat24) VO::Store24(dst + 3 * x, v, v, v);
                else VO::Store32(dst + 4 * x, v, v, v);
            }
        }
        CountPairs(site + x, w - x, pairs->n[0]);
        for (; x < w; ++x) {
            const uint8_t v = site[x];
            if constexpr (F == kFormatGrey) {
                dst[x] = v;
            } else {
                uint8_t* p = dst + (F == kFormat24 ? 3 : 4) * x;
                p[0] = p[1] = p[2] = v;
                if constexpr (F == kFormat32) p[3] = 0;
            }
        }
    }
    FoldPairs(pairs->n[0], stats->histGreen, stats->histGreen);
    uint32_t bright = 0;
    for (int v = 0; v < 256; ++v) {
        stats->histRed[v] = stats->histBlue[v] = stats->histGreen[v];
        if (static_cast<uint32_t>(v) > kBrightRaw) bright += stats->histGreen[v];
    }
    stats->brightCount = bright;
}

template <class VO, int F, int A>
constexpr void FillPhases(ConverterTable& t) {
    t.phased[F][A][0] = &ConvertFrame<VO, F, A, 0, 0>;
    t.phased[F][A][1] = &ConvertFrame<VO, F, A, 1, 0>;
    t.phased[F][A][2] = &ConvertFrame<VO, F, A, 0, 1>;
    t.phased[F][A][3] = &ConvertFrame<VO, F, A, 1, 1>;
}

template <class VO, int F>
constexpr void FillFormat(ConverterTable& t) {
    FillPhases<VO, F, kRawMosaic>(t);
    FillPhases<VO, F, kNearest>(t);
    FillPhases<VO, F, kBilinear>(t);
    FillPhases<VO, F, kSmooth>(t);
    FillPhases<VO, F, kEdgeDirected>(t);
    t.mono[F] = &ConvertMono<VO, F>;
}

template <class VO>
constexpr ConverterTable MakeConverterTable() {
    ConverterTable t{};
    FillFormat<VO, kFormat32>(t);
    FillFormat<VO, kFormat24>(t);
    FillFormat<VO, kFormatGrey>(t);
    return t;
}

}  // namespace
}  // namespace orvo::render
