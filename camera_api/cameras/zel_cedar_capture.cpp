// Capture threads of the raw-sensor camera: the video loop with register
// updates riding on frame requests, and the one-frame still capture.
#include <algorithm>
#include <cstring>

#include "camera_api/cameras/sensor/sensor_timing.h"
#include "camera_api/cameras/zel_cedar.h"
#include "camera_api/render/bayer_types.h"
#include "camera_api/transport/device.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using win32::CriticalSectionLock;

constexpr DWORD kFrameWaitMs = 500;
constexpr int kStillRetries = 3;
constexpr int kRegulateEvery = 4;

std::vector<uint8_t> FrameRequest(uint32_t bytes) {
    std::vector<uint8_t> body;
    AppendBigEndian32(body, bytes);
    return body;
}

}  // namespace

DWORD WINAPI CZelCedar::VideoMain(void* self) {
    static_cast<CZelCedar*>(self)->RunVideo();
    return 0;
}

DWORD WINAPI CZelCedar::StillMain(void* self) {
    static_cast<CZelCedar*>(self)->RunStill();
    return 0;
}

void CZelCedar::PrepareRenderer(CSensorContext& ctx, int pixelFormat) {
    ctx.renderer.SetOutputFormat(pixelFormat);
    ctx.renderer.SetColumnPhase(m_columnMirror);
    ctx.renderer.SetRowPhase(m_rowMirror);
    ctx.renderer.SetDefectCorrection(m_defectCorrection);
    ctx.renderer.SetAlgorithm(ctx.renderMode);
    ctx.renderer.UpdateConverter();
}

bool CZelCedar::RenderInto(int setIndex, CSensorContext& ctx, uint8_t* raw) {
    void* bits;
    int32_t stride, rows, format;
    {
        CriticalSectionLock buffers(Rings().Lock());
        bits = Rings().Acquire(setIndex);
        if (!bits) return false;
        const BufferSet& set = Rings().At(setIndex);
        format = set.pixelFormat;
        stride = DibStride(set.pixelFormat, set.width);
        rows = set.height < 0 ? -set.height : set.height;
    }
    const int w = ctx.EvenWidth(), h = ctx.EvenHeight();
    const auto outStride = static_cast<int32_t>(render::OutputStride(format, static_cast<size_t>(w)));
    if (outStride == stride && rows == h) {
        ctx.renderer.Render(bits, raw, w + 8, h + 8);
    } else {
        // An odd window: the DIB's rows are wider than the rendered ones.
        m_scratch.resize(static_cast<size_t>(outStride) * h);
        ctx.renderer.Render(m_scratch.data(), raw, w + 8, h + 8);
        for (int r = 0; r < h && r < rows; ++r)
            std::memcpy(static_cast<uint8_t*>(bits) + static_cast<size_t>(r) * stride,
                        m_scratch.data() + static_cast<size_t>(r) * outStride, std::min(outStride, stride));
    }
    CriticalSectionLock buffers(Rings().Lock());
    Rings().Publish(setIndex);
    return true;
}

