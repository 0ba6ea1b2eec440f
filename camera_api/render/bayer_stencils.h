// One description of each reconstruction algorithm, written once over an
// arithmetic policy O (plain integers, or 16-bit SIMD lanes) and a fetch
// function v(dy, dx) that reads the raw sample at that offset from the site.
// Every average discards its remainder; no intermediate exceeds 16 * 255, so
// 16-bit lanes give the same integers as the scalar path.
//
// Everything here has internal linkage: each backend's translation unit is
// compiled for its own instruction set and must keep its own copies.
#pragma once
#include <cstdint>

#include "camera_api/render/bayer_types.h"

#define ORVO_RENDER_INLINE inline __attribute__((always_inline))

namespace orvo::render {
namespace {

template <class V>
struct Rgb {
    V r, g, b;
};

// Plain integer arithmetic: the reference for every SIMD policy.
struct ScalarOps {
    using V = uint32_t;
    static ORVO_RENDER_INLINE V Add(V a, V b) { return a + b; }
    template <int N>
    static ORVO_RENDER_INLINE V Shr(V a) { return a >> N; }
    template <int K>
    static ORVO_RENDER_INLINE V Mul(V a) { return a * K; }
    static ORVO_RENDER_INLINE V Zero() { return 0; }
    static ORVO_RENDER_INLINE V AbsDiff(V a, V b) { return a > b ? a - b : b - a; }
    // h < v: gh; v < h: gv; equal: ga.
    static ORVO_RENDER_INLINE V PickByGradient(V h, V v, V gh, V gv, V ga) {
        return h < v ? gh : (v < h ? gv : ga);
    }
};

template <class O>
struct Stencil {
    using V = typename O::V;
    static ORVO_RENDER_INLINE V Mean2(V a, V b) { return O::template Shr<1>(O::Add(a, b)); }
    static ORVO_RENDER_INLINE V Mean4(V a, V b, V c, V d) {
        return O::template Shr<2>(O::Add(O::Add(a, b), O::Add(c, d)));
    }
    // (9a + 3b + 3c + d) / 16
    static ORVO_RENDER_INLINE V W9331(V a, V b, V c, V d) {
        return O::template Shr<4>(
            O::Add(O::Add(O::template Mul<9>(a), O::template Mul<3>(O::Add(b, c))), d));
    }
    // (6a + 3b + 3c + 2d + e + f) / 16
    static ORVO_RENDER_INLINE V W633211(V a, V b, V c, V d, V e, V f) {
        return O::template Shr<4>(O::Add(O::Add(O::template Mul<6>(a), O::template Mul<3>(O::Add(b, c))),
                                         O::Add(O::template Mul<2>(d), O::Add(e, f))));
    }
};

// The three colours of a site by role. At R and B sites: own colour, green and
// the other colour. At green sites: green, the colour of the row's other
// sites (h) and the colour of the column's other sites (v).
template <class V>
struct Roles {
    V own, green, other;
};

constexpr bool IsGreen(SiteKind k) { return k == SiteKind::Gr || k == SiteKind::Gb; }

template <class V, SiteKind K>
ORVO_RENDER_INLINE Rgb<V> FromRoles(const Roles<V>& s) {
    switch (K) {
    case SiteKind::R: return {s.own, s.green, s.other};
    case SiteKind::B: return {s.other, s.green, s.own};
    case SiteKind::Gr: return {s.own, s.green, s.other};  // own = h (red), other = v (blue)
    case SiteKind::Gb: return {s.other, s.green, s.own};  // own = h (blue), other = v (red)
    }
    return {s.own, s.green, s.other};
}

// Roles at a colour (R or B) site, for algorithms 1 to 4.
template <int A, class O, class F>
ORVO_RENDER_INLINE Roles<typename O::V> ColourSite(const F& v) {
    using S = Stencil<O>;
    if constexpr (A == kNearest) {
        return {v(0, 0), v(0, 1), v(1, 1)};
    } else if constexpr (A == kBilinear || A == kEdgeDirected) {
        const auto cross = S::Mean4(v(-1, 0), v(1, 0), v(0, -1), v(0, 1));
        const auto diag = S::Mean4(v(-1, -1), v(-1, 1), v(1, -1), v(1, 1));
        if constexpr (A == kBilinear) {
            return {v(0, 0), cross, diag};
        } else {
            const auto h = O::AbsDiff(v(0, -2), v(0, 2));
            const auto vert = O::AbsDiff(v(-2, 0), v(2, 0));
            const auto g = O::PickByGradient(h, vert, S::Mean2(v(0, -1), v(0, 1)),
                                             S::Mean2(v(-1, 0), v(1, 0)), cross);
            return {v(0, 0), g, diag};
        }
    } else {  // smooth
        return {S::W9331(v(0, 0), v(0, 2), v(2, 0), v(2, 2)),
                S::W633211(v(0, 1), v(1, 0), v(-1, 0), v(0, -1), v(1, 2), v(-1, 2)),
                S::W9331(v(1, 1), v(1, -1), v(-1, 1), v(-1, -1))};
    }
}

// Roles at a green site (own = h colour, other = v colour), algorithms 1 to 4.
template <int A, class O, class F>
ORVO_RENDER_INLINE Roles<typename O::V> GreenSite(const F& v) {
    using S = Stencil<O>;
    if constexpr (A == kNearest) {
        return {v(0, 1), v(0, 0), v(1, 0)};
    } else if constexpr (A == kBilinear || A == kEdgeDirected) {
        return {S::Mean2(v(0, -1), v(0, 1)), v(0, 0), S::Mean2(v(-1, 0), v(1, 0))};
    } else {  // smooth
        return {S::W9331(v(0, 1), v(0, -1), v(2, 1), v(2, -1)),
                S::W633211(v(0, 0), v(1, 1), v(-1, 1), v(0, 2), v(1, -1), v(-1, -1)),
                S::W9331(v(1, 0), v(-1, 0), v(1, 2), v(-1, 2))};
    }
}

// R, G, B at a site of kind K by algorithm A (0..4).
template <int A, SiteKind K, class O, class F>
ORVO_RENDER_INLINE Rgb<typename O::V> Reconstruct(const F& v) {
    using V = typename O::V;
    if constexpr (A == kRawMosaic) {
        const V z = O::Zero();
        switch (K) {
        case SiteKind::R: return {v(0, 0), z, z};
        case SiteKind::B: return {z, z, v(0, 0)};
        default: return {z, v(0, 0), z};
        }
    } else if constexpr (IsGreen(K)) {
        return FromRoles<V, K>(GreenSite<A, O>(v));
    } else {
        return FromRoles<V, K>(ColourSite<A, O>(v));
    }
}

// Luma in units of 2^-24 (0.299, 0.587, 0.114); white gives 254.
constexpr uint32_t kLumaRed = 5014709;
constexpr uint32_t kLumaGreen = 9848225;
constexpr uint32_t kLumaBlue = 1912602;

ORVO_RENDER_INLINE uint32_t Luma(uint32_t r, uint32_t g, uint32_t b) {
    return (r * kLumaRed + g * kLumaGreen + b * kLumaBlue) >> 24;
}

// Histogram index of a site kind: 0 red, 1 green, 2 blue.
constexpr int ColourIndex(SiteKind k) {
    return k == SiteKind::R ? 0 : k == SiteKind::B ? 2 : 1;
}

}  // namespace
}  // namespace orvo::render
