#include "camera_api/cameras/capture_threads.h"

#include "camera_api/api/orvo_api.h"

namespace orvo {

int32_t CaptureThreads::StartVideo(CaptureThread::Body body, void* context) noexcept {
    if (StopVideo() == ORVO_E_FAIL) return ORVO_E_NO_FRAME;
    return m_video.Start(body, context, THREAD_PRIORITY_ABOVE_NORMAL) ? ORVO_OK : ORVO_E_FAIL;
}

int32_t CaptureThreads::StopVideo() noexcept {
    switch (m_video.Stop(kVideoStopMs)) {
    case CaptureThread::StopResult::NotRunning: return ORVO_E_NO_FRAME;
    case CaptureThread::StopResult::Stopped: return ORVO_OK;
    default: return ORVO_E_FAIL;
    }
}

int32_t CaptureThreads::StartStill(CaptureThread::Body body, void* context) noexcept {
    // A still thread whose work is done is only leaving: collect it.
    if (!m_stillRunning.load()) CollectStill();
    if (m_still.Held() || m_stillRunning.load()) return ORVO_E_NO_FRAME;
    m_stillRunning.store(true);
    if (m_still.Start(body, context, THREAD_PRIORITY_ABOVE_NORMAL)) return ORVO_OK;
    m_stillRunning.store(false);
    return ORVO_E_FAIL;
}

void CaptureThreads::StopAndWait() noexcept {
    m_video.Stop(kVideoStopMs);
    m_still.Stop(kVideoStopMs);
    m_video.Join(INFINITE);
    m_still.Join(INFINITE);
}

}  // namespace orvo
