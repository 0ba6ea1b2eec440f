// The live-log writer against rings made as a viewer makes them: refusals,
// the nearing-full signal, the drop at capacity and the wrap of the index.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <thread>

#include "support/child_process.h"
#include "support/livelog/live_log.h"
#include "support/livelog/live_log_writer.h"
#include "support/trace/trace_event.h"
#include "test_ring.h"

namespace orvo {
namespace {

using test::RingLayout;
using test::TestRing;
using test::UniqueName;

LiveLogRecord RecordWithTag(uint32_t tag) {
    LiveLogRecord record{};
    record.kind = kZelRecordKindTraceEvent;
    record.status = kZelRecordComplete;
    record.length = sizeof(tag);
    std::memcpy(record.data, &tag, sizeof(tag));
    return record;
}

uint32_t TagOf(const LiveLogRecord& record) {
    uint32_t tag;
    std::memcpy(&tag, record.data, sizeof(tag));
    return tag;
}

TEST(LiveLogWriterOpen, BadArgumentsAndMissingObjects) {
    CZelLiveLogWriter writer;
    EXPECT_EQ(writer.Open(L"", 10), static_cast<uint32_t>(E_INVALIDARG));
    EXPECT_EQ(writer.Open(nullptr, 10), static_cast<uint32_t>(E_INVALIDARG));
    EXPECT_EQ(writer.Open(L"ZelNoSuchRing", 0), static_cast<uint32_t>(E_INVALIDARG));
    EXPECT_EQ(writer.Open(L"ZelNoSuchRing", -1), static_cast<uint32_t>(E_INVALIDARG));
    const std::wstring base = UniqueName(L"ZelRingMissing");
    EXPECT_EQ(writer.Open(base.c_str(), 10), kZelLiveLogNotOpen);
    EXPECT_EQ(writer.LastError(), kZelLiveLogNotOpen);
    EXPECT_FALSE(win32::UniqueHandle(
        ::OpenMutexW(SYNCHRONIZE, FALSE, LiveLogObjectName(base, kZelLiveLogLockSuffix).c_str())))
        << "a writer creates none of the viewer's objects";
    EXPECT_EQ(writer.Append(RecordWithTag(1)), kZelLiveLogNotOpen);
}

TEST(LiveLogWriterOpen, MismatchingHeadersAreRefusedAndNeverWritten) {
    struct Case {
        const char* what;
        RingLayout layout;
        int requested;
    } cases[] = {
        {"record size 2048", {1, 50, 2048}, 50},
        {"version 2", {2, 50, kZelLiveLogRecordSize}, 50},
        {"capacity 40 for 50", {1, 40, kZelLiveLogRecordSize}, 50},
    };
    for (const Case& c : cases) {
        const std::wstring base = UniqueName(L"ZelRingBad");
        TestRing ring(base, c.layout, 50);
        ASSERT_TRUE(ring.Ready());
        CZelLiveLogWriter writer;
        EXPECT_EQ(writer.Open(base.c_str(), c.requested), kZelLiveLogBadHeader) << c.what;
        EXPECT_FALSE(writer.IsOpen()) << c.what;
        EXPECT_EQ(writer.Threshold(), 0u);
        EXPECT_EQ(writer.Append(RecordWithTag(1)), kZelLiveLogNotOpen) << c.what;
        EXPECT_EQ(ring.Header().recordCount, 0u) << c.what;
        EXPECT_EQ(ring.Record(0).kind, 0u) << c.what;
    }
}

TEST(LiveLogWriterOpen, RingSmallerThanItsHeaderClaimsIsRefused) {
    const std::wstring base = UniqueName(L"ZelRingShort");
    TestRing ring(base, RingLayout{1, 5000, kZelLiveLogRecordSize}, 10);
    ASSERT_TRUE(ring.Ready());
    CZelLiveLogWriter writer;
    EXPECT_EQ(writer.Open(base.c_str(), 5000), kZelLiveLogBadHeader);
}

TEST(LiveLogWriterOpen, CapacityBeyondTwentyMegabytesAndSecondOpen) {
    const std::wstring base = UniqueName(L"ZelRingLimits");
    TestRing ring(base, RingLayout{1, 10, kZelLiveLogRecordSize});
    ASSERT_TRUE(ring.Ready());
    CZelLiveLogWriter writer;
    EXPECT_EQ(writer.Open(base.c_str(), 10181), kZelLiveLogTooLarge) << "10181 x 2060 > 0x1400000";
    EXPECT_FALSE(writer.IsOpen());
    ASSERT_EQ(writer.Open(base.c_str(), 10), 0u);
    EXPECT_EQ(writer.Threshold(), 8u);
    EXPECT_EQ(writer.Open(base.c_str(), 10), kZelLiveLogAlreadyOpen);
    EXPECT_TRUE(writer.IsOpen());
    writer.Close();
    EXPECT_EQ(writer.LastError(), kZelLiveLogAlreadyOpen) << "closing keeps the last error";
    EXPECT_EQ(writer.Threshold(), 0u);
}

TEST(LiveLogWriterAppend, NearingFullOnEveryAppendAtThresholdThenDropWithoutOverwriting) {
    const std::wstring base = UniqueName(L"ZelRingFill");
    TestRing ring(base);
    ASSERT_TRUE(ring.Ready());
    CZelLiveLogWriter writer;
    ASSERT_EQ(writer.Open(base.c_str(), 2000), 0u);
    ASSERT_EQ(writer.Threshold(), 1600u);

    for (uint32_t i = 0; i < 1600; ++i) ASSERT_EQ(writer.Append(RecordWithTag(i)), 0u);
    EXPECT_FALSE(ring.TakeNearingFull()) << "no append found 1600 records held yet";
    for (uint32_t i = 1600; i < 2000; ++i) {
        ASSERT_EQ(writer.Append(RecordWithTag(i)), 0u);
        ASSERT_TRUE(ring.TakeNearingFull()) << "append " << i;
    }
    EXPECT_EQ(ring.Header().recordCount, 2000u);
    EXPECT_EQ(ring.Header().writeIndex, 0u) << "the index wrapped from 1999 to 0";

    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(writer.Append(RecordWithTag(9000 + i)), kZelLiveLogFull);
        EXPECT_TRUE(ring.TakeNearingFull()) << "a dropped append still signals";
    }
    EXPECT_EQ(ring.Header().recordCount, 2000u);
    for (uint32_t i = 0; i < 2000; ++i) ASSERT_EQ(TagOf(ring.Record(i)), i) << "record " << i << " overwritten";
    EXPECT_EQ(ring.Header().readerReserved1, 0u);
    EXPECT_EQ(ring.Header().readerReserved2, 0u);
}

TEST(LiveLogWriterAppend, WrapsAfterTheReaderDrainsAndClearsOldBytes) {
    const std::wstring base = UniqueName(L"ZelRingWrap");
    TestRing ring(base, RingLayout{1, 3, kZelLiveLogRecordSize});
    CZelLiveLogWriter writer;
    ASSERT_EQ(writer.Open(base.c_str(), 3), 0u);
    EXPECT_EQ(writer.Threshold(), 2u);
    LiveLogRecord big{};
    big.kind = 1;
    big.status = 1;
    big.length = 2048;
    std::memset(big.data, 0xAB, sizeof(big.data));
    ASSERT_EQ(writer.Append(big), 0u);
    ring.Header().recordCount = 0;  // the reader took it
    ASSERT_EQ(writer.Append(RecordWithTag(1)), 0u);
    ASSERT_EQ(writer.Append(RecordWithTag(2)), 0u);
    ASSERT_EQ(writer.Append(RecordWithTag(3)), 0u);
    EXPECT_EQ(ring.Header().writeIndex, 1u);
    EXPECT_EQ(TagOf(ring.Record(0)), 3u);
    EXPECT_EQ(ring.Record(0).length, 4u);
    EXPECT_EQ(ring.Record(0).data[4], 0) << "no bytes of the record it replaced";
}

TEST(LiveLogWriterAppend, HeaderSpoiledByAnotherProcessIsNotFollowed) {
    const std::wstring base = UniqueName(L"ZelRingSpoiled");
    TestRing ring(base, RingLayout{1, 4, kZelLiveLogRecordSize});
    CZelLiveLogWriter writer;
    ASSERT_EQ(writer.Open(base.c_str(), 4), 0u);
    ring.Header().writeIndex = 4000000;
    EXPECT_EQ(writer.Append(RecordWithTag(1)), kZelLiveLogBadHeader);
    ring.Header().writeIndex = 0;
    ring.Header().recordCount = 5;
    EXPECT_EQ(writer.Append(RecordWithTag(1)), kZelLiveLogBadHeader);
    ring.Header().recordCount = 0;
    ring.Header().capacity = 1000000;  // the capacity checked at open still rules
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(writer.Append(RecordWithTag(i)), 0u);
    EXPECT_EQ(writer.Append(RecordWithTag(5)), kZelLiveLogFull);
}

TEST(LiveLogWriterAppend, LockHeldByAHungViewerGivesUpInsteadOfHanging) {
    const std::wstring base = UniqueName(L"ZelRingHung");
    TestRing ring(base, RingLayout{1, 4, kZelLiveLogRecordSize});
    CZelLiveLogWriter writer;
    ASSERT_EQ(writer.Open(base.c_str(), 4), 0u);
    HANDLE taken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread viewer([&] {
        ::WaitForSingleObject(ring.Lock(), INFINITE);
        ::SetEvent(taken);
        ::WaitForSingleObject(release, 10000);
        ::ReleaseMutex(ring.Lock());
    });
    ::WaitForSingleObject(taken, 5000);
    EXPECT_EQ(writer.Append(RecordWithTag(1)), kZelLiveLogLockFailed);
    ::SetEvent(release);
    viewer.join();
    ::CloseHandle(taken);
    ::CloseHandle(release);
    EXPECT_EQ(writer.Append(RecordWithTag(1)), 0u);
}

TEST(LiveLog, WritesStampedEventsAndMarksOversizedOnes) {
    const std::wstring base = UniqueName(L"ZelRingLog");
    TestRing ring(base, RingLayout{1, 8, kZelLiveLogRecordSize});
    CZelLiveLog log(base, 8);
    ZelEventHeader event[2200 / sizeof(ZelEventHeader) + 1]{};
    event[0].size = 100;
    EXPECT_EQ(log.Write(reinterpret_cast<EVENT_TRACE_HEADER*>(event)), CZelLiveLog::kNotWritten)
        << "detached: nothing written";
    log.Attach(11);
    log.Attach(22);
    ASSERT_TRUE(log.HasWriter());
    EXPECT_EQ(log.WriterLastError(), 0u);
    EXPECT_EQ(log.Write(reinterpret_cast<EVENT_TRACE_HEADER*>(event)), CZelLiveLog::kWritten);
    EXPECT_EQ(event[0].threadId, ::GetCurrentThreadId());
    EXPECT_EQ(event[0].processId, ::GetCurrentProcessId());
    EXPECT_NE(event[0].timeStamp, 0);
    EXPECT_EQ(ring.Record(0).length, 100u);
    EXPECT_EQ(std::memcmp(ring.Record(0).data, event, 100), 0);

    event[0].size = 2100;
    EXPECT_EQ(log.Write(reinterpret_cast<EVENT_TRACE_HEADER*>(event)), CZelLiveLog::kWritten);
    EXPECT_EQ(ring.Record(1).status, 2u);
    EXPECT_EQ(ring.Record(1).length, 0u);
    EXPECT_EQ(ring.Record(1).data[0], 0);

    log.Detach(33);  // never attached: nothing changes
    log.Detach(11);
    EXPECT_TRUE(log.HasWriter());
    log.Detach(22);
    EXPECT_FALSE(log.HasWriter());
}

}  // namespace
}  // namespace orvo
