#include "capture_source/filter/camera_pins.h"

#include <cstring>

#include "capture_source/filter/frame_format.h"
#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {
namespace {

constexpr int kInfoSize = 1, kInfoModes = 10;
constexpr int kParamFrameRate = 17;

}  // namespace

// --- general kind -------------------------------------------------------------

HRESULT CGeneralCameraPin::QueryFormat(int handle, int* sourceWidth, int* sourceHeight, int* outputWidth,
                                       int* outputHeight) {
    uint8_t record[kInfoRecordBytes];
    VideoMode mode;
    if (ReadInfo(handle, kInfoModes, record) == ORVO_OK && ChooseVideoMode(record, sizeof(record), &mode)) {
        m_frameRate = static_cast<uint32_t>(mode.rate);
        *sourceWidth = *outputWidth = mode.width;
        *sourceHeight = *outputHeight = mode.height;
        return S_OK;
    }
    const int32_t result = ReadInfo(handle, kInfoSize, record);
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        return E_FAIL;
    }
    int width = 0, height = 0;
    GeneralSizeFromInfo(record, &width, &height);
    *sourceWidth = *outputWidth = width;
    *sourceHeight = *outputHeight = height;
    return S_OK;
}

HRESULT CGeneralCameraPin::ConfigureCamera(int handle, int) {
    if (m_frameRate == 0) return S_OK;
    SetParamFn setParam;
    UpdateParamsFn updateParams;
    if (!BindSettings(&setParam, &updateParams)) return E_FAIL;
    int rate = static_cast<int>(m_frameRate);
    const int32_t result = setParam(handle, -1, kParamFrameRate, &rate);
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, result, rate);
        return S_OK;
    }
    return UpdateSettings(updateParams, handle);
}

HRESULT CGeneralCameraPin::CopyFrame(const uint8_t* frame, const BITMAPINFOHEADER& source, uint8_t* sample) {
    if (!frame || !sample) return E_INVALIDARG;
    CopyFlipped(frame, sample, source.biWidth, source.biHeight);
    return S_OK;
}

// --- cedar kind ---------------------------------------------------------------

HRESULT CCedarCameraPin::QueryFormat(int handle, int* sourceWidth, int* sourceHeight, int* outputWidth,
                                     int* outputHeight) {
    uint8_t record[kInfoRecordBytes];
    const int32_t result = ReadInfo(handle, kInfoSize, record);
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        return E_FAIL;
    }
    int32_t width = 0, height = 0;
    std::memcpy(&width, record + 4, sizeof(width));
    std::memcpy(&height, record + 8, sizeof(height));
    const int a = width / 2, b = height / 2;
    *sourceWidth = a;
    *sourceHeight = b;
    *outputWidth = b;
    *outputHeight = a;
    return S_OK;
}

HRESULT CCedarCameraPin::ConfigureCamera(int handle, int bufferIndex) {
    SetParamFn setParam;
    UpdateParamsFn updateParams;
    if (!BindSettings(&setParam, &updateParams)) return E_FAIL;
    struct Setting {
        bool perBuffer;
        int param;
        int value;
    };
    static constexpr Setting kSettings[] = {{false, 15, 0}, {false, 14, 0},  {true, 32, 2},   {false, 1, 14},
                                            {false, 2, 10}, {false, 3, 20},  {false, 29, 150}, {false, 38, 84},
                                            {false, 9, 1},  {false, 10, 1},  {false, 48, 20},  {false, 49, 30}};
    for (const Setting& s : kSettings) {
        int value = s.value;
        const int32_t result = setParam(handle, s.perBuffer ? bufferIndex : -1, s.param, &value);
        if (result == ORVO_OK) continue;
        // Some models have no parameter 9; the camera streams without it.
        if (s.param == 9 && result == ORVO_E_BAD_PARAM) {
            ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, s.param, result);
            continue;
        }
        if (s.param == 48 || s.param == 49) {
            ZEL_TRACE(ZelProviderB(), kZelLevelError, kTraceFlags, s.param, result);
        } else {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, s.param, result);
        }
        return E_FAIL;
    }
    return UpdateSettings(updateParams, handle);
}

HRESULT CCedarCameraPin::CopyFrame(const uint8_t* frame, const BITMAPINFOHEADER& source, uint8_t* sample) {
    if (!frame || !sample) return E_INVALIDARG;
    CopyTurned(frame, sample, source.biWidth, source.biHeight);
    return S_OK;
}

}  // namespace orvo::capture
