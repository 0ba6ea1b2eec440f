// Benchmark (run by hand or `./run bench`, never by CI): a command-and-status
// camera paced at 30 frames per second, at 1280 x 720 and 1920 x 1080,
// streamed through the capture source in Wine's graph (Sample Grabber
// callback, Null Renderer, no clock) and, in the same run, straight through
// the library (frame event, GetFrame, ReleaseFrame). Reports distinct camera
// frames per second and CPU time per frame of the graph as ratios to the
// direct path, and the graph's extra CPU per frame in memcpys of one frame.
//
//   capture_bench.exe [SECONDS]
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "capture_source/capture_rig.h"
#include "tools/vcapture/capture_graph.h"

using namespace orvo;
using namespace orvo::test;

namespace {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

struct Result {
    double framesPerSecond = 0;
    double cpuPerFrame = 0;  // seconds
};

uint32_t RowCounter(const uint8_t* row) { return uint32_t(row[0]) | uint32_t(row[1]) << 8 | uint32_t(row[2]) << 16; }

Result Direct(Library& library, int id, int width, int height, double seconds) {
    Result r;
    auto& api = library.api;
    int handle = 0, buffer = -1;
    if (api.orvo_Open(id, &handle) != ORVO_OK) return r;
    win32::UniqueHandle frameEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    api.orvo_EnableCameraEvent(handle, 0, frameEvent.get());
    // The capture pin's order: buffer, frame rate, start.
    int rate = 30;
    const bool created = api.orvo_CreateBuffer(handle, 0, 1, 0, width, height, 4, &buffer) == ORVO_OK;
    api.orvo_SetParam(handle, -1, 17, &rate);
    api.orvo_UpdateParams(handle);
    if (!created || api.orvo_StartCapture(handle, buffer) != ORVO_OK) {
        std::printf("direct: the camera did not start\n");
        api.orvo_Close(handle);
        return r;
    }
    win32::WaitPumpingMessages(frameEvent.get(), 5000);  // warm up
    std::set<uint32_t> seen;
    const double cpu0 = ProcessCpuSeconds();
    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < ULONGLONG(seconds * 1000)) {
        if (!win32::WaitPumpingMessages(frameEvent.get(), 1000)) continue;
        int index = -1;
        FrameDesc frame{};
        if (api.orvo_GetFrame(handle, buffer, &index, &frame) != ORVO_OK) continue;
        seen.insert(RowCounter(static_cast<const uint8_t*>(frame.bits)));
        api.orvo_ReleaseFrame(handle, buffer, index);
    }
    const double elapsed = (::GetTickCount64() - start) / 1000.0, cpu = ProcessCpuSeconds() - cpu0;
    api.orvo_StopCapture(handle);
    api.orvo_DeleteBuffer(handle, buffer);
    api.orvo_EnableCameraEvent(handle, 0, nullptr);
    api.orvo_Close(handle);
    r.framesPerSecond = seen.size() / elapsed;
    r.cpuPerFrame = seen.empty() ? 0 : cpu / seen.size();
    return r;
}

Result Graph(const CLSID& clsid, int height, double seconds) {
    Result r;
    vcapture::ComPtr<IBaseFilter> filter;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.put_void()))) {
        std::printf("graph: the filter could not be created\n");
        return r;
    }
    vcapture::CaptureGraph graph;
    if (FAILED(graph.Build(filter.get(), true, false))) return r;
    int w = 0, h = 0, stride = 0;
    graph.Format(&w, &h, &stride);
    win32::CriticalSection lock;
    std::set<uint32_t> seen;
    bool counting = false;
    graph.counter.onSample = [&](const BYTE* pixels, long, REFERENCE_TIME) {
        // Bottom-up: the picture's top row is the last in memory.
        const uint32_t counter = RowCounter(pixels + size_t(stride) * size_t(height - 1));
        win32::CriticalSectionLock guard(lock);
        if (counting) seen.insert(counter);
    };
    graph.Run();
    win32::WaitPumpingMessages(nullptr, 1000);  // warm up
    const double cpu0 = ProcessCpuSeconds();
    {
        win32::CriticalSectionLock guard(lock);
        counting = true;
    }
    const ULONGLONG start = ::GetTickCount64();
    win32::WaitPumpingMessages(nullptr, DWORD(seconds * 1000));
    size_t frames;
    {
        win32::CriticalSectionLock guard(lock);
        counting = false;
        frames = seen.size();
    }
    const double elapsed = (::GetTickCount64() - start) / 1000.0, cpu = ProcessCpuSeconds() - cpu0;
    graph.Stop();
    graph.counter.onSample = nullptr;
    r.framesPerSecond = frames / elapsed;
    r.cpuPerFrame = frames ? cpu / frames : 0;
    std::printf("  graph: %.2f samples per second\n", graph.counter.Snapshot().samples / (elapsed + 1.0));
    return r;
}

