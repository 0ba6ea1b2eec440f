#include "camera_api/render/convert_frame.h"
#include "camera_api/render/converters.h"
#include "camera_api/render/simd_sse2.h"

namespace orvo::render {

const ConverterTable& Sse2Converters() noexcept {
    static constexpr ConverterTable table = MakeConverterTable<Sse2>();
    return table;
}

}  // namespace orvo::render
