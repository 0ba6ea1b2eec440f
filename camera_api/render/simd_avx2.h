// AVX2 vector policy of the converters: 32 output pixels per step. Only the
// AVX2 translation unit includes this, and the converters it builds are used
// only when the processor and the operating system support AVX2. All
// operations stay within 128-bit lanes except the final stores, which put
// the lanes back in pixel order. Internal linkage: see bayer_stencils.h.
#pragma once
#include <immintrin.h>

#include <cstdint>

#include "camera_api/render/simd_sse2.h"

namespace orvo::render {
namespace {

// pshufb masks that spread 16 B, G or R bytes over 48 bytes of BGR triples:
// block k, channel c, byte i takes source byte (16k + i) / 3 when
// (16k + i) % 3 == c, else zero. Repeated for both lanes.
struct Bgr24Masks {
    alignas(32) uint8_t m[3][3][32];
    constexpr Bgr24Masks() : m{} {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 32; ++i) {
                    const int j = 16 * k + (i & 15);
                    m[k][c][i] = static_cast<uint8_t>(j % 3 == c ? j / 3 : 0x80);
                }
    }
};
constexpr Bgr24Masks kBgr24Masks{};

struct Avx2 {
    using V = __m256i;
    using Acc = __m256i;
    static constexpr int kBytes = 32;

    static ORVO_RENDER_INLINE V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static ORVO_RENDER_INLINE V LoBytes(V a) { return _mm256_and_si256(a, _mm256_set1_epi16(0xFF)); }
    static ORVO_RENDER_INLINE V HiBytes(V a) { return _mm256_srli_epi16(a, 8); }
    static ORVO_RENDER_INLINE V Add(V a, V b) { return _mm256_add_epi16(a, b); }
    template <int N>
    static ORVO_RENDER_INLINE V Shr(V a) { return _mm256_srli_epi16(a, N); }
    template <int K>
    static ORVO_RENDER_INLINE V Mul(V a) {
        static_assert(K == 2 || K == 3 || K == 6 || K == 9, "stencil weight");
        if constexpr (K == 2) return _mm256_add_epi16(a, a);
        else if constexpr (K == 3) return _mm256_add_epi16(a, _mm256_add_epi16(a, a));
        else if constexpr (K == 6) return _mm256_slli_epi16(_mm256_add_epi16(a, _mm256_add_epi16(a, a)), 1);
        else return _mm256_add_epi16(a, _mm256_slli_epi16(a, 3));
    }
    static ORVO_RENDER_INLINE V Zero() { return _mm256_setzero_si256(); }
    static ORVO_RENDER_INLINE V AbsDiff(V a, V b) {
        return _mm256_sub_epi16(_mm256_max_epi16(a, b), _mm256_min_epi16(a, b));
    }
    static ORVO_RENDER_INLINE V PickByGradient(V h, V v, V gh, V gv, V ga) {
        const V hLess = _mm256_cmpgt_epi16(v, h);
        const V vLess = _mm256_cmpgt_epi16(h, v);
        return _mm256_blendv_epi8(_mm256_blendv_epi8(ga, gv, vLess), gh, hLess);
    }
    static ORVO_RENDER_INLINE V Combine(V even, V odd) { return _mm256_or_si256(even, _mm256_slli_epi16(odd, 8)); }

