// Another process of the capture source's system tests (test code):
//
//   capture_peer hold-mutex READY_EVENT MS   owns the table mutex for MS ms
//   capture_peer die-holding READY_EVENT     owns it and exits without release
//   capture_peer open DEVICE_ID              tries to open the camera; exit 0
//                                            when it opened, 3 when in use
//   capture_peer stream-exit CLSID READY     streams through a graph and
//                                            leaves main mid-stream
//   capture_peer stream-hold CLSID READY     streams until it is ended
#include <windows.h>

#include <cstdio>
#include <string>

#include "capture_source/capture_rig.h"
#include "tools/vcapture/capture_graph.h"

using namespace orvo::test;

namespace {

HANDLE OpenReady(const wchar_t* name) { return ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name); }

int HoldMutex(const wchar_t* ready, DWORD ms, bool die) {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kTableMutexName);
    if (!mutex || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 1;
    ::SetEvent(OpenReady(ready));
    if (die) ::ExitProcess(7);
    ::Sleep(ms);
    ::ReleaseMutex(mutex);
    return 0;
}

int Open(int deviceId) {
    Library library;
    if (!library.Start()) return 1;
    int handle = 0;
    const int32_t result = library.api.orvo_Open(deviceId, &handle);
    std::printf("open 0x%08X\n", static_cast<unsigned>(result));
    if (result == ORVO_OK) library.api.orvo_Close(handle);
    return result == ORVO_OK ? 0 : result == ORVO_E_IN_USE ? 3 : 1;
}

int StreamAndExit(const wchar_t* clsidText, const wchar_t* ready, bool hold) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid{};
    if (FAILED(::CLSIDFromString(clsidText, &clsid))) return 2;
    vcapture::ComPtr<IBaseFilter> filter;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.put_void()))) return 3;
    // Leaked on purpose: the process leaves with the graph running.
    auto* graph = new vcapture::CaptureGraph;
    if (FAILED(graph->Build(filter.get(), true)) || FAILED(graph->Run())) return 4;
    for (int i = 0; i < 500 && graph->counter.Snapshot().samples < 3; ++i) orvo::win32::WaitPumpingMessages(nullptr, 20);
    ::SetEvent(OpenReady(ready));
    while (hold) orvo::win32::WaitPumpingMessages(nullptr, 1000);
    std::printf("streaming %ld\n", graph->counter.Snapshot().samples);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold-mutex" && argc >= 4) return HoldMutex(argv[2], static_cast<DWORD>(_wtoi(argv[3])), false);
    if (mode == L"die-holding" && argc >= 3) return HoldMutex(argv[2], 0, true);
    if (mode == L"open" && argc >= 3) return Open(_wtoi(argv[2]));
    if (mode == L"stream-exit" && argc >= 4) return StreamAndExit(argv[2], argv[3], false);
    if (mode == L"stream-hold" && argc >= 4) return StreamAndExit(argv[2], argv[3], true);
    return 2;
}