void CZelCedar::RunVideo() {
    int setIndex;
    CSensorContext* ctx;
    int pixelFormat;
    {
        CriticalSectionLock buffers(Rings().Lock());
        setIndex = m_videoSet;
        BufferSet* set = Rings().Allocated(setIndex);
        ctx = set ? static_cast<CSensorContext*>(set->context) : nullptr;
        pixelFormat = set ? set->pixelFormat : 0;
    }
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!ctx || !event.valid()) {
        ReportStatus(kStatusVideoThreadError);
        return;
    }
    m_videoRunning.store(true);
    bool ok;
    {
        CriticalSectionLock device(m_deviceLock);
        {
            // The parameter threads change the renderer under the register lock too.
            CriticalSectionLock registers(m_registerLock);
            PrepareRenderer(*ctx, pixelFormat);
            ProgramContext(*ctx);
            m_videoRowTime = ctx->rowTime;
        }
        ok = SendChanges(kOpUpdateRegisters);
        CriticalSectionLock registers(m_registerLock);
        m_regulation.StartVideo(m_videoRowTime);
        if (m_hasBadPixels) ctx->BuildBadPixels(m_badPixels, m_columnMirror, m_rowMirror);
    }
    const uint32_t frameBytes = ctx->RawBytes();
    uint32_t previous = 0;
    int slot = 0;
    uint64_t delivered = 0;
    if (ok) {
        CriticalSectionLock device(m_deviceLock);
        ok = Device()->BeginReadData(m_raw[0].data(), frameBytes, event.get()) &&
             Send(kOpFrame, FrameRequest(frameBytes));
        if (ok && !Device()->WaitData(&previous, kFrameWaitMs)) previous = 0;
    }
    while (ok && !m_threads.Video().StopRequested()) {
        {
            CriticalSectionLock device(m_deviceLock);
            const int readSlot = slot ^ 1;
            ok = Device()->BeginReadData(m_raw[readSlot].data(), frameBytes, event.get()) != 0;
            std::vector<uint8_t> body = FrameRequest(frameBytes);
            std::vector<uint8_t> runs;
            if (m_updateRequest.load()) {
                CriticalSectionLock registers(m_registerLock);
                if (AppendChangedRuns(m_desired, m_confirmed, runs) == 0) m_updateRequest.store(false);
            }
            body.insert(body.end(), runs.begin(), runs.end());
            ok = ok && Send(runs.empty() ? kOpFrame : kOpFrameWithRegisters, body);
            if (ok && previous == frameBytes) {
                if (RenderInto(setIndex, *ctx, m_raw[slot].data())) {
                    m_lastBrightCount.store(ctx->renderer.GetBrightCount());
                    if (delivered++ % kRegulateEvery == 0) {
                        CriticalSectionLock registers(m_registerLock);
                        RegulationMeans means{ctx->renderer.GetMeanRed(), ctx->renderer.GetMeanGreen(),
                                              ctx->renderer.GetMeanBlue(), ctx->renderer.GetBrightCount(),
                                              ctx->renderMode == 5};
                        m_regulation.Regulate(m_videoRowTime, means);
                        // What the regulation changed rides on the next frame request.
                        m_updateRequest.store(true);
                    }
                    SignalEvent(kEventVideoFrame);
                }
            } else if (ok) {
                ReportStatus(kStatusVideoFrameSize);
            }
            if (ok && !Device()->WaitData(&previous, kFrameWaitMs)) previous = 0;
            if (ok && !runs.empty()) {
                std::vector<uint8_t> answer(runs.size());
                uint32_t read = 0;
                CriticalSectionLock registers(m_registerLock);
                ok = Device()->ReadResponse(answer.data(), static_cast<uint32_t>(answer.size()), &read) &&
                     ConfirmEcho(runs.data(), runs.size(), answer.data(), read, m_confirmed);
                std::vector<uint8_t> rest;
                if (ok && AppendChangedRuns(m_desired, m_confirmed, rest) == 0) m_updateRequest.store(false);
                // The confirmed registers may carry a new window, factor or mirroring.
                if (ok && (ctx->renderer.UpdateConverter() || ctx->BadPixelsStale(m_columnMirror, m_rowMirror)) &&
                    m_hasBadPixels)
                    ctx->BuildBadPixels(m_badPixels, m_columnMirror, m_rowMirror);
            }
            slot = readSlot;
        }
        ::Sleep(1);
    }
    m_videoRunning.store(false);
    m_updateRequest.store(false);
    if (!ok) ReportStatus(kStatusVideoThreadError);
}

