// Choice of a conversion routine: the instruction set is detected once; the
// routine depends on format, algorithm and phase.
#pragma once
#include "camera_api/render/bayer_types.h"

namespace orvo::render {

enum class SimdLevel { kScalar, kSse2, kAvx2 };

// The widest level this processor and operating system support.
SimdLevel BestSimdLevel() noexcept;
bool SimdLevelSupported(SimdLevel level) noexcept;

// Null for a format other than 0, 1, 2. An algorithm outside 0..5 selects
// nearest with both phase flags clear. A level the machine lacks falls back
// to the best one it has.
Converter SelectConverter(int format, int algorithm, bool columnPhase, bool rowPhase, SimdLevel level) noexcept;

// One table per instruction set (converters_*.cpp).
const ConverterTable& ScalarConverters() noexcept;
const ConverterTable& Sse2Converters() noexcept;
#if ORVO_RENDER_HAVE_AVX2
const ConverterTable& Avx2Converters() noexcept;
#endif

}  // namespace orvo::render