// One memcpy of a frame as the pin meets it: source and destination not in
// the cache (a frame is larger than the caches), so the copies rotate over
// buffers much larger than them together.
double MemcpySeconds(size_t bytes) {
    constexpr int kPairs = 8;
    std::vector<std::vector<uint8_t>> from(kPairs, std::vector<uint8_t>(bytes, 1)), to(kPairs, std::vector<uint8_t>(bytes, 2));
    const int rounds = 160;
    LARGE_INTEGER f, t0, t1;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    for (int i = 0; i < rounds; ++i) std::memcpy(to[size_t(i) % kPairs].data(), from[size_t(i * 3) % kPairs].data(), bytes);
    ::QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart) / rounds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const double seconds = argc > 1 ? _wtof(argv[1]) : 10.0;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Library library;
    SourceDll dll;
    if (!library.Start() || !dll.Load() || FAILED(dll.Initialize())) {
        std::printf("the library or the capture source could not be loaded\n");
        return 1;
    }
    emu::CEmulatedUsbBus bus;
    std::printf("%-11s %11s %11s %11s %11s %9s %7s %7s %12s\n", "size", "direct f/s", "graph f/s", "direct ms/f",
                "graph ms/f", "memcpy ms", "rate", "cpu", "extra/memcpy");
    for (auto [width, height] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        const std::wstring serial = UniqueSerial(L"BENCH");
        emu::DeviceSettings settings = GeneralCamera(serial, L"Bench camera " + serial, width, height);
        settings["modes"] = std::to_string(width) + "x" + std::to_string(height) + "@30";
        emu::PluggedDevice device;
        if (!bus.Plug(kUsbDeviceInterfaceClass, settings, &device)) {
            std::printf("could not plug the bench camera\n");
            return 1;
        }
        const int id = library.WaitListed(serial);
        const CLSID clsid = NewClsid();
        dll.RegisterCamera(&clsid, &kKindGeneral, uint32_t(id), L"Bench camera");
        const Result direct = Direct(library, id, width, height, seconds);
        const Result graph = Graph(clsid, height, seconds);
        const double copy = MemcpySeconds(size_t(width) * height * 3);
        std::printf("%4d x %-4d %11.2f %11.2f %11.3f %11.3f %9.3f %7.3f %7.3f %12.2f\n", width, height,
                    direct.framesPerSecond, graph.framesPerSecond, direct.cpuPerFrame * 1e3, graph.cpuPerFrame * 1e3,
                    copy * 1e3,
                    direct.framesPerSecond ? graph.framesPerSecond / direct.framesPerSecond : 0,
                    direct.cpuPerFrame ? graph.cpuPerFrame / direct.cpuPerFrame : 0,
                    (graph.cpuPerFrame - direct.cpuPerFrame) / copy);
        std::fflush(stdout);
        dll.UnregisterCamera(&clsid);
        bus.Unplug(device.path);
    }
    std::printf("rate: graph frames per second / direct; cpu: graph CPU per frame / direct;\n"
                "extra/memcpy: (graph - direct) CPU per frame / one memcpy of a frame\n");
    return 0;
}
