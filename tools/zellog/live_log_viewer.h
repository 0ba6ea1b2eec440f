// The viewer's side of the live log: creates the ring, its lock, the
// nearing-full event and, last, the announcement that makes tracing modules
// attach; drains the records the writers append.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "support/livelog/live_log_layout.h"
#include "win32/mapped_view.h"
#include "win32/unique_handle.h"

namespace orvo::zellog {

class LiveLogViewer {
public:
    enum class Result { Ok, AlreadyRunning, RingInUse, Failed };

    // Creates every object; AlreadyRunning when another viewer announced
    // itself, RingInUse when writers still hold a ring of another layout.
    Result Create(uint32_t capacity);
    // Moves every held record, oldest first, into `records` and empties the
    // ring. False when the lock could not be taken.
    bool Drain(std::vector<LiveLogRecord>& records);
    // Withdraws the announcement: no new writer attaches after this.
    void Withdraw() noexcept { m_announcement.reset(); }

    HANDLE NearingFullEvent() const noexcept { return m_nearingFull.get(); }
    DWORD LastError() const noexcept { return m_lastError; }
    // Records found inconsistent (count or index out of range) and discarded.
    uint64_t DiscardedRecords() const noexcept { return m_discarded; }

private:
    Result Fail() noexcept;

    win32::UniqueHandle m_lock;
    win32::UniqueHandle m_nearingFull;
    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;
    win32::UniqueHandle m_announcement;
    LiveLogHeader* m_header = nullptr;
    LiveLogRecord* m_records = nullptr;
    uint32_t m_capacity = 0;
    DWORD m_lastError = 0;
    uint64_t m_discarded = 0;
};

}  // namespace orvo::zellog
