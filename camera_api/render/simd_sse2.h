// SSE2 vector policy of the converters: 16 output pixels per step, the even
// and odd pixels of a step as eight 16-bit lanes each. SSE2 is part of every
// processor either build runs on. Internal linkage: see bayer_stencils.h.
#pragma once
#include <emmintrin.h>

#include <cstdint>

#include "camera_api/render/bayer_stencils.h"

namespace orvo::render {
namespace {

// Luma weights split at 2^15 so that each part fits a signed 16-bit
// multiplier of pmaddwd: w = high * 2^15 + low.
constexpr int kLumaShift = 15;
constexpr int16_t LumaHigh(uint32_t w) { return static_cast<int16_t>(w >> kLumaShift); }
constexpr int16_t LumaLow(uint32_t w) { return static_cast<int16_t>(w & ((1u << kLumaShift) - 1)); }
constexpr int32_t LumaPair(int16_t a, int16_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(a)) |
                                static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16);
}

struct Sse2 {
    using V = __m128i;
    using Acc = __m128i;
    static constexpr int kBytes = 16;

    static ORVO_RENDER_INLINE V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static ORVO_RENDER_INLINE V LoBytes(V a) { return _mm_and_si128(a, _mm_set1_epi16(0xFF)); }
    static ORVO_RENDER_INLINE V HiBytes(V a) { return _mm_srli_epi16(a, 8); }
    static ORVO_RENDER_INLINE V Add(V a, V b) { return _mm_add_epi16(a, b); }
    template <int N>
    static ORVO_RENDER_INLINE V Shr(V a) { return _mm_srli_epi16(a, N); }
    template <int K>
    static ORVO_RENDER_INLINE V Mul(V a) {
        static_assert(K == 2 || K == 3 || K == 6 || K == 9, "stencil weight");
        if constexpr (K == 2) return _mm_add_epi16(a, a);
        else if constexpr (K == 3) return _mm_add_epi16(a, _mm_add_epi16(a, a));
        else if constexpr (K == 6) return _mm_slli_epi16(_mm_add_epi16(a, _mm_add_epi16(a, a)), 1);
        else return _mm_add_epi16(a, _mm_slli_epi16(a, 3));
    }
    static ORVO_RENDER_INLINE V Zero() { return _mm_setzero_si128(); }
    static ORVO_RENDER_INLINE V AbsDiff(V a, V b) { return _mm_sub_epi16(_mm_max_epi16(a, b), _mm_min_epi16(a, b)); }
    static ORVO_RENDER_INLINE V PickByGradient(V h, V v, V gh, V gv, V ga) {
        const V hLess = _mm_cmplt_epi16(h, v);
        const V vLess = _mm_cmplt_epi16(v, h);
        const V notH = _mm_or_si128(_mm_and_si128(vLess, gv), _mm_andnot_si128(vLess, ga));
        return _mm_or_si128(_mm_and_si128(hLess, gh), _mm_andnot_si128(hLess, notH));
    }
    // Even and odd lanes (0..255) back into 16 bytes in pixel order.
    static ORVO_RENDER_INLINE V Combine(V even, V odd) { return _mm_or_si128(even, _mm_slli_epi16(odd, 8)); }

    static ORVO_RENDER_INLINE V Luma4(V rg, V b0) {
        const V lo = _mm_add_epi32(
            _mm_madd_epi16(rg, _mm_set1_epi32(LumaPair(LumaLow(kLumaRed), LumaLow(kLumaGreen)))),
            _mm_madd_epi16(b0, _mm_set1_epi32(LumaPair(LumaLow(kLumaBlue), 0))));
        const V hi = _mm_add_epi32(
            _mm_madd_epi16(rg, _mm_set1_epi32(LumaPair(LumaHigh(kLumaRed), LumaHigh(kLumaGreen)))),
            _mm_madd_epi16(b0, _mm_set1_epi32(LumaPair(LumaHigh(kLumaBlue), 0))));
        return _mm_srli_epi32(_mm_add_epi32(_mm_slli_epi32(hi, kLumaShift), lo), 24);
    }
    static ORVO_RENDER_INLINE V Luma(V r, V g, V b) {
        const V z = _mm_setzero_si128();
        return _mm_packs_epi32(Luma4(_mm_unpacklo_epi16(r, g), _mm_unpacklo_epi16(b, z)),
                               Luma4(_mm_unpackhi_epi16(r, g), _mm_unpackhi_epi16(b, z)));
    }

