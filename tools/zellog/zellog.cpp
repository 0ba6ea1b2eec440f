// zellog.exe: a live-log viewer. Creates the live log's objects, prints every
// trace event that tracing modules of this session append, and optionally
// saves the raw records for decoding elsewhere (zeldecode.py).
//
//   zellog [--capacity N] [--count N] [--timeout SECONDS] [--save FILE]
//
// Exit codes: 0 done (Ctrl+C or --count reached), 1 bad command line or a
// system failure, 2 another viewer owns the live log, 3 --timeout ran out.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/zellog/event_format.h"
#include "tools/zellog/live_log_viewer.h"
#include "tools/zellog/saved_log.h"
#include "win32/unique_handle.h"

namespace {

using namespace orvo;
using namespace orvo::zellog;

struct Options {
    uint32_t capacity = kZelLiveLogDefaultCapacity;
    uint64_t count = 0;  // 0: no limit
    DWORD timeoutMs = INFINITE;
    std::wstring savePath;
};

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::SetEvent(g_stop);
    return TRUE;
}

bool ParseNumber(const wchar_t* text, uint64_t max, uint64_t& value) {
    if (!text || !*text) return false;
    wchar_t* end = nullptr;
    const unsigned long long parsed = std::wcstoull(text, &end, 10);
    if (*end != L'\0' || text[0] == L'-' || parsed > max) return false;
    value = parsed;
    return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    const uint64_t maxCapacity = kZelLiveLogMaxRecordArea / kZelLiveLogRecordSize;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
        uint64_t number = 0;
        if (name == L"--capacity" && ParseNumber(value, maxCapacity, number) && number > 0) {
            options.capacity = static_cast<uint32_t>(number);
        } else if (name == L"--count" && ParseNumber(value, UINT64_MAX, number)) {
            options.count = number;
        } else if (name == L"--timeout" && ParseNumber(value, 86400, number)) {
            options.timeoutMs = static_cast<DWORD>(number * 1000);
        } else if (name == L"--save" && value && *value) {
            options.savePath = value;
        } else {
            std::fprintf(stderr,
                         "usage: zellog [--capacity 1..%llu] [--count N] [--timeout SECONDS] [--save FILE]\n",
                         static_cast<unsigned long long>(maxCapacity));
            return false;
        }
        ++i;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 1;

    win32::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stop = stop.get();
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    SavedLogFile saved;
    if (!options.savePath.empty() && !saved.Create(options.savePath)) {
        std::fprintf(stderr, "zellog: cannot create the save file (error %lu)\n", ::GetLastError());
        return 1;
    }

    LiveLogViewer viewer;
    switch (viewer.Create(options.capacity)) {
    case LiveLogViewer::Result::Ok: break;
    case LiveLogViewer::Result::AlreadyRunning:
        std::fprintf(stderr, "zellog: another viewer already owns the live log of this session\n");
        return 2;
    case LiveLogViewer::Result::RingInUse:
        std::fprintf(stderr, "zellog: tracing processes still hold a live log of another size; "
                             "run with the capacity they use or restart them\n");
        return 2;
    case LiveLogViewer::Result::Failed:
        std::fprintf(stderr, "zellog: cannot create the live log objects (error %lu)\n", viewer.LastError());
        return 1;
    }
    std::printf("zellog: listening (capacity %u records); Ctrl+C ends\n", options.capacity);
    std::fflush(stdout);

    EventFormatter formatter;
    std::vector<LiveLogRecord> records;
    records.reserve(options.capacity);
    uint64_t shown = 0;
    const ULONGLONG deadline = options.timeoutMs == INFINITE ? 0 : ::GetTickCount64() + options.timeoutMs;
    int exitCode = 0;
    const HANDLE waits[] = {stop.get(), viewer.NearingFullEvent()};
    for (;;) {
        const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, 20);
        if (!viewer.Drain(records)) {
            std::fprintf(stderr, "zellog: the live log's lock could not be taken\n");
        }
        for (const LiveLogRecord& record : records) {
            if (options.count && shown == options.count) break;
            const std::string line =
                formatter.FormatRecord(record.kind, record.length, record.status, record.data, sizeof(record.data));
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            saved.Append(record);
            ++shown;
        }
        std::fflush(stdout);
        if (woke == WAIT_OBJECT_0 || (options.count && shown >= options.count)) break;
        if (deadline && ::GetTickCount64() >= deadline) {
            exitCode = 3;
            break;
        }
    }
    viewer.Withdraw();
    std::fprintf(stderr, "zellog: %llu events shown\n", static_cast<unsigned long long>(shown));
    return exitCode;
}
