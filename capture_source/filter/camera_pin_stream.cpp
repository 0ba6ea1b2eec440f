// The pin's worker thread: commands, pacing and sample filling.
#include <cstring>

#include "capture_source/filter/camera_filter.h"
#include "capture_source/filter/camera_pin.h"
#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {
namespace {

constexpr int64_t kFramePeriodUs = 33333;

int64_t NowUs() noexcept {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

}  // namespace

bool CCameraPin::WaitCommand(DWORD* command, DWORD timeoutMs) noexcept {
    if (::WaitForSingleObject(RequestEvent(), timeoutMs) != WAIT_OBJECT_0) return false;
    *command = PendingCommand();
    return true;
}

// Samples are due every 1/30 s, and each should carry a camera frame not
// sent before. Camera frames do not come on our clock: they drift against
// it and arrive in clumps. So a new frame may go out up to three quarters of
// a period before its sample is due, and a due sample waits up to half a
// period for a new frame before it sends the newest one again. The schedule
// itself does not move, so the rate stays 30 per second on average, and the
// time spent filling and delivering does not lower it.
bool CCameraPin::WaitCommandOrSample(DWORD* command) noexcept {
    for (;;) {
        const int64_t now = NowUs();
        if (m_nextDueUs == 0 || now - m_nextDueUs > 2 * kFramePeriodUs) m_nextDueUs = now;
        const bool fresh = m_framesFinished.load() != m_framesSampled;
        const int64_t earliest = m_nextDueUs - kFramePeriodUs * 3 / 4, latest = m_nextDueUs + kFramePeriodUs / 2;
        if ((fresh && now >= earliest) || now >= latest) return false;
        const int64_t until = fresh ? earliest : latest;
        const DWORD timeout = static_cast<DWORD>((until - now + 999) / 1000);
        HANDLE waits[2] = {RequestEvent(), m_frameReady.get()};
        if (::WaitForMultipleObjects(2, waits, FALSE, timeout) == WAIT_OBJECT_0) {
            *command = PendingCommand();
            return true;
        }
    }
}

DWORD CCameraPin::ThreadProc() {
    WorkerState state = WorkerState::Idle;
    bool exit = false;
    while (!exit) {
        DWORD command = 0;
        const bool commanded = state == WorkerState::Streaming ? WaitCommandOrSample(&command)
                                                               : WaitCommand(&command, INFINITE);
        if (commanded) {
            HandleCommand(command, state, &exit);
        } else {
            m_nextDueUs += kFramePeriodUs;
            ProduceSample(state);
        }
    }
    return 0;
}

void CCameraPin::HandleCommand(DWORD command, WorkerState& state, bool* exit) noexcept {
    HRESULT hr = S_OK;
    switch (command) {
    case CMD_INIT:
        hr = OnThreadCreate();
        if (FAILED(hr)) {
            OnThreadDestroy();
            *exit = true;
        } else {
            state = WorkerState::Ready;
        }
        break;
    case CMD_PAUSE:
    case CMD_RUN:
        if (state == WorkerState::Idle) {
            hr = E_FAIL;
        } else if (state == WorkerState::Ready) {
            hr = OnThreadStartPlay();
            if (SUCCEEDED(hr)) {
                state = WorkerState::Streaming;
                m_nextDueUs = 0;
            }
        }
        break;
    case CMD_STOP:
        if (state == WorkerState::Idle) {
            hr = E_FAIL;
        } else if (state == WorkerState::Streaming) {
            hr = OnThreadStop();
            if (SUCCEEDED(hr)) state = WorkerState::Ready;
        }
        break;
    case CMD_EXIT:
        if (state == WorkerState::Streaming) OnThreadStop();
        hr = OnThreadDestroy();
        *exit = true;
        break;
    default:
        hr = E_NOTIMPL;
        break;
    }
    Reply(static_cast<DWORD>(hr));
}

void CCameraPin::ProduceSample(WorkerState& state) noexcept {
    // A failure the event thread recorded ends the stream here, on the one
    // thread that talks to the downstream pin.
    const HRESULT failure = m_streamFailure.exchange(S_OK);
    if (FAILED(failure)) {
        EndStream(state, failure, true);
        return;
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr) || !sample) {
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, hr);
        ::Sleep(1);
        return;
    }
    hr = FillBuffer(sample);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        sample->Release();
        EndStream(state, hr, true);
        return;
    }
    if (hr == S_FALSE) {
        sample->Release();
        EndStream(state, hr, false);
        return;
    }
    hr = Deliver(sample);
    sample->Release();
    if (hr != S_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        // Downstream refused: stop producing until the graph restarts us.
        OnThreadStop();
        state = WorkerState::Ready;
    }
}

void CCameraPin::EndStream(WorkerState& state, HRESULT cause, bool notifyAbort) noexcept {
    DeliverEndOfStream();
    if (notifyAbort) m_filter->NotifyEvent(EC_ERRORABORT, static_cast<LONG_PTR>(cause), 0);
    OnThreadStop();
    state = WorkerState::Ready;
}

HRESULT CCameraPin::FillBuffer(IMediaSample* sample) {
    if (!sample) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG);
        return E_INVALIDARG;
    }
    if (m_camera == 0 || m_formatPosition != 0) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, m_camera, m_formatPosition);
        return E_FAIL;
    }
    const long length = sample->GetActualDataLength();
    if (length < static_cast<long>(m_outputFormat.biSizeImage)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG, length, m_outputFormat.biSizeImage);
        return E_INVALIDARG;
    }
    BYTE* pixels = nullptr;
    HRESULT hr = sample->GetPointer(&pixels);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        return hr;
    }
    REFERENCE_TIME start = m_nextSampleTime, end = start + kFrameTime;
    sample->SetTime(&start, &end);
    m_nextSampleTime = end;
    sample->SetSyncPoint(TRUE);

    m_framesSampled = m_framesFinished.load();
    const int32_t write = m_writeIndex.load();
    const int newest = write < 1 ? kSlotCount - 1 : write - 1;
    FrameSlot& slot = m_slots[newest];
    {
        win32::CriticalSectionLock lock(slot.lock);
        hr = CopyFrame(slot.pixels.data(), m_sourceFormat, pixels);
    }
    if (FAILED(hr)) ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace orvo::capture
