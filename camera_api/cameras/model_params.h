// Which parameters each model code supports, as answered before a camera is
// opened (orvo_IsParamSupported). Open cameras answer from their own tables.
#pragma once

namespace orvo {

bool ModelSupportsParam(int model, int paramId) noexcept;

}  // namespace orvo
