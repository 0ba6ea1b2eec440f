// A live-log ring made the way a viewer makes it, with a header the test can
// spoil, for writers to attach to.
#pragma once
#include <windows.h>
#include <string>

#include "support/livelog/live_log_layout.h"
#include "win32/mapped_view.h"
#include "win32/unique_handle.h"

namespace orvo::test {

struct RingLayout {
    uint32_t version = kZelLiveLogVersion;
    uint32_t capacity = kZelLiveLogDefaultCapacity;
    uint32_t recordSize = kZelLiveLogRecordSize;
};

class TestRing {
public:
    // Creates the lock, the nearing-full event and the ring (sized for
    // `mappedCapacity` records, the header's capacity when 0).
    TestRing(const std::wstring& base, RingLayout layout = {}, uint32_t mappedCapacity = 0)
        : m_lock(::CreateMutexW(nullptr, FALSE, LiveLogObjectName(base, kZelLiveLogLockSuffix).c_str())),
          m_nearingFull(::CreateEventW(nullptr, FALSE, FALSE,
                                       LiveLogObjectName(base, kZelLiveLogNearingFullSuffix).c_str())) {
        const size_t bytes = LiveLogRingBytes(mappedCapacity ? mappedCapacity : layout.capacity);
        m_mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             static_cast<DWORD>(bytes),
                                             LiveLogObjectName(base, kZelLiveLogMapSuffix).c_str()));
        if (m_mapping) m_view.reset(::MapViewOfFile(m_mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
        if (m_view) {
            Header().version = layout.version;
            Header().capacity = layout.capacity;
            Header().recordSize = layout.recordSize;
        }
    }

    bool Ready() const { return m_lock && m_nearingFull && m_view; }
    LiveLogHeader& Header() { return *static_cast<LiveLogHeader*>(m_view.get()); }
    LiveLogRecord& Record(uint32_t i) {
        return reinterpret_cast<LiveLogRecord*>(static_cast<uint8_t*>(m_view.get()) + sizeof(LiveLogHeader))[i];
    }
    // True when the nearing-full event was set since the last call.
    bool TakeNearingFull() { return ::WaitForSingleObject(m_nearingFull.get(), 0) == WAIT_OBJECT_0; }
    HANDLE Lock() const { return m_lock.get(); }

private:
    win32::UniqueHandle m_lock;
    win32::UniqueHandle m_nearingFull;
    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;
};

// The viewer's announcement, for as long as the object lives.
class Announcement {
public:
    Announcement() : m_event(::CreateEventW(nullptr, TRUE, FALSE, kZelLiveLogEnabledName)) {}
    explicit operator bool() const { return m_event.valid(); }

private:
    win32::UniqueHandle m_event;
};

}  // namespace orvo::test
