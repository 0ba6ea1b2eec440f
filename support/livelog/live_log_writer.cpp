#include "support/livelog/live_log_writer.h"

#include <cstring>
#include <string>

#include "support/sync/shared_security.h"

namespace orvo {

uint32_t CZelLiveLogWriter::Fail(uint32_t code) noexcept {
    m_lastError = code;
    return code;
}

uint32_t CZelLiveLogWriter::FailAndClose(uint32_t code) noexcept {
    Close();
    return Fail(code);
}

uint32_t CZelLiveLogWriter::Open(const wchar_t* baseName, int capacity) noexcept {
    if (!baseName || !baseName[0] || capacity <= 0) return Fail(static_cast<uint32_t>(E_INVALIDARG));
    if (IsOpen()) return Fail(kZelLiveLogAlreadyOpen);

    std::wstring mapName, lockName, nearingFullName;
    try {
        mapName = LiveLogObjectName(baseName, kZelLiveLogMapSuffix);
        lockName = LiveLogObjectName(baseName, kZelLiveLogLockSuffix);
        nearingFullName = LiveLogObjectName(baseName, kZelLiveLogNearingFullSuffix);
    } catch (...) {
        return Fail(static_cast<uint32_t>(E_OUTOFMEMORY));
    }

    // Writers only join a ring that a viewer made.
    if (!win32::UniqueHandle(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mapName.c_str())) ||
        !win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, nearingFullName.c_str())) ||
        !win32::UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, lockName.c_str()))) {
        return Fail(kZelLiveLogNotOpen);
    }

    try {
        m_lock = std::make_shared<CZelMutex>(false, lockName.c_str());
        SharedSecurityAttributes attributes;
        m_nearingFull = std::make_shared<CZelEvent>(false, false, nearingFullName.c_str(), attributes.get());
    } catch (...) {
        const DWORD error = ::GetLastError();
        return FailAndClose(error ? error : static_cast<uint32_t>(E_FAIL));
    }

    if (uint64_t{static_cast<uint32_t>(capacity)} * kZelLiveLogRecordSize > kZelLiveLogMaxRecordArea) {
        return FailAndClose(kZelLiveLogTooLarge);
    }
    const size_t ringBytes = LiveLogRingBytes(static_cast<uint32_t>(capacity));

    m_mapping.reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mapName.c_str()));
    if (!m_mapping) {
        SharedSecurityAttributes attributes;
        m_mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, attributes.get(), PAGE_READWRITE, 0,
                                             static_cast<DWORD>(ringBytes), mapName.c_str()));
    }
    if (m_mapping) m_view.reset(::MapViewOfFile(m_mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!m_view) return FailAndClose(::GetLastError());

    // A mapping smaller than its header claims would let appends run past
    // the view: such a ring is refused like any other mismatch.
    MEMORY_BASIC_INFORMATION region{};
    if (!::VirtualQuery(m_view.get(), &region, sizeof(region)) || region.RegionSize < ringBytes) {
        return FailAndClose(kZelLiveLogBadHeader);
    }
    m_mappedSize = region.RegionSize;
    m_header = static_cast<LiveLogHeader*>(m_view.get());
    m_records = reinterpret_cast<LiveLogRecord*>(static_cast<uint8_t*>(m_view.get()) + sizeof(LiveLogHeader));

    m_threshold = static_cast<uint32_t>(uint64_t{m_header->capacity} * 4 / 5);
    if (m_threshold == 0) m_threshold = m_header->capacity;

    CZelSingleLock lock(m_lock.get(), false);
    if (!lock.Lock(kLockTimeoutMs)) return FailAndClose(kZelLiveLogLockFailed);
    const bool matches = m_header->version == kZelLiveLogVersion && m_header->recordSize == kZelLiveLogRecordSize &&
                         m_header->capacity == static_cast<uint32_t>(capacity);
    lock.Unlock();
    if (!matches) return FailAndClose(kZelLiveLogBadHeader);

    m_capacity = static_cast<uint32_t>(capacity);
    return 0;
}

uint32_t CZelLiveLogWriter::Append(const LiveLogRecord& record) noexcept {
    if (!IsOpen()) return Fail(kZelLiveLogNotOpen);
    CZelSingleLock lock(m_lock.get(), false);
    if (!lock.Lock(kLockTimeoutMs)) return Fail(kZelLiveLogLockFailed);

    // Other processes write this header: an index or count out of range
    // must not steer a write outside the ring.
    const uint32_t count = m_header->recordCount;
    const uint32_t index = m_header->writeIndex;
    if (count > m_capacity || index >= m_capacity) return Fail(kZelLiveLogBadHeader);

    if (count >= m_threshold) m_nearingFull->Set();
    if (count == m_capacity) return Fail(kZelLiveLogFull);

    LiveLogRecord& slot = m_records[index];
    slot.kind = record.kind;
    slot.length = record.length;
    slot.status = record.status;
    std::memcpy(slot.data, record.data, sizeof(slot.data));
    m_header->writeIndex = index + 1 == m_capacity ? 0 : index + 1;
    m_header->recordCount = count + 1;
    return 0;
}

void CZelLiveLogWriter::Close() noexcept {
    m_lock.reset();
    m_nearingFull.reset();
    m_view.reset();
    m_mapping.reset();
    m_mappedSize = 0;
    m_threshold = 0;
    m_header = nullptr;
    m_records = nullptr;
    m_capacity = 0;
}

}  // namespace orvo
