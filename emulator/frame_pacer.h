// When an emulated camera's frames are ready: a camera takes a frame time per
// frame, so the first frame of a stream is ready one frame time after it was
// asked for and each further one a frame time after the one before. A host
// that falls a little behind finds the frames it missed waiting (the camera
// buffers a few); one that stopped asking long enough starts a new stream.
// Pure logic over a clock in seconds that the caller reads.
#pragma once

namespace orvo::emu {

class CFramePacer {
public:
    // The time the frame asked for at `now` is ready, for a frame time of
    // `period` seconds (0: at once).
    double Schedule(double now, double period) noexcept;
    // The stream ended: the next request starts a new one.
    void Restart() noexcept { m_running = false; }

    // How far a host may fall behind before the camera drops its buffered
    // frames and starts over: a few frame times, at least this long.
    static constexpr int kBufferedFrames = 4;
    static constexpr double kMinBacklogSeconds = 0.25;

private:
    bool m_running = false;
    double m_lastReady = 0;
};

// Seconds of a monotonic clock with sub-millisecond resolution.
double PacingClockSeconds() noexcept;

}  // namespace orvo::emu
