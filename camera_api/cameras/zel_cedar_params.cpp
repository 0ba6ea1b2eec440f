// Parameters, buffer sets and register programming of the raw-sensor camera.
#include <algorithm>

#include "camera_api/cameras/sensor/sensor_timing.h"
#include "camera_api/cameras/zel_cedar.h"
#include "camera_api/transport/device.h"

namespace orvo {
namespace {

using win32::CriticalSectionLock;

constexpr int kRenderGrey = 5;
constexpr int kStillRenderMode = 4;

int32_t Range(ParamRange* r, int32_t min, int32_t max, int32_t step = 1) {
    r->min = min;
    r->max = max;
    r->step = step;
    return ORVO_OK;
}

// Largest field-of-view value: how many times the window fits across the sensor.
int32_t LargestFactor(int32_t sensorWidth, int32_t width) {
    int32_t m = width > 0 ? sensorWidth / width : 1;
    if (m >= 5) m = 4;
    else if (m == 3) m = 2;
    return std::max(m, 1);
}

// The factor for a field-of-view value; a factor whose rows would run past
// the sensor is not usable, so it is lowered until the window fits.
int32_t FactorForView(const SensorGeometry& sensor, const CSensorContext& ctx, int32_t view) {
    if (view == 3) view = 2;
    int32_t factor = std::max(LargestFactor(sensor.width, ctx.EvenWidth()) / std::max(view, 1), 1);
    while (factor > 1 && ctx.EvenHeight() * factor > sensor.height) --factor;
    return factor;
}

}  // namespace

CSensorContext* CZelCedar::VideoContext() {
    BufferSet* set = Rings().Allocated(m_videoSet);
    return set ? static_cast<CSensorContext*>(set->context) : nullptr;
}

void CZelCedar::ProgramWindow(CSensorContext& ctx) {
    ctx.ProgramWindow(m_desired, m_sensor, m_columnMirror, m_rowMirror);
}

// Only the video set's geometry belongs in the registers the camera streams
// with: a still set's would ride on the next frame request and change the
// video frames' size and window.
void CZelCedar::ProgramSet(CSensorContext& ctx, bool video) {
    if (video) {
        ProgramContext(ctx);
        m_videoRowTime = ctx.rowTime;
        return;
    }
    SensorRegisters scratch = m_desired;
    ctx.ProgramBinning(scratch, m_skipping);
    ctx.ProgramTiming(scratch, TimingSettings{m_pixelPeriodPs, m_frameRate, m_exposure, m_maxExposure});
    ctx.ProgramWindow(scratch, m_sensor, m_columnMirror, m_rowMirror);
}

void CZelCedar::PlaceWindow(CSensorContext& ctx, bool video) {
    if (video) {
        ProgramWindow(ctx);
        return;
    }
    SensorRegisters scratch = m_desired;
    ctx.ProgramWindow(scratch, m_sensor, m_columnMirror, m_rowMirror);
}

void CZelCedar::ProgramContext(CSensorContext& ctx) {
    ctx.ProgramBinning(m_desired, m_skipping);
    TimingSettings timing{m_pixelPeriodPs, m_frameRate, m_exposure, m_maxExposure};
    m_exposure = ctx.ProgramTiming(m_desired, timing);
    ProgramWindow(ctx);
}

int32_t CZelCedar::HighestRate() {
    CSensorContext* ctx = VideoContext();
    return ctx ? HighestFrameRate(m_mains, ctx->rowTime, ctx->EvenHeight()) : HighestFrameRate(m_mains, 0, 0);
}

void CZelCedar::ApplyFrameRate(int32_t rate) {
    if (rate == m_frameRate) return;
    m_frameRate = rate;
    m_maxExposure = FramePeriod(rate);
    m_exposure = std::min(m_exposure, m_maxExposure);
    if (CSensorContext* ctx = VideoContext()) {
        ProgramContext(*ctx);
        m_videoRowTime = ctx->rowTime;
    }
}

void CZelCedar::ApplyPixelClock(int32_t mhz) {
    m_pixelClock = mhz <= 24 ? 24 : 48;
    m_pixelPeriodPs = 1000000 / m_pixelClock;
    m_desired.value[kRegPllConfig] = kPllConfig;
    m_desired.value[kRegPllDivider] = static_cast<uint16_t>(PllOutputDivider(m_pixelClock) - 1);
    if (CSensorContext* ctx = VideoContext()) {
        ProgramContext(*ctx);
        m_videoRowTime = ctx->rowTime;
    }
}

void CZelCedar::ReencodeGains(GainMode mode) {
    const SensorGains g = Gains();
    m_digitalGain = mode.digital;
    m_gainDoubling = mode.doubling;
    SetGains(g);
}

int32_t CZelCedar::CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height, int frameCount,
                                int* bufferIndex) {
    if (bufferIndex) *bufferIndex = -1;
    if (!bufferIndex) return ORVO_E_BAD_ARG;
    CriticalSectionLock buffers(Rings().Lock());
    if (kind > 1 || kind < 0) return ORVO_E_BAD_BUFFER;
    if ((kind == kBufferKindVideo && m_videoSet >= 0) || (kind == kBufferKindStill && m_stillSet >= 0))
        return ORVO_E_BUSY;
    if (pixelFormat < 0 || pixelFormat > 2) return ORVO_E_BAD_FORMAT;
    // A window needs room for the renderer's stencils.
    if (width < 2 || width > m_sensor.width || height < 2 || height > m_sensor.height) return ORVO_E_OUT_OF_RANGE;
    auto* ctx = new (std::nothrow) CSensorContext(width, height);
    if (!ctx) return ORVO_E_OUT_OF_MEMORY;
    // A new set starts with the widest view, as parameter 6 set to 1 gives it.
    const int32_t factor = FactorForView(m_sensor, *ctx, 1);
    ctx->columnFactorMinus1 = ctx->rowFactorMinus1 = factor - 1;
    {
        CriticalSectionLock registers(m_registerLock);
        if (kind == kBufferKindStill) {
            ctx->x = (m_sensor.width - width) / 2;
            ctx->y = (m_sensor.height - height) / 2;
            ctx->renderMode = kStillRenderMode;
        }
        ProgramSet(*ctx, kind == kBufferKindVideo);
        if (m_hasBadPixels) ctx->BuildBadPixels(m_badPixels, m_columnMirror, m_rowMirror);
    }
    const int32_t created = CZelCamera::CreateBuffer(kind, pixelFormat, reserved, width, height, frameCount, bufferIndex);
    if (created != ORVO_OK) {
        delete ctx;
        return created;
    }
    Rings().At(*bufferIndex).context = ctx;
    (kind == kBufferKindVideo ? m_videoSet : m_stillSet) = *bufferIndex;
    if (kind == kBufferKindVideo) {
        m_lastBrightCount.store(0);
        CriticalSectionLock registers(m_registerLock);
        m_videoRowTime = ctx->rowTime;
        const int32_t highest = HighestRate();
        if (highest < m_frameRate) ApplyFrameRate(highest);
    }
    // 32-bit sets are rendered as 32-bit pixels: grey bytes would fill only a quarter of each row.
    ctx->renderer.SetOutputFormat(pixelFormat);
    return ORVO_OK;
}

