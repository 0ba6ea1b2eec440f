// The plain-integer converters: the reference the SIMD ones must equal.
#include "camera_api/render/convert_frame.h"
#include "camera_api/render/converters.h"

namespace orvo::render {

const ConverterTable& ScalarConverters() noexcept {
    static constexpr ConverterTable table = MakeConverterTable<NoSimd>();
    return table;
}

}  // namespace orvo::render
