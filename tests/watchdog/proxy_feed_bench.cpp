// Benchmark (run by hand or `./run bench-watchdog`, never by CI): a proxy
// feeder in this process feeds an emulated camera's frames through the real
// library to the stand-in proxy, and in the same run a plain loop writes
// frames of the same size to the same virtual camera device. Reports the
// feeding thread's CPU per frame against the loop's (one memcpy and one
// WriteFile per frame) for a general camera at 1280 x 720 (frames passed on
// as they are) and a raw-sensor camera (halved and turned a quarter).
//
//   watchdog_proxy_bench.exe [FRAMES]
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "emulator/ksproxy/proxy_nodes.h"
#include "ksproxy_rig.h"
#include "system/system_rig.h"
#include "watchdog/common/names.h"
#include "watchdog/proxy/frame_geometry.h"
#include "watchdog/proxy/proxy_binding.h"
#include "watchdog/proxy/proxy_contract.h"
#include "watchdog/proxy/proxy_feeder.h"

using namespace orvo;
using namespace orvo::watchdog;
using test::KsProxyRig;
using test::LibraryClient;

namespace {

double Seconds(const FILETIME& t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; }

// Kernel plus user time of a thread; negative when it cannot be read.
double ThreadCpuSeconds(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return Seconds(kernel) + Seconds(user);
}

std::set<DWORD> ProcessThreads() {
    std::set<DWORD> ids;
    win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = ::Thread32First(snapshot.get(), &entry); ok; ok = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    }
    return ids;
}

// The figures below rest on reading another thread's times: a thread that
// spins for a while must show that while it still runs.
bool OtherThreadTimesWork() {
    std::atomic<bool> done{false};
    std::atomic<DWORD> id{0};
    std::thread spinner([&] {
        id = ::GetCurrentThreadId();
        while (!done) {
        }
    });
    ::Sleep(400);
    win32::UniqueHandle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id.load()));
    const double cpu = thread ? ThreadCpuSeconds(thread.get()) : -1;
    done = true;
    spinner.join();
    std::printf("another thread's times: %.3f s of CPU after 0.4 s of spinning\n", cpu);
    return cpu >= 0.2;
}

// TransformFrame alone per frame, by the performance counter: the part of the
// feeder's work that the loop does not do. Sources rotate over more memory
// than the caches hold, as the library's frames do.
double TransformSeconds(const FrameGeometry& geometry) {
    constexpr int kBuffers = 8, kRounds = 100;
    const size_t stride = DibStride(geometry.sourceWidth);
    std::vector<std::vector<uint8_t>> sources(kBuffers, std::vector<uint8_t>(stride * geometry.sourceHeight, 0x33));
    std::vector<uint8_t> output(geometry.OutputBytes());
    LARGE_INTEGER f, t0, t1;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    for (int i = 0; i < kRounds; ++i) TransformFrame(geometry, sources[i % kBuffers].data(), stride, output.data());
    ::QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart) / kRounds;
}

// The frames the stand-in took for a camera (the frame count only, no pixels).
bool FramesReceived(KsProxyRig& proxy, const GUID& camera, unsigned long long& frames) {
    ZKSP_LIST list{};
    DWORD got = 0;
    if (!::DeviceIoControl(proxy.control.get(), ZKSP_IOCTL_LIST, nullptr, 0, &list, sizeof(list), &got, nullptr))
        return false;
    for (unsigned i = 0; i < list.count && i < ZKSP_MAX_CAMERAS; ++i) {
        if (::IsEqualGUID(list.cameras[i].camera, camera)) {
            frames = list.cameras[i].frames;
            return true;
        }
    }
    return false;
}

// Pumps the library's window until the stand-in has taken `count` frames.
bool WaitFrames(KsProxyRig& proxy, const GUID& camera, unsigned long long count, DWORD ms,
                unsigned long long& frames) {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    while (FramesReceived(proxy, camera, frames)) {
        if (frames >= count) return true;
        if (::GetTickCount64() > deadline) return false;
        test::WaitPumping(nullptr, 50);
    }
    return false;
}

