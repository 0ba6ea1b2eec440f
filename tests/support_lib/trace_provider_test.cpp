// The trace provider as a session sees it (through the ETW seam): level and
// flag filtering, the module-information event first, message numbers, and
// the live log fed while a viewer announces itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>

#include "fake_etw_session.h"
#include "support/livelog/live_log.h"
#include "support/trace/module_info.h"
#include "support/trace/zel_trace.h"
#include "test_ring.h"

namespace orvo {
namespace {

using test::EventClass;
using test::EventLevel;
using test::EventMessageNumber;
using test::FakeEtwSession;

constexpr uint32_t kFlags = 2;

// One statement of each level, as the capture source writes them.
void TraceEachLevel(CZelTraceProvider& provider) {
    ZEL_TRACE(provider, kZelLevelError, kFlags, int32_t{-1});
    ZEL_TRACE(provider, kZelLevelWarning, kFlags, int32_t{-2});
    ZEL_TRACE(provider, kZelLevelInformation, kFlags, int32_t{-3});
}

class TraceProviderTest : public ::testing::Test {
protected:
    FakeEtwSession session;
    CZelTraceProvider provider{kZelProviderAGuid, FakeEtwSession::Api()};
};

TEST_F(TraceProviderTest, RegistersBothEventClassesAndUnregistersAtTheEnd) {
    ASSERT_TRUE(provider.IsRegistered());
    {
        CZelTraceProvider second(kZelProviderBGuid, FakeEtwSession::Api());
        ASSERT_EQ(session.ActiveRegistrations(), 2u);
    }
    ASSERT_EQ(session.ActiveRegistrations(), 1u);
    const auto& r = session.Registrations().front();
    EXPECT_EQ(r.control, kZelProviderAGuid);
    ASSERT_EQ(r.traceGuids.size(), 2u);
    EXPECT_EQ(r.traceGuids[0], kZelMessageEventGuid);
    EXPECT_EQ(r.traceGuids[1], kZelModuleInfoEventGuid);
    EXPECT_EQ(provider.Module(), ::GetModuleHandleW(nullptr));
}

TEST_F(TraceProviderTest, LevelThreeWithFlagsTwoPassesErrorsAndWarningsOnly) {
    TraceEachLevel(provider);
    EXPECT_TRUE(session.events.empty()) << "nothing before a session enables the provider";

    ASSERT_EQ(session.Enable(kZelProviderAGuid, 3, 2), ERROR_SUCCESS);
    ASSERT_EQ(session.events.size(), 1u) << "enabling sends exactly the module information";
    EXPECT_EQ(session.events[0].size(), 1648u);
    EXPECT_EQ(EventClass(session.events[0]), kZelModuleInfoEventGuid);

    TraceEachLevel(provider);
    ASSERT_EQ(session.events.size(), 3u);
    EXPECT_EQ(EventLevel(session.events[1]), kZelLevelError);
    EXPECT_EQ(EventLevel(session.events[2]), kZelLevelWarning);
    EXPECT_EQ(EventClass(session.events[1]), kZelMessageEventGuid);

    session.events.clear();
    ASSERT_EQ(session.Enable(kZelProviderAGuid, 4, 1), ERROR_SUCCESS);
    TraceEachLevel(provider);
    EXPECT_EQ(session.events.size(), 1u) << "flags 1 pass none of the statements with mask 2";

    session.events.clear();
    ASSERT_EQ(session.Disable(kZelProviderAGuid), ERROR_SUCCESS);
    TraceEachLevel(provider);
    EXPECT_TRUE(session.events.empty());
    EXPECT_FALSE(provider.IsEnabled(1, 0xFFFFFFFF));
    EXPECT_EQ(provider.LoggerHandle(), 0u);
}

TEST_F(TraceProviderTest, OtherControlCodesAreRefused) {
    EXPECT_EQ(session.Control(kZelProviderAGuid, WMI_GET_ALL_DATA), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(session.Control(kZelProviderAGuid, WMI_ENABLE_COLLECTION), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CZelTraceProvider::ControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(provider.IsEnabled(1, 0xFFFFFFFF));
}

TEST_F(TraceProviderTest, MessageNumbersAreStatementLocationsInTheModule) {
    session.Enable(kZelProviderAGuid, 4, kFlags);
    session.events.clear();
    for (int i = 0; i < 2; ++i) TraceEachLevel(provider);
    ASSERT_EQ(session.events.size(), 6u);
    std::set<uint32_t> numbers;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(EventMessageNumber(session.events[i]), EventMessageNumber(session.events[i + 3]))
            << "one statement, one number";
        numbers.insert(EventMessageNumber(session.events[i]));
    }
    EXPECT_EQ(numbers.size(), 3u) << "each statement has a number of its own";

    // Each number is an offset into this module's code.
    const auto* base = reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* text = IMAGE_FIRST_SECTION(nt);
    ASSERT_EQ(std::memcmp(text->Name, ".text", 5), 0);
    for (uint32_t n : numbers) {
        EXPECT_GE(n, text->VirtualAddress);
        EXPECT_LT(n, text->VirtualAddress + text->Misc.VirtualSize);
    }
    uint64_t loadAddress;
    std::memcpy(&loadAddress, session.events[0].data() + offsetof(TraceEventBuffer, loadAddress), 8);
    EXPECT_EQ(loadAddress, EventLoadAddress(base));
}

TEST_F(TraceProviderTest, ArgumentsTravelAndAnOverfullStatementIsNotWritten) {
    session.Enable(kZelProviderAGuid, 4, kFlags);
    session.events.clear();
    const GUID guid = kZelProviderBGuid;
    ZEL_TRACE(provider, kZelLevelError, kFlags, static_cast<const char*>(nullptr), guid, uint32_t{7});
    ASSERT_EQ(session.events.size(), 1u);
    EXPECT_EQ(session.events[0].size(), 64u + 15 + 55 + 5);
    EXPECT_EQ(session.events[0][64], kZelArgWideString);

    const std::wstring huge(5000, L'x');
    ZEL_TRACE(provider, kZelLevelError, kFlags, huge.c_str(), 1);
    EXPECT_EQ(session.events.size(), 1u) << "an argument that cannot be appended drops the event";
    ZEL_TRACE(provider, kZelLevelError, kFlags, huge.c_str());
    ASSERT_EQ(session.events.size(), 2u);
    EXPECT_EQ(session.events[1].size(), 64u + 8191);

    ZEL_TRACE(provider, kZelLevelError, kFlags);
    ASSERT_EQ(session.events.size(), 3u);
    EXPECT_EQ(session.events[2].size(), 64u) << "a statement without arguments";
}

TEST_F(TraceProviderTest, NoAnnouncementMeansNoLiveLog) {
    session.Enable(kZelProviderAGuid, 4, kFlags);
    EXPECT_FALSE(provider.IsLiveLogAttached());
    EXPECT_FALSE(CZelLiveLog::Instance().HasWriter());
}

TEST_F(TraceProviderTest, AnnouncementWithoutRingLeavesTheWriterClosed) {
    test::Announcement announcement;
    ASSERT_TRUE(announcement);
    session.Enable(kZelProviderAGuid, 4, kFlags);
    EXPECT_TRUE(provider.IsLiveLogAttached());
    EXPECT_TRUE(CZelLiveLog::Instance().HasWriter());
    EXPECT_EQ(CZelLiveLog::Instance().WriterLastError(), kZelLiveLogNotOpen);
    session.events.clear();
    TraceEachLevel(provider);
    EXPECT_EQ(session.events.size(), 3u) << "events still reach ETW";
    session.Disable(kZelProviderAGuid);
    EXPECT_FALSE(CZelLiveLog::Instance().HasWriter());
}

TEST_F(TraceProviderTest, EventsAreMirroredIntoTheViewersRing) {
    test::TestRing ring(kZelLiveLogBaseName);
    ASSERT_TRUE(ring.Ready());
    test::Announcement announcement;
    CZelTraceProvider providerB(kZelProviderBGuid, FakeEtwSession::Api());

    session.Enable(kZelProviderAGuid, 4, kFlags);
    session.Enable(kZelProviderBGuid, 4, kFlags);
    ASSERT_TRUE(provider.IsLiveLogAttached());
    EXPECT_EQ(CZelLiveLog::Instance().AttachedSessions(), 2u);
    TraceEachLevel(provider);
    ZEL_TRACE(providerB, kZelLevelWarning, kFlags, L"from B");

    ASSERT_EQ(ring.Header().recordCount, 6u) << "two module infos, three statements of A, one of B";
    const LiveLogRecord& first = ring.Record(0);
    EXPECT_EQ(first.kind, 1u);
    EXPECT_EQ(first.status, 1u);
    EXPECT_EQ(first.length, 1648u);
    ZelEventHeader header;
    std::memcpy(&header, first.data, sizeof(header));
    EXPECT_EQ(header.guid, kZelModuleInfoEventGuid);
    EXPECT_EQ(header.processId, ::GetCurrentProcessId()) << "the live log stamps the header";
    EXPECT_EQ(header.threadId, ::GetCurrentThreadId());
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const int64_t nowStamp = static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    EXPECT_LE(header.timeStamp, nowStamp);
    EXPECT_GT(header.timeStamp, nowStamp - 600'000'000) << "stamped within the last minute";

    const LiveLogRecord& info = ring.Record(4);
    EXPECT_EQ(info.length, 69u);
    EXPECT_EQ(info.data[5], kZelLevelInformation);
    for (size_t i = info.length; i < sizeof(info.data); ++i) ASSERT_EQ(info.data[i], 0) << "zero after the event";

    // The writer lives while any session feeds it.
    session.Disable(kZelProviderAGuid);
    EXPECT_TRUE(CZelLiveLog::Instance().HasWriter());
    session.Disable(kZelProviderBGuid);
    EXPECT_FALSE(CZelLiveLog::Instance().HasWriter());
    TraceEachLevel(provider);
    EXPECT_EQ(ring.Header().recordCount, 6u);
}

TEST_F(TraceProviderTest, EnablingAgainDoesNotLeaveAnAttachmentBehind) {
    test::TestRing ring(kZelLiveLogBaseName);
    test::Announcement announcement;
    session.Enable(kZelProviderAGuid, 3, kFlags);
    session.Enable(kZelProviderAGuid, 4, kFlags);  // the session changes its level
    EXPECT_EQ(CZelLiveLog::Instance().AttachedSessions(), 1u);
    session.Disable(kZelProviderAGuid);
    EXPECT_EQ(CZelLiveLog::Instance().AttachedSessions(), 0u);
    EXPECT_FALSE(CZelLiveLog::Instance().HasWriter());
}

// The module's own providers talk to the system's ETW, which registers them
// and (under Wine) never enables them.
TEST(ModuleProviders, BothAreRegisteredAtLoadAndStayDisabled) {
    EXPECT_TRUE(ZelProviderA().IsRegistered());
    EXPECT_TRUE(ZelProviderB().IsRegistered());
    EXPECT_NE(&ZelProviderA(), &ZelProviderB());
    EXPECT_FALSE(ZelProviderA().IsEnabled(1, 0xFFFFFFFF));
    ZEL_TRACE(ZelProviderA(), kZelLevelError, kFlags, int32_t{1});  // a disabled statement does nothing
    EXPECT_FALSE(ZelProviderA().IsLiveLogAttached());
}

}  // namespace
}  // namespace orvo