void CZelCedar::RunStill() {
    bool delivered = false;
    int setIndex;
    CSensorContext* ctx;
    int pixelFormat;
    {
        CriticalSectionLock buffers(Rings().Lock());
        setIndex = m_stillSet;
        BufferSet* set = Rings().Allocated(setIndex);
        ctx = set ? static_cast<CSensorContext*>(set->context) : nullptr;
        pixelFormat = set ? set->pixelFormat : 0;
    }
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (ctx && event.valid()) {
        CriticalSectionLock device(m_deviceLock);
        Device()->AbortStream();
        Send(kOpStopStream, {});
        const uint32_t frameBytes = ctx->RawBytes();
        {
            CriticalSectionLock registers(m_registerLock);
            PrepareRenderer(*ctx, pixelFormat);
            if (frameBytes > kLargeStillBytes) {
                // The full sensor at the video clock overruns the bus: slow it for this frame.
                m_desired.value[kRegPllConfig] = kPllConfig;
                m_desired.value[kRegPllDivider] = kStillPllDivider;
                m_pixelPeriodPs = kStillPixelClockPeriodPs;
            }
            const int64_t exposure = m_exposure;
            ProgramContext(*ctx);
            m_exposure = exposure;
        }
        bool sent = SendChanges(kOpUpdateRegisters);
        uint32_t bytes = 0;
        for (int attempt = 0; sent && attempt <= kStillRetries && bytes != frameBytes; ++attempt) {
            bytes = 0;
            if (Device()->BeginReadData(m_raw[0].data(), frameBytes, event.get()) &&
                Send(kOpFrame, FrameRequest(frameBytes)) && !Device()->WaitData(&bytes, kFrameWaitMs))
                bytes = 0;
        }
        if (bytes == frameBytes) {
            delivered = RenderInto(setIndex, *ctx, m_raw[0].data());
            if (delivered) SignalEvent(kEventStillFrame);
        } else {
            ReportStatus(kStatusStillReadFailed);
        }
        Device()->AbortStream();
        Send(kOpStopStream, {});
        {
            CriticalSectionLock registers(m_registerLock);
            m_desired.value[kRegPllConfig] = kPllConfig;
            m_desired.value[kRegPllDivider] = static_cast<uint16_t>(PllOutputDivider(m_pixelClock) - 1);
            m_pixelPeriodPs = 1000000 / m_pixelClock;
        }
        CSensorContext* video;
        {
            CriticalSectionLock buffers(Rings().Lock());
            video = VideoContext();
            CriticalSectionLock registers(m_registerLock);
            if (video) ProgramContext(*video);
        }
        SendChanges(kOpUpdateRegisters);
    }
    if (!delivered) ReportStatus(kStatusStillNoFrame);
    m_threads.StillDone();
}

int32_t CZelCedar::ReleaseFrame(int bufferIndex, int frameIndex) {
    const int32_t result = CZelCamera::ReleaseFrame(bufferIndex, frameIndex);
    if (SettleStillSet(bufferIndex)) m_threads.CollectStill();
    return result;
}

int32_t CZelCedar::StartCapture(int bufferIndex) {
    return StartOnSet(bufferIndex, [this](int kind) {
        return kind == kBufferKindStill ? m_threads.StartStill(StillMain, this) : m_threads.StartVideo(VideoMain, this);
    });
}

int32_t CZelCedar::StopVideoThread() {
    const int32_t stopped = m_threads.StopVideo();
    if (stopped != ORVO_OK) return stopped;  // none ran, or left running: told to stop, never terminated
    if (Device() && Device()->IsIsochronous()) {
        CriticalSectionLock device(m_deviceLock);
        Device()->StopThreads();
        Send(kOpStopStream, {});
    }
    return ORVO_OK;
}

int32_t CZelCedar::StopCapture() {
    const int32_t stopped = StopVideoThread();
    if (stopped == ORVO_E_FAIL) return ORVO_E_FAIL;
    CriticalSectionLock buffers(Rings().Lock());
    if (BufferSet* set = Rings().Allocated(m_videoSet)) set->active = 0;
    return stopped;
}

}  // namespace orvo
