#include "tools/zellog/live_log_viewer.h"

#include <cstring>

#include "support/sync/shared_security.h"
#include "win32/mutex_lock.h"

namespace orvo::zellog {
namespace {

constexpr DWORD kLockTimeoutMs = 5000;

}  // namespace

LiveLogViewer::Result LiveLogViewer::Fail() noexcept {
    m_lastError = ::GetLastError();
    return Result::Failed;
}

LiveLogViewer::Result LiveLogViewer::Create(uint32_t capacity) {
    if (win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName))) return Result::AlreadyRunning;

    const std::wstring base = kZelLiveLogBaseName;
    SharedSecurityAttributes attributes;
    // The lock first, held while the header is laid out, so that a writer
    // that finds the ring early waits for a valid header.
    m_lock.reset(::CreateMutexW(attributes.get(), FALSE, LiveLogObjectName(base, kZelLiveLogLockSuffix).c_str()));
    if (!m_lock) return Fail();
    win32::MutexLock lock(m_lock.get(), kLockTimeoutMs);
    if (!lock) return Fail();

    m_nearingFull.reset(
        ::CreateEventW(attributes.get(), FALSE, FALSE, LiveLogObjectName(base, kZelLiveLogNearingFullSuffix).c_str()));
    if (!m_nearingFull) return Fail();

    const size_t ringBytes = LiveLogRingBytes(capacity);
    m_mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, attributes.get(), PAGE_READWRITE, 0,
                                         static_cast<DWORD>(ringBytes),
                                         LiveLogObjectName(base, kZelLiveLogMapSuffix).c_str()));
    if (!m_mapping) return Fail();
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    m_view.reset(::MapViewOfFile(m_mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!m_view) return Fail();
    MEMORY_BASIC_INFORMATION region{};
    if (!::VirtualQuery(m_view.get(), &region, sizeof(region)) || region.RegionSize < ringBytes) {
        return Result::RingInUse;
    }
    m_header = static_cast<LiveLogHeader*>(m_view.get());
    m_records = reinterpret_cast<LiveLogRecord*>(static_cast<uint8_t*>(m_view.get()) + sizeof(LiveLogHeader));
    m_capacity = capacity;

    if (existed) {
        // Writers of an earlier viewer still hold the ring: their records
        // are taken over as long as the layout is the one asked for.
        if (m_header->version != kZelLiveLogVersion || m_header->recordSize != kZelLiveLogRecordSize ||
            m_header->capacity != capacity) {
            return Result::RingInUse;
        }
    } else {
        std::memset(m_header, 0, sizeof(*m_header));
        m_header->version = kZelLiveLogVersion;
        m_header->capacity = capacity;
        m_header->recordSize = kZelLiveLogRecordSize;
    }

    m_announcement.reset(::CreateEventW(attributes.get(), TRUE, FALSE, kZelLiveLogEnabledName));
    if (!m_announcement) return Fail();
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        m_announcement.reset();
        return Result::AlreadyRunning;
    }
    return Result::Ok;
}

bool LiveLogViewer::Drain(std::vector<LiveLogRecord>& records) {
    records.clear();
    win32::MutexLock lock(m_lock.get(), kLockTimeoutMs);
    if (!lock) return false;
    const uint32_t count = m_header->recordCount;
    const uint32_t writeIndex = m_header->writeIndex;
    if (count > m_capacity || writeIndex >= m_capacity) {
        // Not a state any writer leaves: start afresh rather than read
        // outside the ring.
        m_discarded += count;
        m_header->writeIndex = 0;
        m_header->recordCount = 0;
        return true;
    }
    records.resize(count);
    uint32_t index = (writeIndex + m_capacity - count) % m_capacity;
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(&records[i], &m_records[index], sizeof(LiveLogRecord));
        index = index + 1 == m_capacity ? 0 : index + 1;
    }
    m_header->recordCount = 0;
    return true;
}

}  // namespace orvo::zellog
