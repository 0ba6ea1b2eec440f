// Built with AVX2 enabled; reached only through SelectConverter, which checks
// the processor first.
#include "camera_api/render/convert_frame.h"
#include "camera_api/render/converters.h"
#include "camera_api/render/simd_avx2.h"

namespace orvo::render {

const ConverterTable& Avx2Converters() noexcept {
    static constexpr ConverterTable table = MakeConverterTable<Avx2>();
    return table;
}

}  // namespace orvo::render