int32_t CZelCedar::DeleteBuffer(int bufferIndex) {
    CriticalSectionLock buffers(Rings().Lock());
    BufferSet* set = Rings().Allocated(bufferIndex);
    auto* ctx = set ? static_cast<CSensorContext*>(set->context) : nullptr;
    const int32_t result = CZelCamera::DeleteBuffer(bufferIndex);
    if (result != ORVO_OK) return result;
    Rings().At(bufferIndex).context = nullptr;
    delete ctx;
    if (bufferIndex == m_videoSet) {
        m_videoSet = -1;
        m_lastBrightCount.store(0);
        CriticalSectionLock registers(m_registerLock);
        m_videoRowTime = 0;
    }
    if (bufferIndex == m_stillSet) m_stillSet = -1;
    return ORVO_OK;
}

int32_t CZelCedar::SetFramePos(int bufferIndex, int x, int y) {
    CriticalSectionLock api(m_apiLock);
    CriticalSectionLock buffers(Rings().Lock());
    BufferSet* set = Rings().Allocated(bufferIndex);
    if (!set || !set->context) return ORVO_E_BAD_BUFFER;
    auto* ctx = static_cast<CSensorContext*>(set->context);
    CriticalSectionLock registers(m_registerLock);
    ctx->x = std::clamp(x, 0, ctx->MaxX(m_sensor));
    ctx->y = std::clamp(y, 0, ctx->MaxY(m_sensor));
    PlaceWindow(*ctx, bufferIndex == m_videoSet);
    return ORVO_OK;
}

// --- per-buffer parameters ---------------------------------------------------------

