// The live log across processes: writer processes, the zellog viewer and a
// tracing process, all in one Wine prefix as in one logon session.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/livelog/live_log_layout.h"
#include "test_ring.h"
#include "win32/unique_handle.h"

namespace orvo {
namespace {

using test::ChildProcess;
using test::ExeFolder;
using test::UniqueName;

bool WaitForViewer(DWORD timeoutMs = 10000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName))) return true;
        ::Sleep(10);
    }
    return false;
}

struct WriterReport {
    unsigned appended = 0;
    unsigned dropped = 0;
    std::string codes;
};

WriterReport ParseReport(const std::string& output) {
    WriterReport report;
    const size_t at = output.find("appended ");
    if (at == std::string::npos) return report;
    std::sscanf(output.c_str() + at, "appended %u dropped %u", &report.appended, &report.dropped);
    const size_t codes = output.find("codes", at);
    if (codes != std::string::npos) report.codes = output.substr(codes + 5, output.find_first_of("\r\n", codes) - codes - 5);
    return report;
}

// Starts two writer processes that append `count` events each to `base`
// from a common start signal, and waits for their reports.
std::vector<WriterReport> RunTwoWriters(const std::wstring& base, int capacity, unsigned count, const wchar_t* mode) {
    const std::wstring startName = UniqueName(L"ZelWritersStart");
    win32::UniqueHandle start(::CreateEventW(nullptr, TRUE, FALSE, startName.c_str()));
    ChildProcess writers[2];
    for (unsigned tag = 0; tag < 2; ++tag) {
        const std::wstring args = L"write " + base + L" " + std::to_wstring(capacity) + L" " + std::to_wstring(count) +
                                  L" " + std::to_wstring(tag + 1) + L" " + startName + L" " + mode;
        EXPECT_TRUE(writers[tag].Start(ExeFolder() + L"live_log_helper.exe", args));
    }
    ::Sleep(200);  // both writers have opened the ring and wait
    ::SetEvent(start.get());
    std::vector<WriterReport> reports;
    for (ChildProcess& writer : writers) {
        EXPECT_EQ(writer.Wait(120000), 0) << writer.Output();
        reports.push_back(ParseReport(writer.Output()));
    }
    return reports;
}

TEST(LiveLogProcesses, TwoWritersAndTheViewerLoseNothingBelowCapacity) {
    ChildProcess viewer;
    ASSERT_TRUE(viewer.Start(ExeFolder() + L"zellog.exe", L"--count 10000 --timeout 120"));
    ASSERT_TRUE(WaitForViewer());
    // The viewer's output is read while the writers run: a full pipe would
    // stall the viewer and with it the ring.
    int viewerExit = -1;
    std::thread reader([&] { viewerExit = viewer.Wait(120000); });
    const auto reports = RunTwoWriters(kZelLiveLogBaseName, kZelLiveLogDefaultCapacity, 5000, L"RETRY");
    reader.join();
    ASSERT_EQ(viewerExit, 0) << "the viewer did not see 10,000 events";
    for (const WriterReport& report : reports) {
        EXPECT_EQ(report.appended, 5000u);
        EXPECT_EQ(report.dropped, 0u);
    }
    // Every appended event shown once, each writer's in its own order.
    std::map<unsigned, std::vector<unsigned>> seen;
    std::istringstream lines(viewer.Output());
    std::string line;
    while (std::getline(lines, line)) {
        unsigned tag = 0, seq = 0;
        const size_t args = line.find(": u32 ");
        if (args != std::string::npos && std::sscanf(line.c_str() + args, ": u32 %u (0x%*X), u32 %u", &tag, &seq) == 2) {
            seen[tag].push_back(seq);
        }
    }
    for (unsigned tag = 1; tag <= 2; ++tag) {
        ASSERT_EQ(seen[tag].size(), 5000u) << "writer " << tag;
        for (unsigned i = 0; i < 5000; ++i) ASSERT_EQ(seen[tag][i], i) << "writer " << tag;
    }
}