    static ORVO_RENDER_INLINE V Luma8(V rg, V b0) {
        const V lo = _mm256_add_epi32(
            _mm256_madd_epi16(rg, _mm256_set1_epi32(LumaPair(LumaLow(kLumaRed), LumaLow(kLumaGreen)))),
            _mm256_madd_epi16(b0, _mm256_set1_epi32(LumaPair(LumaLow(kLumaBlue), 0))));
        const V hi = _mm256_add_epi32(
            _mm256_madd_epi16(rg, _mm256_set1_epi32(LumaPair(LumaHigh(kLumaRed), LumaHigh(kLumaGreen)))),
            _mm256_madd_epi16(b0, _mm256_set1_epi32(LumaPair(LumaHigh(kLumaBlue), 0))));
        return _mm256_srli_epi32(_mm256_add_epi32(_mm256_slli_epi32(hi, kLumaShift), lo), 24);
    }
    static ORVO_RENDER_INLINE V Luma(V r, V g, V b) {
        const V z = _mm256_setzero_si256();
        return _mm256_packs_epi32(Luma8(_mm256_unpacklo_epi16(r, g), _mm256_unpacklo_epi16(b, z)),
                                  Luma8(_mm256_unpackhi_epi16(r, g), _mm256_unpackhi_epi16(b, z)));
    }

    static ORVO_RENDER_INLINE void Store(uint8_t* d, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(d), v); }
    static ORVO_RENDER_INLINE void Store8(uint8_t* d, V y) { Store(d, y); }

    static ORVO_RENDER_INLINE void Store32(uint8_t* d, V b, V g, V r) {
        const V z = _mm256_setzero_si256();
        const V bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);
        const V r0Lo = _mm256_unpacklo_epi8(r, z), r0Hi = _mm256_unpackhi_epi8(r, z);
        const V q0 = _mm256_unpacklo_epi16(bgLo, r0Lo), q1 = _mm256_unpackhi_epi16(bgLo, r0Lo);
        const V q2 = _mm256_unpacklo_epi16(bgHi, r0Hi), q3 = _mm256_unpackhi_epi16(bgHi, r0Hi);
        Store(d, _mm256_permute2x128_si256(q0, q1, 0x20));
        Store(d + 32, _mm256_permute2x128_si256(q2, q3, 0x20));
        Store(d + 64, _mm256_permute2x128_si256(q0, q1, 0x31));
        Store(d + 96, _mm256_permute2x128_si256(q2, q3, 0x31));
    }

    static ORVO_RENDER_INLINE V Mask(int k, int c) {
        return _mm256_load_si256(reinterpret_cast<const V*>(kBgr24Masks.m[k][c]));
    }
    static ORVO_RENDER_INLINE V Block(int k, V b, V g, V r) {
        return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, Mask(k, 0)), _mm256_shuffle_epi8(g, Mask(k, 1))),
                               _mm256_shuffle_epi8(r, Mask(k, 2)));
    }
    static ORVO_RENDER_INLINE void Store24(uint8_t* d, V b, V g, V r) {
        // Xk holds block k of each lane's 48 bytes.
        const V x0 = Block(0, b, g, r), x1 = Block(1, b, g, r), x2 = Block(2, b, g, r);
        Store(d, _mm256_permute2x128_si256(x0, x1, 0x20));
        Store(d + 32, _mm256_permute2x128_si256(x2, x0, 0x30));
        Store(d + 64, _mm256_permute2x128_si256(x1, x2, 0x31));
    }

    static ORVO_RENDER_INLINE Acc AccZero() { return _mm256_setzero_si256(); }
    static ORVO_RENDER_INLINE void CountBright(Acc& acc, V b, V g, V r) {
        const V t = _mm256_set1_epi8(static_cast<char>(kBrightOutput + 1));
        const V mb = _mm256_cmpeq_epi8(_mm256_max_epu8(b, t), b);
        const V mg = _mm256_cmpeq_epi8(_mm256_max_epu8(g, t), g);
        const V mr = _mm256_cmpeq_epi8(_mm256_max_epu8(r, t), r);
        const V ones = _mm256_and_si256(_mm256_and_si256(mb, mg), _mm256_and_si256(mr, _mm256_set1_epi8(1)));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(ones, _mm256_setzero_si256()));
    }
    static ORVO_RENDER_INLINE uint32_t AccTotal(Acc acc) {
        alignas(32) uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<V*>(lanes), acc);
        return static_cast<uint32_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
    }
};

}  // namespace
}  // namespace orvo::render