int32_t CZelCedar::GetBufferParam(BufferSet& set, int paramId, int* value) {
    auto* ctx = static_cast<CSensorContext*>(set.context);
    if (!ctx) return ORVO_E_BAD_PARAM;
    switch (paramId) {
    case 6: *value = LargestFactor(m_sensor.width, ctx->EvenWidth()) / ctx->ColumnFactor(); return ORVO_OK;
    case 7: *value = ctx->MaxX(m_sensor); return ORVO_OK;
    case 8: *value = ctx->MaxY(m_sensor); return ORVO_OK;
    case 32: *value = ctx->renderMode; return ORVO_OK;
    default: return ORVO_E_BAD_PARAM;
    }
}

int32_t CZelCedar::GetBufferParamRange(BufferSet& set, int paramId, ParamRange* range) {
    auto* ctx = static_cast<CSensorContext*>(set.context);
    if (!ctx) return ORVO_E_BAD_PARAM;
    switch (paramId) {
    case 6:
        Range(range, 1, LargestFactor(m_sensor.width, ctx->EvenWidth()), 0);
        range->extra = 2;
        return ORVO_OK;
    case 7: return Range(range, 0, m_sensor.width / ctx->ColumnFactor() - 2, 2);
    case 8: return Range(range, 0, m_sensor.height / ctx->RowFactor() - 2, 2);
    case 32: return Range(range, 0, 5);
    default: return ORVO_E_BAD_PARAM;
    }
}

int32_t CZelCedar::SetBufferParam(BufferSet& set, int paramId, int value) {
    auto* ctx = static_cast<CSensorContext*>(set.context);
    if (!ctx) return ORVO_E_BAD_PARAM;
    switch (paramId) {
    case 6: {
        const int32_t factor = FactorForView(m_sensor, *ctx, value);
        CriticalSectionLock registers(m_registerLock);
        ctx->columnFactorMinus1 = ctx->rowFactorMinus1 = factor - 1;
        ctx->x = std::min(ctx->x, ctx->MaxX(m_sensor));
        ctx->y = std::min(ctx->y, ctx->MaxY(m_sensor));
        ProgramSet(*ctx, ctx == VideoContext());
        return ORVO_OK;
    }
    case 7:
    case 8: return ORVO_E_READ_ONLY;
    case 32: {
        // Applied at once: the render mode changes no register, so no echo
        // would ever bring it into the capture thread's rendering.
        CriticalSectionLock registers(m_registerLock);
        ctx->renderMode = (!m_variant && value > 0) ? kRenderGrey : value;
        ctx->renderer.SetAlgorithm(ctx->renderMode);
        ctx->renderer.UpdateConverter();
        return ORVO_OK;
    }
    default: return ORVO_E_BAD_PARAM;
    }
}

// --- camera-wide parameters ---------------------------------------------------------

int32_t CZelCedar::GetCameraParam(int paramId, int* value) {
    CriticalSectionLock registers(m_registerLock);
    const CSensorRegulation& r = m_regulation;
    const SensorGains g = Gains();
    switch (paramId) {
    case 0: *value = static_cast<int>((m_exposure + 500) / 1000); return ORVO_OK;
    case 1: *value = g.red; return ORVO_OK;
    case 2: *value = g.green; return ORVO_OK;
    case 3: *value = g.blue; return ORVO_OK;
    case 9: if (!m_variant) return ORVO_E_BAD_PARAM; *value = r.autoBalance; return ORVO_OK;
    case 10: *value = r.autoExposure && r.autoGain; return ORVO_OK;
    case 11: *value = r.autoExposure; return ORVO_OK;
    case 12: *value = r.autoGain; return ORVO_OK;
    case 14: *value = m_columnMirror; return ORVO_OK;
    case 15: *value = m_rowMirror; return ORVO_OK;
    case 16: *value = m_mains / 1000; return ORVO_OK;
    case 17: *value = m_frameRate / 1000; return ORVO_OK;
    case 23: *value = m_lightMode; return ORVO_OK;
    case 25: *value = static_cast<int>(r.meanRed4); return ORVO_OK;
    case 26: *value = static_cast<int>(r.meanGreen4); return ORVO_OK;
    case 27: *value = static_cast<int>(r.meanBlue4); return ORVO_OK;
    case 28: *value = static_cast<int>(r.luminance4); return ORVO_OK;
    case 29: *value = r.luminanceTarget; return ORVO_OK;
    case 30: *value = r.oneShot; return ORVO_OK;
    case 31: if (!m_variant) return ORVO_E_BAD_PARAM; *value = r.oneShotBalance; return ORVO_OK;
    case 33: *value = static_cast<int>(kMaxBadPixels); return ORVO_OK;
    case 34: *value = m_defectCorrection; return ORVO_OK;
    case 35: *value = r.illumination; return ORVO_OK;
    case 36: {
        // Taken without the buffer lock: the register lock is inside it elsewhere.
        *value = static_cast<int>(m_lastBrightCount.load());
        return ORVO_OK;
    }
    case 37: *value = r.gainReduction; return ORVO_OK;
    case 38: *value = r.minLuminanceTarget; return ORVO_OK;
    case 39: *value = m_pixelClock; return ORVO_OK;
    case 48: *value = r.lowThreshold; return ORVO_OK;
    case 49: *value = r.highThreshold; return ORVO_OK;
    case 51: *value = m_skipping; return ORVO_OK;
    case 52: *value = m_digitalGain; return ORVO_OK;
    case 53: *value = m_gainDoubling; return ORVO_OK;
    default: return CZelCamera::GetCameraParam(paramId, value);
    }
}

