#include "emulator/frame_pacer.h"

#include <algorithm>
#include <chrono>

namespace orvo::emu {

double CFramePacer::Schedule(double now, double period) noexcept {
    period = std::max(period, 0.0);
    const double backlog = std::max(kBufferedFrames * period, kMinBacklogSeconds);
    if (!m_running || now - m_lastReady > backlog) {
        m_running = true;
        m_lastReady = now + period;
    } else {
        m_lastReady += period;
    }
    return m_lastReady;
}

double PacingClockSeconds() noexcept {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace orvo::emu
