// The viewer's decoding of records that other processes wrote: readable
// lines for sound events, and bounded, clear output for damaged ones.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/livelog/live_log_layout.h"
#include "support/trace/module_info.h"
#include "support/trace/trace_event_builder.h"
#include "tools/zellog/event_format.h"

namespace orvo::zellog {
namespace {

std::string Format(EventFormatter& f, const void* event, uint32_t length) {
    std::vector<uint8_t> data(kZelLiveLogDataBytes, 0);
    std::memcpy(data.data(), event, length);
    return f.FormatRecord(kZelRecordKindTraceEvent, length, kZelRecordComplete, data.data(), data.size());
}

TEST(EventFormat, MessageLineNamesTimeProcessLevelModuleNumberAndArguments) {
    EventFormatter f;
    ModuleInfoEvent info;
    BuildModuleInfoEvent(::GetModuleHandleW(nullptr), info);
    info.header.processId = 42;
    info.header.threadId = 43;
    info.header.timeStamp = 133'000'000'000'000'000;  // 2022-06-18 04:26:40 UTC
    const std::string infoLine = Format(f, &info, sizeof(info));
    EXPECT_EQ(infoLine.rfind("2022-06-18 04:26:40.000 UTC pid 42 tid 43 module  \"", 0), 0u) << infoLine;

    TraceEventBuilder b(kZelLevelWarning, 0x1A2B, info.loadAddress, 42);
    ASSERT_TRUE(b.Append(int32_t{-7}, uint32_t{10}, "t\x01", L"w"));
    b.Event().header.processId = 42;
    b.Event().header.threadId = 44;
    const std::string line = Format(f, &b.Event(), b.Event().header.size);
    EXPECT_NE(line.find("pid 42 tid 44 warning support_lib_event_format_test.exe msg 0x00001A2B: "
                        "i32 -7, u32 10 (0xA), str \"t\\x01\", wstr \"w\""),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("(no time)"), std::string::npos);
}

TEST(EventFormat, CutAndUnknownArgumentsAreShownAsSuch) {
    const uint8_t cutString[] = {5, 'a', 'b'};
    EXPECT_EQ(FormatArguments(cutString, sizeof(cutString)), "str \"ab\" (cut)");
    const uint8_t cutWide[] = {6, 'a', 0, 'b'};
    EXPECT_EQ(FormatArguments(cutWide, sizeof(cutWide)), "wstr \"a\" (cut)");
    const uint8_t shortInt[] = {1, 1, 2};
    EXPECT_EQ(FormatArguments(shortInt, sizeof(shortInt)), "(cut)");
    const uint8_t unknown[] = {2, 1, 0, 0, 0, 77, 1, 2};
    EXPECT_EQ(FormatArguments(unknown, sizeof(unknown)), "u32 1 (0x1), (unknown type 77)");
    const uint8_t bytes[] = {10, 0xDE, 0xAD};
    EXPECT_EQ(FormatArguments(bytes, sizeof(bytes)), "bytes[2] DE AD");
    const uint8_t surrogates[] = {6, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 0, 0};
    EXPECT_EQ(FormatArguments(surrogates, sizeof(surrogates)), "wstr \"\xF0\x9F\x98\x80\xEF\xBF\xBD\"");
}

TEST(EventFormat, DamagedRecordsAreReportedNotRead) {
    EventFormatter f;
    uint8_t data[kZelLiveLogDataBytes] = {};
    EXPECT_EQ(f.FormatRecord(7, 10, 1, data, sizeof(data)), "record of unknown kind 7");
    EXPECT_EQ(f.FormatRecord(1, 0, 2, data, sizeof(data)), "event larger than a record (not stored)");
    EXPECT_EQ(f.FormatRecord(1, 5000, 1, data, sizeof(data)), "record with bad length 5000");
    data[0] = 0xFF;  // size 255 beyond the record's length
    EXPECT_EQ(f.FormatRecord(1, 100, 1, data, sizeof(data)), "event with bad size 255");

    // Random bytes of every length never read outside the record.
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        const uint32_t length = random() % (kZelLiveLogDataBytes + 1);
        std::vector<uint8_t> bytes(length);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        if (length >= 2) {
            const uint16_t size = static_cast<uint16_t>(length - random() % 3 * (length > 64));
            std::memcpy(bytes.data(), &size, 2);
        }
        if (length >= 40 && round % 2) std::memcpy(bytes.data() + 24, &kZelMessageEventGuid, 16);
        f.FormatRecord(1, length, 1, bytes.data(), bytes.size());
        FormatArguments(bytes.data(), bytes.size());
    }
}

}  // namespace
}  // namespace orvo::zellog