struct Case {
    const char* name;
    emu::DeviceSettings settings;
    GUID kind;
    double target;
};

struct Figures {
    int width = 0, height = 0;
    double feederPerFrame = 0, loopPerFrame = 0, warmLoopPerFrame = 0, framesPerSecond = 0;
    double transformPerFrame = 0;
    int feederFrames = 0, loopFrames = 0, warmLoopFrames = 0;
};

// The loop of the baseline on a thread of its own: one memcpy of a frame and
// one WriteFile of it to the virtual camera per frame, in rounds of `frames`
// until the thread has used enough CPU for Wine's 10 ms ticks (at most ten).
// With `fresh`, another thread writes the source before each copy, as the
// library's capture threads write the frames the feeder reads: reading them
// from the other core's cache is part of any consumer's cost.
bool WriteLoop(const std::wstring& path, size_t bytes, int frames, bool fresh, double& perFrame, int& written) {
    win32::UniqueFileHandle device(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
    if (!device) {
        std::printf("  the camera device could not be opened (%lu)\n", ::GetLastError());
        return false;
    }
    std::vector<uint8_t> source(bytes, 0x5A), frame(bytes);
    win32::UniqueHandle go(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    win32::UniqueHandle ready(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::atomic<bool> quit{false};
    std::thread writer;
    if (fresh) {
        writer = std::thread([&] {
            for (uint8_t n = 0; ::WaitForSingleObject(go.get(), INFINITE) == WAIT_OBJECT_0 && !quit; ++n) {
                std::memset(source.data(), n, bytes);
                ::SetEvent(ready.get());
            }
        });
    }
    bool ok = true;
    written = 0;
    std::thread loop([&] {
        auto once = [&](int i) {
            if (fresh) {
                ::SetEvent(go.get());
                ::WaitForSingleObject(ready.get(), INFINITE);
            } else {
                source[size_t(i) % bytes] = uint8_t(i);
            }
            std::memcpy(frame.data(), source.data(), bytes);
            DWORD done = 0;
            return ::WriteFile(device.get(), frame.data(), DWORD(bytes), &done, nullptr) && done == bytes;
        };
        for (int i = 0; i < 10 && ok; ++i) ok = once(i);  // warm up
        const double cpu0 = ThreadCpuSeconds(::GetCurrentThread());
        double cpu = 0;
        for (int round = 0; round < 10 && ok && cpu < 0.3; ++round) {
            for (int i = 0; i < frames && ok; ++i, ++written) ok = once(i);
            cpu = ThreadCpuSeconds(::GetCurrentThread()) - cpu0;
        }
        perFrame = written ? cpu / written : 0;
    });
    loop.join();
    if (writer.joinable()) {
        quit = true;
        ::SetEvent(go.get());
        writer.join();
    }
    if (!ok) std::printf("  a write to the camera device failed (%lu)\n", ::GetLastError());
    return ok;
}

bool Measure(KsProxyRig& proxy, emu::CEmulatedUsbBus& bus, LibraryClient& client, const Case& c, int frames,
             Figures& figures) {
    const std::wstring serial = test::UniqueSerial(L"pb");
    emu::DeviceSettings settings = c.settings;
    settings["serial"] = test::Narrow(serial);
    emu::PluggedDevice plugged;
    if (!bus.Plug(kUsbDeviceInterfaceClass, settings, &plugged)) {
        std::printf("  the camera could not be plugged: %s\n", test::Narrow(bus.LastError()).c_str());
        return false;
    }
    struct Unplug {
        emu::CEmulatedUsbBus& bus;
        std::wstring path;
        ~Unplug() { bus.Unplug(path); }
    } unplug{bus, plugged.path};
    const int deviceId = client.WaitListed(serial);
    DWORD deviceInstance = 0;
    const std::vector<DeviceEntry> listed = client.List();
    for (const DeviceEntry& e : listed)
        if (e.deviceId == deviceId) deviceInstance = e.devInst;
    if (deviceId < 0 || !deviceInstance) {
        std::printf("  the library does not list the camera\n");
        return false;
    }

    ProxyFeeder feeder;
    HRESULT hr = feeder.Start(L"Bench camera", c.kind, deviceId, deviceInstance);
    const auto record = proxy.LastRecord();
    if (hr != S_OK || record.size() < 16) {
        std::printf("  the feeder did not start (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    GUID camera{};
    std::memcpy(&camera, record.data(), sizeof(camera));
    // Attach starts the feeding thread and nothing else: the library's own
    // threads run already, and its capture threads start with the feed.
    DWORD feederThreadId = 0;
    const ULONGLONG attachDeadline = ::GetTickCount64() + 30000;
    for (;;) {
        const std::set<DWORD> before = ProcessThreads();
        hr = feeder.Attach();
        const std::set<DWORD> after = ProcessThreads();
        if (hr == S_OK) {
            std::vector<DWORD> added;
            for (DWORD id : after)
                if (!before.count(id)) added.push_back(id);
            if (added.size() == 1) feederThreadId = added[0];
            break;
        }
        if (FAILED(hr) || ::GetTickCount64() > attachDeadline) break;
        test::WaitPumping(nullptr, 100);
    }
    win32::UniqueHandle feederThread(
        feederThreadId ? ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, feederThreadId) : nullptr);
    if (!feederThread) {
        std::printf("  the feeding thread was not found (attach 0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }

    win32::UniqueHandle active(
        ::CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Active, camera).c_str()));
    win32::UniqueHandle inactive(
        ::CreateEventW(nullptr, TRUE, FALSE, ProxyEventName(ProxyEvent::Inactive, camera).c_str()));
    ::SetEvent(active.get());
    // The placeholder comes first; counting starts after the first camera
    // frames, once the library's stream runs.
    unsigned long long start = 0, end = 0;
    if (!WaitFrames(proxy, camera, 5, 30000, start)) {
        DWORD code = 0;
        ::GetExitCodeThread(feederThread.get(), &code);
        std::printf("  no camera frames reached the proxy (%llu frames; feeding thread %s %lu)\n", start,
                    code == STILL_ACTIVE ? "running," : "ended with", code == STILL_ACTIVE ? 0ul : code);
        return false;
    }
    const double cpu0 = ThreadCpuSeconds(feederThread.get());
    const ULONGLONG t0 = ::GetTickCount64();
    std::printf("  feeding %d frames...\n", frames);
    std::fflush(stdout);
    const bool fed = WaitFrames(proxy, camera, start + frames, DWORD(frames) * 200 + 10000, end);
    const double cpu1 = ThreadCpuSeconds(feederThread.get());
    const double elapsed = (::GetTickCount64() - t0) / 1000.0;
    if (!fed) {
        std::printf("  only %llu of %d frames reached the proxy\n", end - start, frames);
        return false;
    }
    figures.feederFrames = int(end - start);
    figures.feederPerFrame = (cpu1 - cpu0) / double(end - start);
    figures.framesPerSecond = double(end - start) / elapsed;

    // The application stops: the feeder closes the camera and writes no more.
    ::ResetEvent(active.get());
    ::SetEvent(inactive.get());
    unsigned long long settled = end, now = 0;
    for (int quiet = 0; quiet < 5 && FramesReceived(proxy, camera, now);) {
        quiet = now == settled ? quiet + 1 : 0;
        settled = now;
        test::WaitPumping(nullptr, 100);
    }
    ZKSP_FRAME frame{};
    std::vector<uint8_t> pixels;
    if (!proxy.ReadFrame(camera, frame, pixels) || frame.bytes == 0) {
        std::printf("  the proxy holds no frame\n");
        return false;
    }
    figures.width = frame.width;
    figures.height = frame.height;
    std::wstring path;
    // The node's capture interface, found as the feeder finds it.
    for (const auto& node : emu::ListProxyNodes())
        if (::IsEqualGUID(node.camera, camera)) path = FirstCaptureInterface(node.instanceId);
    std::printf("  memcpy and WriteFile loop, frames of %u bytes...\n", frame.bytes);
    std::fflush(stdout);
    if (path.empty()) {
        std::printf("  no device node carries the camera\n");
        return false;
    }
    if (!WriteLoop(path, frame.bytes, frames, true, figures.loopPerFrame, figures.loopFrames) ||
        !WriteLoop(path, frame.bytes, frames, false, figures.warmLoopPerFrame, figures.warmLoopFrames))
        return false;
    feeder.Stop();
    FrameGeometry geometry;
    if (::IsEqualGUID(c.kind, kKindCedar)) {
        GeometryFromCedarInfo(frame.height * 2, frame.width * 2, geometry);
    } else {
        geometry.sourceWidth = geometry.outputWidth = frame.width;
        geometry.sourceHeight = geometry.outputHeight = frame.height;
    }
    figures.transformPerFrame = TransformSeconds(geometry);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? _wtoi(argv[1]) : 300;
    if (frames < 10) {
        std::printf("usage: watchdog_proxy_bench.exe [FRAMES >= 10]\n");
        return 2;
    }
    if (!OtherThreadTimesWork()) {
        std::printf("GetThreadTimes does not read another thread's time here: no figures\n");
        return 1;
    }
    KsProxyRig proxy;
    LibraryClient client;
    if (!proxy.Start() || !client.Start()) {
        std::printf("the stand-in proxy or the library could not be started\n");
        return 1;
    }
    emu::CEmulatedUsbBus bus;
    emu::DeviceSettings alder = test::AlderCamera(L"");
    alder["width"] = "1280";
    alder["height"] = "720";
    alder["modes"] = "1280x720@30";  // else a larger mode of the list wins
    const Case cases[] = {
        {"identity", alder, kKindGeneral, 1.5},
        // A model 0 sensor (product id 0x0308): it takes every setting the
        // feeder gives its kind, so no refused setting is traced per start.
        {"quarter turn",
         {{"model", "sensor"}, {"vid", test::VendorId()}, {"pid", "0x0308"}, {"illumination", "700"}},
         kKindCedar,
         3.0},
    };
    std::vector<Figures> results;
    for (const Case& c : cases) {
        std::printf("%s:\n", c.name);
        std::fflush(stdout);
        Figures f;
        if (!Measure(proxy, bus, client, c, frames, f)) {
            std::printf("%s: the measurement could not run\n", c.name);
            return 1;
        }
        results.push_back(f);
    }
    std::printf("\n%-13s %11s %9s %12s %12s %7s %7s %12s %7s %13s\n", "case", "output", "frames/s", "feeder ms/f",
                "loop ms/f", "ratio", "target", "warm loop", "ratio", "transform ms");
    for (size_t i = 0; i < results.size(); ++i) {
        const Figures& f = results[i];
        char size[32];
        std::snprintf(size, sizeof(size), "%d x %d", f.width, f.height);
        const double ratio = f.loopPerFrame > 0 ? f.feederPerFrame / f.loopPerFrame : 0;
        const double warmRatio = f.warmLoopPerFrame > 0 ? f.feederPerFrame / f.warmLoopPerFrame : 0;
        std::printf("%-13s %11s %9.1f %12.3f %12.3f %7.2f %s%.1f %12.3f %7.2f %13.3f   (%d fed, %d + %d looped)\n",
                    cases[i].name, size, f.framesPerSecond, f.feederPerFrame * 1000, f.loopPerFrame * 1000, ratio,
                    ratio <= cases[i].target ? "<= " : " > ", cases[i].target, f.warmLoopPerFrame * 1000, warmRatio,
                    f.transformPerFrame * 1000, f.feederFrames, f.loopFrames, f.warmLoopFrames);
    }
    std::printf("CPU is kernel plus user time of the one thread (10 ms ticks under Wine); frames are those the "
                "stand-in proxy counted.\nThe loop copies a frame another thread has just written, as the "
                "library's frames are; the warm loop copies one already in its cache.\nTransform is "
                "TransformFrame alone, by the performance counter.\n");
    return 0;
}