int32_t CZelCedar::GetCameraParamRange(int paramId, ParamRange* range) {
    CriticalSectionLock buffers(Rings().Lock());
    CriticalSectionLock registers(m_registerLock);
    const int32_t maxGain = m_regulation.maxGain;
    switch (paramId) {
    // Rounded like the value, so the longest exposure reads inside its range.
    case 0: return Range(range, 1, static_cast<int32_t>((m_maxExposure + 500) / 1000));
    case 1: case 2: case 3: return Range(range, 0, maxGain);
    case 9: case 31: if (!m_variant) return ORVO_E_BAD_PARAM; return Range(range, 0, 1);
    case 10: case 11: case 12: case 14: case 15: case 23: case 30: case 34: case 35: case 37: case 51: case 52:
    case 53: return Range(range, 0, 1);
    case 16: return Range(range, 50, 60, 10);
    case 17: return Range(range, 1, HighestRate() / 1000);
    case 25: case 26: case 27: case 28: return Range(range, 0, 100);
    case 29: return Range(range, 48, 208);
    case 33: case 36: return Range(range, 0, 0x7FFFFFFF);
    case 38: return Range(range, 40, 120);
    case 39: return Range(range, 24, 48, 24);
    case 48: return Range(range, 1, 40);
    case 49: return Range(range, 1, 120);
    default: return CZelCamera::GetCameraParamRange(paramId, range);
    }
}

