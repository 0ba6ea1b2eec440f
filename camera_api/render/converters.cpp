#include "camera_api/render/converters.h"

namespace orvo::render {

bool SimdLevelSupported(SimdLevel level) noexcept {
    switch (level) {
    case SimdLevel::kScalar:
    case SimdLevel::kSse2:
        return true;
    case SimdLevel::kAvx2:
#if ORVO_RENDER_HAVE_AVX2
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    }
    return false;
}

SimdLevel BestSimdLevel() noexcept {
    static const SimdLevel best = SimdLevelSupported(SimdLevel::kAvx2) ? SimdLevel::kAvx2 : SimdLevel::kSse2;
    return best;
}

Converter SelectConverter(int format, int algorithm, bool columnPhase, bool rowPhase, SimdLevel level) noexcept {
    if (format < 0 || format >= kFormatCount) return nullptr;
    if (!SimdLevelSupported(level)) level = BestSimdLevel();
    const ConverterTable* table = &ScalarConverters();
    if (level == SimdLevel::kSse2) table = &Sse2Converters();
#if ORVO_RENDER_HAVE_AVX2
    if (level == SimdLevel::kAvx2) table = &Avx2Converters();
#endif
    if (algorithm == kMonochrome) return table->mono[format];
    if (algorithm < 0 || algorithm > kMonochrome) {
        algorithm = kNearest;
        columnPhase = rowPhase = false;
    }
    return table->phased[format][algorithm][(rowPhase ? 2 : 0) + (columnPhase ? 1 : 0)];
}

}  // namespace orvo::render
