// Appends records to a live-log ring that a viewer created: attaches to the
// viewer's mapping, lock and nearing-full event, refuses a ring whose layout
// does not match, and drops records while the ring is full.
#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>

#include "support/livelog/live_log_layout.h"
#include "support/sync/zel_sync_object.h"
#include "win32/mapped_view.h"
#include "win32/unique_handle.h"

namespace orvo {

class CZelLiveLogWriter {
public:
    // A viewer that holds the ring's lock longer than this does not stall
    // the tracing thread: the record is given up instead.
    static constexpr DWORD kLockTimeoutMs = 1000;

    CZelLiveLogWriter() = default;
    ~CZelLiveLogWriter() { Close(); }
    CZelLiveLogWriter(const CZelLiveLogWriter&) = delete;
    CZelLiveLogWriter& operator=(const CZelLiveLogWriter&) = delete;

    // 0, or the failure code (also kept as LastError). Never throws.
    uint32_t Open(const wchar_t* baseName, int capacity) noexcept;
    // Appends the record (its whole data area, so that a record never shows
    // bytes of the one it replaced); 0 or a failure code.
    uint32_t Append(const LiveLogRecord& record) noexcept;
    void Close() noexcept;

    bool IsOpen() const noexcept { return m_header != nullptr; }
    uint32_t LastError() const noexcept { return m_lastError; }
    uint32_t Threshold() const noexcept { return m_threshold; }

private:
    uint32_t Fail(uint32_t code) noexcept;
    uint32_t FailAndClose(uint32_t code) noexcept;

    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;
    std::shared_ptr<CZelMutex> m_lock;
    std::shared_ptr<CZelEvent> m_nearingFull;
    size_t m_mappedSize = 0;
    uint32_t m_lastError = 0;
    uint32_t m_threshold = 0;
    LiveLogHeader* m_header = nullptr;
    LiveLogRecord* m_records = nullptr;
    uint32_t m_capacity = 0;  // as verified at open; the shared header may change later
};

}  // namespace orvo