int32_t CZelCedar::SetCameraParam(int paramId, int value) {
    const bool video = m_videoRunning.load();
    CriticalSectionLock buffers(Rings().Lock());
    CriticalSectionLock registers(m_registerLock);
    CSensorRegulation& r = m_regulation;
    const bool luminanceWasOff = !r.autoExposure && !r.autoGain;
    auto restartLuminance = [&] {
        if (video && luminanceWasOff && (r.autoExposure || r.autoGain)) r.RestartLuminance(m_videoRowTime);
    };
    switch (paramId) {
    case 0:
        if (r.autoExposure && video) return ORVO_E_READ_ONLY;
        ProgramShutter(int64_t{value} * 1000);
        return ORVO_OK;
    case 1: case 2: case 3: {
        if (video && (r.autoGain || r.autoBalance)) return ORVO_E_READ_ONLY;
        SensorGains g = Gains();
        if (!m_variant) g = {value, value, value};
        else (paramId == 1 ? g.red : paramId == 2 ? g.green : g.blue) = value;
        SetGains(g);
        return ORVO_OK;
    }
    case 9:
        if (!m_variant) return ORVO_E_BAD_PARAM;
        if (value && !r.autoBalance) r.RestartBalance();
        r.autoBalance = value != 0;
        return ORVO_OK;
    case 10:
        r.autoExposure = r.autoGain = value != 0;
        r.oneShot = false;
        restartLuminance();
        return ORVO_OK;
    case 11: r.autoExposure = value != 0; restartLuminance(); return ORVO_OK;
    case 12: r.autoGain = value != 0; restartLuminance(); return ORVO_OK;
    case 14:
    case 15: {
        (paramId == 14 ? m_columnMirror : m_rowMirror) = value != 0;
        const uint16_t bit = paramId == 14 ? kReadModeColumnMirror : kReadModeRowMirror;
        m_desired.value[kRegReadMode] = static_cast<uint16_t>(value ? m_desired.value[kRegReadMode] | bit
                                                                    : m_desired.value[kRegReadMode] & ~bit);
        for (int i = 0; i < kMaxBufferSets; ++i) {
            if (auto* ctx = static_cast<CSensorContext*>(Rings().At(i).context)) {
                PlaceWindow(*ctx, i == m_videoSet);
                ctx->renderer.SetColumnPhase(m_columnMirror);
                ctx->renderer.SetRowPhase(m_rowMirror);
                if (m_hasBadPixels) ctx->BuildBadPixels(m_badPixels, m_columnMirror, m_rowMirror);
            }
        }
        return ORVO_OK;
    }
    case 16: m_mains = value * 1000; return ORVO_OK;
    case 17: {
        const int32_t rate = ChooseFrameRate(value * 1000, HighestRate(), m_mains);
        ApplyFrameRate(rate);
        m_updateRequest.store(video);
        return rate == value * 1000 ? ORVO_OK : ORVO_E_CONFLICT;
    }
    case 23:
        m_lightMode = value;
        m_lightModePending = true;
        m_balancePending = true;
        return ORVO_OK;
    case 29: r.luminanceTarget = value; r.workingTarget = value / 4; return ORVO_OK;
    case 30:
        r.oneShot = value != 0;
        r.autoExposure = r.autoGain = value != 0;
        restartLuminance();
        return ORVO_OK;
    case 31:
        if (!m_variant) return ORVO_E_BAD_PARAM;
        if (value && !r.autoBalance) r.RestartBalance();
        r.oneShotBalance = value != 0;
        r.autoBalance = r.autoBalance || value != 0;
        return ORVO_OK;
    case 34:
        if (!m_hasBadPixels) return ORVO_E_NO_FRAME;
        m_defectCorrection = value != 0;
        for (int i = 0; i < kMaxBufferSets; ++i)
            if (auto* ctx = static_cast<CSensorContext*>(Rings().At(i).context))
                ctx->renderer.SetDefectCorrection(m_defectCorrection);
        return ORVO_OK;
    case 37: r.gainReduction = value != 0; return ORVO_OK;
    case 38: r.minLuminanceTarget = value; r.minTarget = value / 4; return ORVO_OK;
    case 39: ApplyPixelClock(value); return ORVO_OK;
    case 48: if (value > r.highThreshold) return ORVO_E_CONFLICT; r.lowThreshold = value; return ORVO_OK;
    case 49: if (value < r.lowThreshold) return ORVO_E_CONFLICT; r.highThreshold = value; return ORVO_OK;
    case 51:
        m_skipping = value != 0;
        if (CSensorContext* ctx = VideoContext()) {
            ProgramContext(*ctx);
            m_videoRowTime = ctx->rowTime;
            const int32_t highest = HighestRate();
            if (highest < m_frameRate) ApplyFrameRate(highest);
        }
        return ORVO_OK;
    case 52: ReencodeGains({value != 0, m_gainDoubling}); return ORVO_OK;
    case 53: ReencodeGains({m_digitalGain, value != 0}); return ORVO_OK;
    default: return CZelCamera::SetCameraParam(paramId, value);
    }
}

int32_t CZelCedar::UpdateParams() {
    CriticalSectionLock api(m_apiLock);
    bool ok = true;
    bool lightMode;
    int32_t mode;
    {
        CriticalSectionLock registers(m_registerLock);
        lightMode = m_lightModePending;
        mode = m_lightMode;
    }
    if (lightMode) {
        CriticalSectionLock device(m_deviceLock);
        const std::vector<uint8_t> body{static_cast<uint8_t>(mode >> 8), static_cast<uint8_t>(mode), 0, 0, 0, 0};
        uint8_t echo[6] = {};
        uint32_t read = 0;
        if (Send(kOpLightMode, body) && Device()->ReadResponse(echo, sizeof echo, &read) && read == 6 &&
            std::equal(body.begin(), body.end(), echo)) {
            CriticalSectionLock registers(m_registerLock);
            m_lightModePending = false;
            if (m_balancePending) {
                m_balancePending = false;
                ApplyBalancePreset();
                m_regulation.SetGainsFromBase(Gains().green);
            }
        } else {
            ok = false;
        }
    }
    if (m_videoRunning.load() && !m_threads.Video().StopRequested()) {
        m_updateRequest.store(true);
        // The video thread takes the request with its next frame request.
        for (int i = 0; i < 2000 && m_updateRequest.load() && m_videoRunning.load() && !m_threads.Video().StopRequested(); ++i)
            ::Sleep(1);
    } else {
        CriticalSectionLock device(m_deviceLock);
        ok = SendChanges(kOpUpdateRegisters) && ok;
    }
    return ok ? ORVO_OK : ORVO_E_OPEN_FAILED;
}

}  // namespace orvo
