// The live log's shared objects and ring layout, as the log viewer creates
// them and the writers of every process attach to them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

constexpr const wchar_t* kZelLiveLogBaseName = L"ZelLiveLogData";
constexpr const wchar_t* kZelLiveLogEnabledName = L"ZelLiveLogEnabled";
constexpr const wchar_t* kZelLiveLogMapSuffix = L"Map";
constexpr const wchar_t* kZelLiveLogLockSuffix = L"Lock";
constexpr const wchar_t* kZelLiveLogNearingFullSuffix = L"NearingFullEvent";

constexpr uint32_t kZelLiveLogVersion = 1;
constexpr uint32_t kZelLiveLogDataBytes = 2048;
constexpr uint32_t kZelLiveLogRecordSize = 2060;
constexpr uint32_t kZelLiveLogMaxRecordArea = 0x1400000;  // 20 MiB of records
constexpr int kZelLiveLogDefaultCapacity = 2000;

constexpr uint32_t kZelRecordKindTraceEvent = 1;
constexpr uint32_t kZelRecordComplete = 1;
constexpr uint32_t kZelRecordTooLarge = 2;

// Writer results besides 0, E_INVALIDARG and system error codes.
constexpr uint32_t kZelLiveLogLockFailed = 0x83E80001;
constexpr uint32_t kZelLiveLogAlreadyOpen = 0x83E80002;
constexpr uint32_t kZelLiveLogNotOpen = 0x83E80003;
constexpr uint32_t kZelLiveLogTooLarge = 0x83E80004;
constexpr uint32_t kZelLiveLogBadHeader = 0x83E80005;
constexpr uint32_t kZelLiveLogFull = 0x83E80006;

struct LiveLogHeader {
    uint32_t version;
    uint32_t capacity;
    uint32_t recordSize;
    uint32_t readerReserved1;  // the viewer's own; writers never touch it
    uint32_t readerReserved2;
    uint32_t writeIndex;
    uint32_t recordCount;
};
static_assert(sizeof(LiveLogHeader) == 28 && offsetof(LiveLogHeader, writeIndex) == 20);

struct LiveLogRecord {
    uint32_t kind;
    uint32_t length;
    uint32_t status;
    uint8_t data[kZelLiveLogDataBytes];
};
static_assert(sizeof(LiveLogRecord) == kZelLiveLogRecordSize && offsetof(LiveLogRecord, data) == 12);

constexpr size_t LiveLogRingBytes(uint32_t capacity) noexcept {
    return size_t{capacity} * kZelLiveLogRecordSize + sizeof(LiveLogHeader);
}

// base "_" suffix "_" "_6BFF9DCA-...": two underscores stand before the GUID.
inline std::wstring LiveLogObjectName(const std::wstring& base, const wchar_t* suffix) {
    return base + L"_" + suffix + L"_" + L"_6BFF9DCA-FA28-46AD-9A6C-4961AEDC5E14";
}

}  // namespace orvo
