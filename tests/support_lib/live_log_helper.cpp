// A tracing process for the live-log tests.
//
//   live_log_helper write BASE CAPACITY COUNT TAG START_EVENT RETRY|DROP
//       Appends COUNT message events (arguments: TAG, sequence number) to
//       the ring BASE once START_EVENT is set; with RETRY a full ring is
//       waited out, with DROP the record is given up. Prints
//       "appended A dropped D codes C1,C2..." (distinct failure codes).
//   live_log_helper trace
//       Waits for a viewer's announcement, enables provider A through a
//       fake session and writes the statements the viewer tests expect.
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>

#include "fake_etw_session.h"
#include "support/livelog/live_log_writer.h"
#include "support/trace/trace_event_builder.h"
#include "support/trace/zel_trace.h"
#include "win32/unique_handle.h"

namespace {

using namespace orvo;

int Write(const wchar_t* base, int capacity, unsigned count, unsigned tag, const wchar_t* startEvent, bool retry) {
    CZelLiveLogWriter writer;
    if (const uint32_t result = writer.Open(base, capacity)) {
        std::printf("open failed 0x%08X\n", result);
        return 1;
    }
    win32::UniqueHandle start(::OpenEventW(SYNCHRONIZE, FALSE, startEvent));
    if (!start || ::WaitForSingleObject(start.get(), 30000) != WAIT_OBJECT_0) {
        std::printf("no start signal\n");
        return 1;
    }
    unsigned appended = 0, dropped = 0;
    std::set<uint32_t> codes;
    for (unsigned seq = 0; seq < count; ++seq) {
        TraceEventBuilder event(kZelLevelInformation, 0x100, 0, ::GetCurrentProcessId());
        event.Append(uint32_t{tag}, uint32_t{seq});
        LiveLogRecord record{};
        record.kind = kZelRecordKindTraceEvent;
        record.status = kZelRecordComplete;
        record.length = event.Event().header.size;
        std::memcpy(record.data, &event.Event(), record.length);
        // A viewer that stops draining must not keep the writer forever.
        for (int attempt = 0;; ++attempt) {
            const uint32_t result = writer.Append(record);
            if (result == 0) {
                ++appended;
                break;
            }
            codes.insert(result);
            if (!retry || result != kZelLiveLogFull || attempt == 20000) {
                ++dropped;
                break;
            }
            ::Sleep(1);
        }
    }
    std::printf("appended %u dropped %u codes", appended, dropped);
    for (uint32_t code : codes) std::printf(" 0x%08X", code);
    std::printf("\n");
    return 0;
}

int Trace() {
    for (int i = 0; i < 1000 && !win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName)); ++i) {
        ::Sleep(10);
    }
    test::FakeEtwSession session;
    CZelTraceProvider provider(kZelProviderAGuid, test::FakeEtwSession::Api());
    session.Enable(kZelProviderAGuid, kZelLevelInformation, 2);
    if (!provider.IsLiveLogAttached()) {
        std::printf("no viewer\n");
        return 1;
    }
    const GUID guid = kZelProviderBGuid;
    ZEL_TRACE(provider, kZelLevelError, 2, int32_t{-5}, "narrow", L"wide \u00e9");  // decode-marker-error
    ZEL_TRACE(provider, kZelLevelWarning, 2, uint64_t{1234567890123ull}, guid);  // decode-marker-warning
    ZEL_TRACE(provider, kZelLevelInformation, 2, static_cast<const wchar_t*>(nullptr));  // decode-marker-info
    ZEL_TRACE(provider, kZelLevelInformation, 1, int32_t{99});  // masked out: never written
    session.Disable(kZelProviderAGuid);
    std::printf("traced\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"write" && argc == 8) {
        return Write(argv[2], _wtoi(argv[3]), static_cast<unsigned>(_wtoi(argv[4])),
                     static_cast<unsigned>(_wtoi(argv[5])), argv[6], std::wstring(argv[7]) == L"RETRY");
    }
    if (mode == L"trace" && argc == 2) return Trace();
    std::printf("usage: live_log_helper write BASE CAPACITY COUNT TAG START_EVENT RETRY|DROP | trace\n");
    return 2;
}
