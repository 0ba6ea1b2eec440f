// The picture a feeder writes while another process has the camera: the
// placeholder bitmap centred on its own corner colour, as packed BGR rows
// from the top of the picture down.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

namespace orvo::watchdog {

// Fills frame (width x height x 3 bytes); the Win32 error as HRESULT on failure.
HRESULT RenderPlaceholder(HBITMAP placeholder, int width, int height, std::vector<uint8_t>& frame) noexcept;

}  // namespace orvo::watchdog