    static ORVO_RENDER_INLINE void Store(uint8_t* d, V v) { _mm_storeu_si128(reinterpret_cast<V*>(d), v); }
    static ORVO_RENDER_INLINE void Store8(uint8_t* d, V y) { Store(d, y); }

    static ORVO_RENDER_INLINE void Store32(uint8_t* d, V b, V g, V r) {
        const V z = _mm_setzero_si128();
        const V bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
        const V r0Lo = _mm_unpacklo_epi8(r, z), r0Hi = _mm_unpackhi_epi8(r, z);
        Store(d, _mm_unpacklo_epi16(bgLo, r0Lo));
        Store(d + 16, _mm_unpackhi_epi16(bgLo, r0Lo));
        Store(d + 32, _mm_unpacklo_epi16(bgHi, r0Hi));
        Store(d + 48, _mm_unpackhi_epi16(bgHi, r0Hi));
    }

    // Four 0x00RRGGBB pixels to 12 packed bytes (bytes 12..15 zero).
    static ORVO_RENDER_INLINE V Pack12(V p) {
        const V lo24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
        const V hi24 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                     static_cast<int>(0xFF000000u));
        // Each 64-bit lane: pixel a in bytes 0..2, pixel b in bytes 3..5.
        const V six = _mm_or_si128(_mm_and_si128(p, lo24), _mm_and_si128(_mm_srli_epi64(p, 8), hi24));
        const V lowLane = _mm_set_epi32(0, 0, -1, -1);
        return _mm_or_si128(_mm_and_si128(six, lowLane), _mm_srli_si128(_mm_andnot_si128(lowLane, six), 2));
    }
    static ORVO_RENDER_INLINE void Store24(uint8_t* d, V b, V g, V r) {
        const V z = _mm_setzero_si128();
        const V bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
        const V r0Lo = _mm_unpacklo_epi8(r, z), r0Hi = _mm_unpackhi_epi8(r, z);
        const V u0 = Pack12(_mm_unpacklo_epi16(bgLo, r0Lo));
        const V u1 = Pack12(_mm_unpackhi_epi16(bgLo, r0Lo));
        const V u2 = Pack12(_mm_unpacklo_epi16(bgHi, r0Hi));
        const V u3 = Pack12(_mm_unpackhi_epi16(bgHi, r0Hi));
        Store(d, _mm_or_si128(u0, _mm_slli_si128(u1, 12)));
        Store(d + 16, _mm_or_si128(_mm_srli_si128(u1, 4), _mm_slli_si128(u2, 8)));
        Store(d + 32, _mm_or_si128(_mm_srli_si128(u2, 8), _mm_slli_si128(u3, 4)));
    }

    static ORVO_RENDER_INLINE Acc AccZero() { return _mm_setzero_si128(); }
    // Adds the pixels whose three channels all exceed the bright threshold.
    static ORVO_RENDER_INLINE void CountBright(Acc& acc, V b, V g, V r) {
        const V t = _mm_set1_epi8(static_cast<char>(kBrightOutput + 1));
        const V mb = _mm_cmpeq_epi8(_mm_max_epu8(b, t), b);
        const V mg = _mm_cmpeq_epi8(_mm_max_epu8(g, t), g);
        const V mr = _mm_cmpeq_epi8(_mm_max_epu8(r, t), r);
        const V ones = _mm_and_si128(_mm_and_si128(mb, mg), _mm_and_si128(mr, _mm_set1_epi8(1)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(ones, _mm_setzero_si128()));
    }
    static ORVO_RENDER_INLINE uint32_t AccTotal(Acc acc) {
        alignas(16) uint64_t lanes[2];
        _mm_store_si128(reinterpret_cast<V*>(lanes), acc);
        return static_cast<uint32_t>(lanes[0] + lanes[1]);
    }
};

}  // namespace
}  // namespace orvo::render