TEST(LiveLogProcesses, FullRingDropsWithoutOverwriting) {
    const std::wstring base = UniqueName(L"ZelRingShared");
    test::TestRing ring(base);  // a viewer that never drains
    ASSERT_TRUE(ring.Ready());
    const auto reports = RunTwoWriters(base, 2000, 1500, L"DROP");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].appended + reports[1].appended, 2000u);
    EXPECT_EQ(reports[0].dropped + reports[1].dropped, 1000u);
    for (const WriterReport& report : reports) {
        if (report.dropped) {
            EXPECT_EQ(report.codes, " 0x83E80006");
        }
    }
    EXPECT_EQ(ring.Header().recordCount, 2000u);
    EXPECT_EQ(ring.Header().writeIndex, 0u);
    EXPECT_TRUE(ring.TakeNearingFull());

    // Each writer's records held are exactly its first ones, in order.
    unsigned next[3] = {0, 0, 0};
    for (uint32_t i = 0; i < 2000; ++i) {
        uint32_t args[2];
        const LiveLogRecord& record = ring.Record(i);
        ASSERT_EQ(record.length, 64u + 10);
        std::memcpy(&args[0], record.data + 65, 4);
        std::memcpy(&args[1], record.data + 70, 4);
        ASSERT_TRUE(args[0] == 1 || args[0] == 2);
        ASSERT_EQ(args[1], next[args[0]]++) << "record " << i;
    }
    EXPECT_EQ(next[1], reports[0].appended);
    EXPECT_EQ(next[2], reports[1].appended);
}

void ExpectViewerShowsTheTraceOf(const std::wstring& helperFolder) {
    ChildProcess viewer;
    ASSERT_TRUE(viewer.Start(ExeFolder() + L"zellog.exe", L"--count 4 --timeout 60"));
    ASSERT_TRUE(WaitForViewer());
    ChildProcess tracer;
    ASSERT_TRUE(tracer.Start(helperFolder + L"live_log_helper.exe", L"trace"));
    ASSERT_EQ(tracer.Wait(), 0) << tracer.Output();
    ASSERT_EQ(viewer.Wait(60000), 0) << viewer.Output();

    const std::string out = viewer.Output();
    const std::string pid = "pid " + std::to_string(tracer.Pid()) + " ";
    const size_t module = out.find(" module  \"");
    const size_t error = out.find(" error   live_log_helper.exe msg 0x");
    ASSERT_NE(module, std::string::npos) << out;
    ASSERT_NE(error, std::string::npos) << out;
    EXPECT_LT(module, error) << "module information comes first";
    EXPECT_NE(out.find(pid), std::string::npos);
    EXPECT_NE(out.find("live_log_helper.exe\" at 0x"), std::string::npos);
    EXPECT_NE(out.find("i32 -5, str \"narrow\", wstr \"wide \xC3\xA9\""), std::string::npos) << out;
    EXPECT_NE(out.find("warning live_log_helper.exe msg 0x"), std::string::npos);
    EXPECT_NE(out.find("u64 1234567890123, u32 3259149267 (0xC242ABD3), i32 50883, i32 18893, i32 137"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("info    live_log_helper.exe msg 0x"), std::string::npos);
    EXPECT_NE(out.find("wstr \"(NULL)\""), std::string::npos);
    EXPECT_EQ(out.find("i32 99"), std::string::npos);
    EXPECT_NE(out.find(" UTC pid "), std::string::npos) << "time stamps shown in UTC";
}

TEST(LiveLogProcesses, ViewerShowsTheTraceStatementsOfAnotherProcess) { ExpectViewerShowsTheTraceOf(ExeFolder()); }

TEST(LiveLogProcesses, ViewerShowsATraceOfTheOtherBitness) {
    const std::wstring other = test::OtherArchFolder();
    if (other.empty()) GTEST_SKIP() << "the other architecture's programs cannot run here";
    ExpectViewerShowsTheTraceOf(other);
}

TEST(LiveLogProcesses, SecondViewerIsToldPlainly) {
    ChildProcess first;
    ASSERT_TRUE(first.Start(ExeFolder() + L"zellog.exe", L"--timeout 20"));
    ASSERT_TRUE(WaitForViewer());
    ChildProcess second;
    ASSERT_TRUE(second.Start(ExeFolder() + L"zellog.exe", L""));
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_NE(second.Output().find("another viewer already owns the live log"), std::string::npos) << second.Output();
    ::TerminateProcess(first.Process(), 0);
}

TEST(LiveLogProcesses, ViewerRefusesBadCommandLines) {
    for (const wchar_t* args : {L"--capacity 0", L"--capacity 10181", L"--count", L"--count -3", L"--what"}) {
        ChildProcess viewer;
        ASSERT_TRUE(viewer.Start(ExeFolder() + L"zellog.exe", args));
        EXPECT_EQ(viewer.Wait(), 1) << args;
        EXPECT_NE(viewer.Output().find("usage: zellog"), std::string::npos);
    }
    EXPECT_FALSE(win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName)));
}

}  // namespace
}  // namespace orvo
