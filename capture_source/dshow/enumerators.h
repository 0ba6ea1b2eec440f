// Enumerators handed out by filters and pins. Each holds a reference on the
// filter whose pins or types it lists.
#pragma once
#include "capture_source/dshow/dshow.h"

namespace orvo::dshow {

class CBaseFilter;
class CBasePin;

HRESULT CreatePinEnumerator(CBaseFilter* filter, IEnumPins** out) noexcept;
HRESULT CreateMediaTypeEnumerator(CBasePin* pin, IEnumMediaTypes** out) noexcept;

}  // namespace orvo::dshow
