// Notices cameras opened, closed or left behind by other processes: compares
// the owners and change counters of the shared table with those seen by the
// previous check, and frees cameras whose owner process has ended.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>

#include "camera_api/devices/device_record.h"

namespace orvo {

// Whether a process still runs. The real probe asks the system; tests
// substitute their own.
class IProcessProbe {
public:
    virtual bool IsAlive(DWORD processId) noexcept = 0;

protected:
    ~IProcessProbe() = default;
};

// An owner that ended (its exit code is no longer STILL_ACTIVE, or it cannot
// be opened for any reason but lack of rights) is dead; one we may not open
// is taken to be alive.
class SystemProcessProbe final : public IProcessProbe {
public:
    bool IsAlive(DWORD processId) noexcept override;
};

class OwnerTracker {
public:
    // Checks a snapshot of the shared records. clearOwner(deviceId) is called
    // for every camera whose owner has ended. True when some camera's owner
    // or change counter differs from the previous check.
    template <class ClearOwner>
    bool Update(const DeviceRecord* records, int count, DWORD self, IProcessProbe& probe, ClearOwner clearOwner) {
        std::map<int32_t, Seen> current;
        bool changed = false;
        for (int i = 0; i < count; ++i) {
            const DeviceRecord& record = records[i];
            if (static_cast<DWORD>(record.ownerProcessId) == self) continue;
            int32_t owner = record.ownerProcessId;
            if (owner != 0 && !probe.IsAlive(static_cast<DWORD>(owner))) {
                clearOwner(record.entry.deviceId);
                owner = 0;
            }
            const Seen now{owner, record.changeCounter};
            current[record.entry.deviceId] = now;
            const auto before = m_previous.find(record.entry.deviceId);
            if (before != m_previous.end() && !(before->second == now)) changed = true;
        }
        m_previous.swap(current);
        return changed;
    }

private:
    struct Seen {
        int32_t owner;
        int32_t changeCounter;
        bool operator==(const Seen& other) const noexcept {
            return owner == other.owner && changeCounter == other.changeCounter;
        }
    };
    std::map<int32_t, Seen> m_previous;
};

}  // namespace orvo
