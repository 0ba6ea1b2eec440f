// The video and the still thread of a camera that captures with threads of
// its own, with the rules both camera families share: one video thread at a
// time (a new start stops the old one first), one still capture at a time,
// and the same bounds for stopping and collecting them.
#pragma once
#include <windows.h>
#include <atomic>

#include "camera_api/cameras/capture_thread.h"

namespace orvo {

class CaptureThreads {
public:
    static constexpr DWORD kVideoStopMs = 10000;
    // How long a still start or a still frame's release waits for the previous
    // still thread, whose work is done, to finish leaving.
    static constexpr DWORD kStillCollectMs = 2000;

    // ORVO_OK; ORVO_E_NO_FRAME when the previous video thread did not end in time.
    int32_t StartVideo(CaptureThread::Body body, void* context) noexcept;
    // ORVO_OK when it ended, ORVO_E_NO_FRAME when none ran, ORVO_E_FAIL when it
    // was left running (told to stop, never terminated).
    int32_t StopVideo() noexcept;
    // ORVO_OK; ORVO_E_NO_FRAME while the previous still capture is at work.
    int32_t StartStill(CaptureThread::Body body, void* context) noexcept;
    // The still thread's work is done (it may still be leaving).
    void StillDone() noexcept { m_stillRunning.store(false); }
    bool StillWorking() const noexcept { return m_stillRunning.load(); }
    void CollectStill() noexcept { m_still.Join(kStillCollectMs); }
    // Destruction of the camera: both told to stop, then waited for however
    // long they take (every wait inside a capture thread is bounded).
    void StopAndWait() noexcept;

    const CaptureThread& Video() const noexcept { return m_video; }
    const CaptureThread& Still() const noexcept { return m_still; }

private:
    std::atomic<bool> m_stillRunning{false};
    CaptureThread m_video;
    CaptureThread m_still;
};

}  // namespace orvo
