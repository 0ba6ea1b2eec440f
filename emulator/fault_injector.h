// Faults a model asks the emulated bus to apply to its next transfers.
#pragma once
#include <windows.h>
#include <cstdint>
#include <deque>
#include <map>

#include "win32/critical_section.h"

namespace orvo::emu {

enum class FaultKind {
    None,
    Stall,    // the transfer fails as a stalled endpoint does
    Timeout,  // the transfer never completes until it is aborted
    Short,    // the transfer delivers at most `value` bytes
    Late,     // the transfer completes `value` ms later than it could
    Unplug,   // the device disappears after `value` bytes of the transfer
};

struct Fault {
    FaultKind kind = FaultKind::None;
    uint32_t value = 0;
};

// Thread-safe: tests add faults while the bus serves transfers.
class CFaultInjector {
public:
    // The next transfer on endpoint (address with direction bit) gets fault.
    void Add(uint8_t endpoint, Fault fault) {
        win32::CriticalSectionLock lock(m_lock);
        m_next[endpoint].push_back(fault);
    }
    Fault Take(uint8_t endpoint) {
        win32::CriticalSectionLock lock(m_lock);
        auto it = m_next.find(endpoint);
        if (it == m_next.end() || it->second.empty()) return {};
        Fault fault = it->second.front();
        it->second.pop_front();
        return fault;
    }
    // Aborted transfers on endpoint come back this much later, after the
    // pipe scribbled over their buffers, as a slow host controller may.
    void SetAbortDelay(uint8_t endpoint, uint32_t ms) {
        win32::CriticalSectionLock lock(m_lock);
        m_abortDelay[endpoint] = ms;
    }
    uint32_t AbortDelay(uint8_t endpoint) {
        win32::CriticalSectionLock lock(m_lock);
        auto it = m_abortDelay.find(endpoint);
        return it == m_abortDelay.end() ? 0 : it->second;
    }
    // After `accepted` more submissions on endpoint go through, the next one
    // is refused at once, as a host stack short of resources refuses it.
    void RefuseSubmission(uint8_t endpoint, uint32_t accepted) {
        win32::CriticalSectionLock lock(m_lock);
        m_refuseAfter[endpoint] = accepted;
    }
    // Called once per submission on endpoint: true when this one is refused.
    bool TakeRefusal(uint8_t endpoint) {
        win32::CriticalSectionLock lock(m_lock);
        auto it = m_refuseAfter.find(endpoint);
        if (it == m_refuseAfter.end()) return false;
        if (it->second > 0) {
            --it->second;
            return false;
        }
        m_refuseAfter.erase(it);
        return true;
    }
    void Clear() {
        win32::CriticalSectionLock lock(m_lock);
        m_next.clear();
        m_abortDelay.clear();
        m_refuseAfter.clear();
    }

private:
    win32::CriticalSection m_lock;
    std::map<uint8_t, std::deque<Fault>> m_next;
    std::map<uint8_t, uint32_t> m_abortDelay;
    std::map<uint8_t, uint32_t> m_refuseAfter;
};

}  // namespace orvo::emu
