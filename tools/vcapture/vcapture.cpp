// vcapture.exe: a DirectShow video application for the capture source.
//
//   vcapture list
//   vcapture formats DEVICE
//   vcapture grab DEVICE N [--out DIR] [--direct]
//
// DEVICE is an index from `list` or a friendly name. `grab` builds a capture
// graph (ICaptureGraphBuilder2::RenderStream, or with --direct the camera
// straight into the Sample Grabber), runs it until N samples came, and
// saves them as frame_001.png ... in DIR (the current folder by default).
// The thread that creates the filter pumps messages throughout.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/orvocam/image_files.h"
#include "tools/vcapture/capture_graph.h"
#include "win32/message_wait.h"

namespace {

using namespace vcapture;

std::string Narrow(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? size_t(n) : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

int List() {
    const std::vector<Device> devices = ListDevices();
    if (devices.empty()) std::printf("no video capture devices\n");
    for (size_t i = 0; i < devices.size(); ++i) {
        std::printf("%zu: %s\n   %s\n", i, Narrow(devices[i].name).c_str(), Narrow(devices[i].displayName).c_str());
    }
    return 0;
}

// A failed creation of the filter, said in words.
int CreationFailed(const std::wstring& which, HRESULT hr) {
    std::printf("%s: the camera could not be opened (0x%08lX); another application may be using it\n",
                Narrow(which).c_str(), hr);
    return 3;
}

int Formats(const std::wstring& which) {
    Device device;
    if (!FindDevice(which, &device)) {
        std::printf("%s: no such device\n", Narrow(which).c_str());
        return 2;
    }
    ComPtr<IBaseFilter> filter;
    const HRESULT hr = CreateSource(device, &filter);
    if (FAILED(hr)) return CreationFailed(which, hr);
    ComPtr<IAMStreamConfig> config = filter.query<IAMStreamConfig>(IID_IAMStreamConfig);
    int count = 0, size = 0;
    if (!config || FAILED(config->GetNumberOfCapabilities(&count, &size))) {
        std::printf("%s: no stream configuration\n", Narrow(device.name).c_str());
        return 1;
    }
    std::printf("%s: %d format(s)\n", Narrow(device.name).c_str(), count);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK || !type) continue;
        if (type->formattype == FORMAT_VideoInfo && type->pbFormat) {
            const VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
            std::printf("  %d: RGB%d %ld x %ld, %.2f frames/s, %lu bytes a sample\n", i, info->bmiHeader.biBitCount,
                        info->bmiHeader.biWidth, info->bmiHeader.biHeight, 1e7 / double(info->AvgTimePerFrame),
                        type->lSampleSize);
        }
        ::CoTaskMemFree(type->pbFormat);
        if (type->pUnk) type->pUnk->Release();
        ::CoTaskMemFree(type);
    }
    return 0;
}

int Grab(const std::wstring& which, int wanted, const std::wstring& outDir, bool direct) {
    Device device;
    if (!FindDevice(which, &device)) {
        std::printf("%s: no such device\n", Narrow(which).c_str());
        return 2;
    }
    ComPtr<IBaseFilter> filter;
    HRESULT hr = CreateSource(device, &filter);
    if (FAILED(hr)) return CreationFailed(which, hr);

    CaptureGraph graph;
    if (FAILED(hr = graph.Build(filter.get(), direct))) {
        std::printf("the capture graph could not be built (0x%08lX)\n", hr);
        return 1;
    }
    int width = 0, height = 0, stride = 0;
    graph.Format(&width, &height, &stride);
    std::printf("%s: RGB24 %d x %d through %s\n", Narrow(device.name).c_str(), width, height,
                direct ? "the Sample Grabber directly" : "RenderStream");

    std::vector<std::vector<BYTE>> frames;
    frames.reserve(size_t(wanted));
    orvo::win32::CriticalSection framesLock;
    ULONGLONG firstTick = 0, lastTick = 0;  // wall time of the first and last sample
    graph.counter.onSample = [&](const BYTE* pixels, long length, REFERENCE_TIME) {
        orvo::win32::CriticalSectionLock lock(framesLock);
        lastTick = ::GetTickCount64();
        if (!firstTick) firstTick = lastTick;
        if (frames.size() < size_t(wanted)) frames.emplace_back(pixels, pixels + length);
    };

    const ULONGLONG started = ::GetTickCount64();
    hr = graph.Run();
    bool aborted = false;
    const ULONGLONG deadline = started + 10000 + ULONGLONG(wanted) * 100;
    for (;;) {
        orvo::win32::WaitPumpingMessages(nullptr, 20);
        for (const GraphEvent& e : graph.TakeEvents()) {
            std::printf("event %s (0x%lX, 0x%lX)\n", EventName(e.code).c_str(), static_cast<long>(e.param1),
                        static_cast<long>(e.param2));
            if (e.code == EC_ERRORABORT || e.code == EC_COMPLETE) aborted = true;
        }
        size_t got;
        {
            orvo::win32::CriticalSectionLock lock(framesLock);
            got = frames.size();
        }
        if (got >= size_t(wanted) || aborted || ::GetTickCount64() > deadline) break;
    }
    graph.Stop();
    const SampleCounter::Stats stats = graph.counter.Snapshot();
    graph.counter.onSample = nullptr;
    // The rate from the first sample on: starting the camera is not streaming.
    const double seconds = double(lastTick - firstTick) / 1000.0;
    const double rate = seconds > 0 && stats.samples > 1 ? (stats.samples - 1) / seconds : 0.0;
    if (FAILED(hr) || (aborted && stats.samples == 0)) {
        std::printf("the camera did not stream (0x%08lX): it is busy in another application or was removed\n", hr);
        return 3;
    }
    std::printf("%ld samples in %.2f s after the first (%.1f per second), %ld time-stamp gaps, %ld repeated samples\n",
                stats.samples, seconds, rate, stats.timeGaps, stats.repeated);

    orvo::win32::CriticalSectionLock lock(framesLock);
    std::string folder = Narrow(outDir);
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    for (size_t i = 0; i < frames.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "frame_%03zu.png", i + 1);
        const orvocam::Picture picture = orvocam::PictureFromDib(frames[i].data(), width, height);
        const std::string path = folder + name;
        if (!orvocam::WritePng(path, picture)) {
            std::printf("could not write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return frames.size() >= size_t(wanted) ? 0 : 1;
}

int Usage() {
    std::printf("usage: vcapture list | formats DEVICE | grab DEVICE N [--out DIR] [--direct]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring command = argv[1];
    int result = 2;
    if (command == L"list") {
        result = List();
    } else if (command == L"formats" && argc >= 3) {
        result = Formats(argv[2]);
    } else if (command == L"grab" && argc >= 4) {
        std::wstring out = L".";
        bool direct = false;
        for (int i = 4; i < argc; ++i) {
            const std::wstring option = argv[i];
            if (option == L"--direct") {
                direct = true;
            } else if (option == L"--out" && i + 1 < argc) {
                out = argv[++i];
            } else {
                return Usage();
            }
        }
        const int wanted = _wtoi(argv[3]);
        result = wanted > 0 ? Grab(argv[2], wanted, out, direct) : Usage();
    } else {
        result = Usage();
    }
    std::fflush(stdout);
    // Left initialised: the capture source keeps its filter until the
    // process ends, as applications that exit without cleaning up do.
    return result;
}
