// Camera filters in Wine's real filter graph, created through COM in this
// process (a graph application in a folder of its own): negotiation and the
// pin's interfaces, streaming straight into the Sample Grabber and through
// RenderStream, run/pause/stop cycles, a camera pulled out mid-stream, a
// camera busy in another process and an application leaving mid-stream.
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "capture_source/capture_rig.h"
#include "tools/vcapture/capture_graph.h"

namespace orvo::test {
namespace {

using vcapture::CaptureGraph;
using vcapture::ComPtr;

constexpr REFERENCE_TIME kFrameTime = 333333;

class CaptureGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        library = new Library;
        dll = new SourceDll;
        ASSERT_TRUE(library->Start());
        ASSERT_TRUE(dll->Load());
        ASSERT_EQ(dll->Initialize(), S_OK);
    }
    static void TearDownTestSuite() {
        // Left loaded: cached filters live until the process ends, as in
        // any application.
    }

    struct Camera {
        std::wstring serial, path, name;
        int id = -1;
        CLSID clsid{};
    };

    Camera Plug(emu::DeviceSettings settings, const std::wstring& serial, const GUID& kind = kKindGeneral) {
        Camera camera;
        camera.serial = serial;
        camera.name = std::wstring(settings["product"].begin(), settings["product"].end());
        emu::PluggedDevice device;
        EXPECT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, settings, &device)) << Narrow(bus.LastError());
        camera.path = device.path;
        plugged.push_back(device.path);
        camera.id = library->WaitListed(serial);
        EXPECT_GE(camera.id, 0);
        camera.clsid = Register(camera.id, camera.name, kind);
        return camera;
    }
    CLSID Register(int id, const std::wstring& name, const GUID& kind = kKindGeneral) {
        const CLSID clsid = NewClsid();
        EXPECT_EQ(dll->RegisterCamera(&clsid, &kind, uint32_t(id), name.c_str()), S_OK);
        registered.push_back(clsid);
        return clsid;
    }
    void TearDown() override {
        for (const CLSID& clsid : registered) dll->UnregisterCamera(&clsid);
        for (const auto& path : plugged) bus.Unplug(path);
        win32::WaitPumpingMessages(nullptr, 300);
    }
    static ComPtr<IBaseFilter> Create(const CLSID& clsid, HRESULT* hr = nullptr) {
        ComPtr<IBaseFilter> filter;
        const HRESULT result =
            ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.put_void());
        if (hr) *hr = result;
        return filter;
    }
    // Pumps until `done` holds or the time is up.
    template <class Done>
    static bool PumpUntil(Done done, DWORD ms = 15000) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        while (!done()) {
            if (::GetTickCount64() > deadline) return false;
            win32::WaitPumpingMessages(nullptr, 10);
        }
        return true;
    }

    // A command-and-status camera that lists one video mode.
    Camera PlugWithModes(const std::wstring& serial, const std::wstring& product, int width, int height, int rate) {
        emu::DeviceSettings settings = GeneralCamera(serial, product, width, height);
        settings["modes"] = std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(rate);
        return Plug(settings, serial);
    }

    // Threads of the library and of Wine end a moment after their work: the
    // counts are compared once they have settled.
    static void ExpectNoGrowth(const ResourceCounts& before) {
        ResourceCounts after;
        PumpUntil([&] {
            after = ResourceCounts::Now();
            return after.handles <= before.handles + 4 && after.gdi <= before.gdi + 2 &&
                   after.threads <= before.threads + 4;
        }, 10000);
        EXPECT_LE(after.handles, before.handles + 4);
        EXPECT_LE(after.gdi, before.gdi + 2);
        EXPECT_LE(after.threads, before.threads + 4);
    }

    static Library* library;
    static SourceDll* dll;
    emu::CEmulatedUsbBus bus;
    std::vector<std::wstring> plugged;
    std::vector<CLSID> registered;
};

Library* CaptureGraphTest::library = nullptr;
SourceDll* CaptureGraphTest::dll = nullptr;

// Every sample of a stream checked as it arrives: the pattern upright and
// whole once frames come (black before the first one).
struct PatternWatch {
    void Attach(CaptureGraph& graph, int width, int height) {
        graph.counter.onSample = [this, width, height](const BYTE* pixels, long, REFERENCE_TIME) {
            uint32_t counter = 0;
            const emu::PatternCheck check = CheckBottomUpSample(pixels, width, height, &counter);
            if (check == emu::PatternCheck::Ok) {
                ++good;
            } else if (good > 0 || pixels[0] != 0 || pixels[1] != 0) {
                ++bad;
                last = int(check);
            } else {
                ++black;
            }
        };
    }
    std::atomic<long> good{0}, bad{0}, black{0};
    std::atomic<int> last{0};
};

TEST_F(CaptureGraphTest, FilterAndPinNegotiateOneRgb24Format) {
    const std::wstring serial = UniqueSerial(L"N");
    const Camera camera = Plug(GeneralCamera(serial, L"Negotiation camera"), serial);

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(::CoCreateInstance(camera.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.put_void()), S_OK);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(unknown->QueryInterface(IID_IAMStreamConfig, config.put_void()), E_NOINTERFACE);
    ComPtr<IBaseFilter> filter = unknown.query<IBaseFilter>(IID_IBaseFilter);
    ASSERT_TRUE(filter);
    ASSERT_EQ(filter->QueryInterface(IID_IAMStreamConfig, config.put_void()), S_OK);
    // Every creation in this process gives the same filter.
    ComPtr<IBaseFilter> again = Create(camera.clsid);
    EXPECT_EQ(again.get(), filter.get());
    EXPECT_EQ(dll->DllCanUnloadNow(), S_FALSE);

    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    ASSERT_EQ(type->formattype, FORMAT_VideoInfo);
    const VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(info->AvgTimePerFrame, kFrameTime);
    EXPECT_EQ(info->bmiHeader.biWidth, 640);
    EXPECT_EQ(info->bmiHeader.biHeight, 480);
    EXPECT_EQ(type->lSampleSize, 640 * 480 * 3);

    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 128);
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memset(&caps, 0x5A, sizeof(caps));
    AM_MEDIA_TYPE* none = nullptr;
    EXPECT_EQ(config->GetStreamCaps(1, &none, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(caps.MinFrameInterval, 0x5A5A5A5A5A5A5A5All);
    AM_MEDIA_TYPE* capsType = nullptr;
    ASSERT_EQ(config->GetStreamCaps(0, &capsType, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(caps.MaxOutputSize.cx, 640);
    EXPECT_EQ(caps.MinFrameInterval, kFrameTime);
    EXPECT_EQ(caps.MaxBitsPerSecond, 640 * 480 * 24 * 30);

    // The pin accepts the one size, bottom-up or top-down, and nothing else.
    ComPtr<IPin> pin = vcapture::OutputPin(filter.get());
    ASSERT_TRUE(pin);
    auto accepts = [&](LONG w, LONG h, WORD bits, const GUID& subtype) {
        AM_MEDIA_TYPE t = *type;
        VIDEOINFOHEADER v = *info;
        v.bmiHeader.biWidth = w;
        v.bmiHeader.biHeight = h;
        v.bmiHeader.biBitCount = bits;
        t.subtype = subtype;
        t.pbFormat = reinterpret_cast<BYTE*>(&v);
        return pin->QueryAccept(&t);
    };
    EXPECT_EQ(accepts(640, 480, 24, MEDIASUBTYPE_RGB24), S_OK);
    EXPECT_EQ(accepts(640, -480, 24, MEDIASUBTYPE_RGB24), S_OK);
    EXPECT_EQ(accepts(480, 640, 24, MEDIASUBTYPE_RGB24), S_FALSE);
    EXPECT_EQ(accepts(640, 480, 32, MEDIASUBTYPE_RGB32), S_FALSE);
    EXPECT_EQ(accepts(640, 480, 24, MEDIASUBTYPE_YUY2), S_FALSE);
    EXPECT_EQ(config->SetFormat(type), S_OK);

    ComPtr<IKsPropertySet> properties = pin.query<IKsPropertySet>(IID_IKsPropertySet);
    ASSERT_TRUE(properties);
    GUID category{};
    DWORD returned = 0;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 15, &returned), E_FAIL);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16, &returned), S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(properties->Get(PIN_CATEGORY_CAPTURE, 0, nullptr, 0, &category, 16, &returned), E_PROP_SET_UNSUPPORTED);
    DWORD support = 0;
    EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
    EXPECT_EQ(support, DWORD(KSPROPERTY_SUPPORT_GET));

    // A top-down proposal connects, and the connection reports it.
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(filter.get(), true), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(pin->ConnectedTo(peer.put()), S_OK);
    ASSERT_EQ(graph.graph->Disconnect(pin.get()), S_OK);
    graph.graph->Disconnect(peer.get());
    AM_MEDIA_TYPE topDown = *type;
    VIDEOINFOHEADER topDownInfo = *info;
    topDownInfo.bmiHeader.biHeight = -480;
    topDown.pbFormat = reinterpret_cast<BYTE*>(&topDownInfo);
    ASSERT_EQ(graph.graph->ConnectDirect(pin.get(), peer.get(), &topDown), S_OK);
    AM_MEDIA_TYPE agreed{};
    ASSERT_EQ(pin->ConnectionMediaType(&agreed), S_OK);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(agreed.pbFormat)->bmiHeader.biHeight, -480);
    ::CoTaskMemFree(agreed.pbFormat);
    // A partial proposal (major type only) is completed from the offers.
    graph.graph->Disconnect(pin.get());
    graph.graph->Disconnect(peer.get());
    AM_MEDIA_TYPE partial{};
    partial.majortype = MEDIATYPE_Video;
    EXPECT_EQ(graph.graph->ConnectDirect(pin.get(), peer.get(), &partial), S_OK);
    graph.Release();

    for (AM_MEDIA_TYPE* t : {type, capsType}) {
        ::CoTaskMemFree(t->pbFormat);
        ::CoTaskMemFree(t);
    }
}

// Through RenderStream the graph puts a Smart Tee behind the pin; Wine's tee
// copies each sample into a second buffer of the same allocator, so
// CaptureGraph raises that allocator to two buffers before running (the pin
// itself keeps the downstream pin's count). Connected pin to pin, the same
// stream flows without the tee.
TEST_F(CaptureGraphTest, StreamsUprightWithSteadyTimeStampsAndAgainFromZeroAfterAStop) {
    for (int width : {640, 642}) {
        const std::wstring serial = UniqueSerial(L"S");
        // Widths that are not a multiple of 4 need a camera that lists them.
        const std::wstring product = L"Streaming camera " + std::to_wstring(width);
        const Camera camera = width % 4 == 0 ? Plug(GeneralCamera(serial, product, width, 480), serial)
                                             : PlugWithModes(serial, product, width, 480, 30);
        ComPtr<IBaseFilter> filter = Create(camera.clsid);
        ASSERT_TRUE(filter);
        for (bool direct : {true, false}) {
            SCOPED_TRACE(std::to_string(width) + (direct ? " direct" : " RenderStream"));
            CaptureGraph graph;
            ASSERT_EQ(graph.Build(filter.get(), direct), S_OK);
            int w = 0, h = 0, stride = 0;
            ASSERT_TRUE(graph.Format(&w, &h, &stride));
            EXPECT_EQ(w, width);
            PatternWatch watch;
            watch.Attach(graph, w, h);
            for (int round = 0; round < 2; ++round) {
                graph.counter.Reset();
                // The second run starts from a stopped graph again: its time
                // stamps start from 0 again.
                const HRESULT started = graph.Run();
                ASSERT_TRUE(SUCCEEDED(started)) << std::hex << started;
                ASSERT_TRUE(PumpUntil([&] { return watch.good >= 15; }))
                    << "good " << watch.good << ", bad " << watch.bad << " (" << watch.last << "), black " << watch.black
                    << ", samples " << graph.counter.Snapshot().samples;
                const auto stats = graph.counter.Snapshot();
                EXPECT_TRUE(stats.timesFromZero);
                EXPECT_EQ(stats.timeGaps, 0);
                EXPECT_EQ(stats.activeThreads, 1);
                EXPECT_EQ(watch.bad, 0) << "check " << watch.last;
                ASSERT_EQ(graph.Stop(), S_OK);
                watch.good = 0;
            }
            for (const auto& e : graph.TakeEvents()) EXPECT_NE(e.code, EC_ERRORABORT);
        }
    }
}

// A raw-sensor camera of model code 4 (cedar kind): the source is half the
// sensor size and the samples are turned a quarter, so 1280 x 960 gives
// samples 480 wide and 640 high. The model refuses parameter 9 of the cedar
// settings; the camera streams all the same.
TEST_F(CaptureGraphTest, CedarCameraStreamsTurnedSamples) {
    const std::wstring serial = UniqueSerial(L"D");
    emu::DeviceSettings settings = {{"model", "sensor"}, {"vid", VendorId()},          {"pid", "0x0311"},
                                    {"serial", Narrow(serial)}, {"product", "Cedar camera"}, {"illumination", "700"}};
    DeviceEntry entry{};
    const Camera camera = Plug(settings, serial, kKindCedar);
    ASSERT_GE(library->Find(serial, &entry), 0);
    EXPECT_EQ(entry.model, 4);
    ComPtr<IBaseFilter> filter = Create(camera.clsid);
    ASSERT_TRUE(filter);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(filter.get(), false), S_OK);
    int w = 0, h = 0, stride = 0;
    ASSERT_TRUE(graph.Format(&w, &h, &stride));
    EXPECT_EQ(w, 480);
    EXPECT_EQ(h, 640);
    std::atomic<long> lit{0};
    graph.counter.onSample = [&](const BYTE* pixels, long length, REFERENCE_TIME) {
        long bright = 0;
        for (long i = 0; i < length; i += 97) bright += pixels[i] > 16 ? 1 : 0;
        if (bright > 0) ++lit;
    };
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(PumpUntil([&] { return lit >= 3; }, 20000)) << "no picture from the cedar camera";
    for (const auto& e : graph.TakeEvents()) EXPECT_NE(e.code, EC_ERRORABORT);
    EXPECT_EQ(graph.counter.Snapshot().timeGaps, 0);
}

// A general camera without a mode list whose picture is not 4:3 gets half
// its size, which the library refuses as a buffer (1280 x 720 gives
// 640 x 360): the start fails cleanly, the camera stays free, and a graph
// that disconnects the running pin stops the filter first.
TEST_F(CaptureGraphTest, AStartTheLibraryRefusesFailsCleanly) {
    const std::wstring serial = UniqueSerial(L"W");
    emu::DeviceSettings settings = GeneralCamera(serial, L"Wide camera");
    settings.erase("width");
    settings.erase("height");
    const Camera camera = Plug(settings, serial);
    ComPtr<IBaseFilter> filter = Create(camera.clsid);
    ASSERT_TRUE(filter);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(filter.get(), true), S_OK);
    int w = 0, h = 0, stride = 0;
    ASSERT_TRUE(graph.Format(&w, &h, &stride));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
    const HRESULT run = graph.Run();
    bool aborted = false;
    PumpUntil([&] {
        for (const auto& e : graph.TakeEvents()) aborted = aborted || e.code == EC_ERRORABORT;
        return aborted;
    }, 10000);
    EXPECT_TRUE(aborted || FAILED(run));
    EXPECT_EQ(graph.counter.Snapshot().samples, 0);
    // The filter stops cleanly; Wine's graph answers its own Stop after a
    // failed run with the run's failure.
    EXPECT_EQ(filter->Stop(), S_OK);
    graph.Stop();
    int handle = 0;
    EXPECT_EQ(library->api.orvo_Open(camera.id, &handle), ORVO_OK) << "the camera was left open";
    if (handle) library->api.orvo_Close(handle);
    graph.Release();

    const std::wstring serial2 = UniqueSerial(L"X");
    const Camera running = Plug(GeneralCamera(serial2, L"Disconnected camera"), serial2);
    ComPtr<IBaseFilter> second = Create(running.clsid);
    CaptureGraph live;
    ASSERT_EQ(live.Build(second.get(), true), S_OK);
    ASSERT_TRUE(SUCCEEDED(live.Run()));
    ASSERT_TRUE(PumpUntil([&] { return live.counter.Snapshot().samples >= 2; }));
    ComPtr<IPin> pin = vcapture::OutputPin(second.get());
    EXPECT_EQ(pin->Disconnect(), S_OK);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(second->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(library->api.orvo_Open(running.id, &handle), ORVO_OK) << "the camera was left open";
    if (handle) library->api.orvo_Close(handle);
}

// Repeated starts and stops, and whole graphs built and released: the camera
// is free whenever the graph is stopped, busy for a peer while it runs, and
// the process keeps no handles, GDI objects or threads from it.
TEST_F(CaptureGraphTest, CyclesAndGraphsLeaveTheCameraFreeAndNothingBehind) {
    const std::wstring serial = UniqueSerial(L"C");
    const Camera camera = Plug(GeneralCamera(serial, L"Cycling camera"), serial);
    auto peerOpen = [&] {
        ChildProcess peer;
        if (!peer.Start(ExeFolder() + L"capture_peer.exe", L"open " + std::to_wstring(camera.id))) return -1;
        return peer.Wait(60000);
    };
    ComPtr<IBaseFilter> filter = Create(camera.clsid);
    ASSERT_TRUE(filter);
    ResourceCounts before;
    {
        CaptureGraph graph;
        ASSERT_EQ(graph.Build(filter.get(), true), S_OK);
        for (int cycle = 0; cycle < 50; ++cycle) {
            SCOPED_TRACE(cycle);
            graph.counter.Reset();
            ASSERT_TRUE(SUCCEEDED(graph.Run()));
            ASSERT_TRUE(PumpUntil([&] { return graph.counter.Snapshot().samples >= 1; }));
            ASSERT_TRUE(SUCCEEDED(graph.Pause()));
            if (cycle == 1 || cycle == 49) {
                EXPECT_EQ(peerOpen(), 3) << "a peer opened a streaming camera";
            }
            ASSERT_EQ(graph.Stop(), S_OK);
            if (cycle == 1 || cycle == 49) {
                EXPECT_EQ(peerOpen(), 0) << "the stopped camera is not free";
            }
            if (cycle == 2) before = ResourceCounts::Now();
        }
        ExpectNoGrowth(before);
    }
    for (int n = 0; n < 50; ++n) {
        SCOPED_TRACE(n);
        CaptureGraph graph;
        ASSERT_EQ(graph.Build(filter.get(), n % 2 == 0), S_OK);
        if (n % 10 == 0) {
            ASSERT_TRUE(SUCCEEDED(graph.Run()));
            ASSERT_TRUE(PumpUntil([&] { return graph.counter.Snapshot().samples >= 1; }));
        }
        graph.Release();
        if (n == 5) before = ResourceCounts::Now();
    }
    ExpectNoGrowth(before);
}

// Pulled out while streaming, with this thread (the library's window thread)
// pumping (the library sees the removal, status 0x40) or not (the transfers
// fail, status 0x02): one EC_ERRORABORT, end of stream, no sample after it,
// a prompt stop; plugged back, the camera streams again.
TEST_F(CaptureGraphTest, UnpluggedMidStreamEndsTheStreamOnceAndStreamsAgainWhenBack) {
    for (bool pump : {true, false}) {
        SCOPED_TRACE(pump ? "pumping" : "not pumping");
        const std::wstring serial = UniqueSerial(L"U");
        const auto settings = GeneralCamera(serial, L"Unplugged camera");
        Camera camera = Plug(settings, serial);
        ComPtr<IBaseFilter> filter = Create(camera.clsid);
        ASSERT_TRUE(filter);
        CaptureGraph graph;
        ASSERT_EQ(graph.Build(filter.get(), true), S_OK);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        ASSERT_TRUE(PumpUntil([&] { return graph.counter.Snapshot().samples >= 5; }));

        std::thread unplug([&] { bus.Unplug(camera.path); });
        std::vector<vcapture::GraphEvent> events;
        bool aborted = false;
        const ULONGLONG deadline = ::GetTickCount64() + 20000;
        while (!aborted && ::GetTickCount64() < deadline) {
            if (pump) {
                win32::WaitPumpingMessages(nullptr, 20);
            } else {
                ::Sleep(20);
            }
            for (const auto& e : graph.TakeEvents()) {
                events.push_back(e);
                aborted = aborted || e.code == EC_ERRORABORT;
            }
        }
        unplug.join();
        ASSERT_TRUE(aborted);
        const long samplesAtAbort = graph.counter.Snapshot().samples;
        win32::WaitPumpingMessages(nullptr, 500);
        for (const auto& e : graph.TakeEvents()) events.push_back(e);
        int aborts = 0;
        bool complete = false;
        for (const auto& e : events) {
            if (e.code == EC_ERRORABORT) {
                ++aborts;
                EXPECT_EQ(static_cast<int32_t>(e.param1), ORVO_E_BAD_HANDLE);
                EXPECT_EQ(e.param2, 0);
            }
            complete = complete || e.code == EC_COMPLETE;
        }
        EXPECT_EQ(aborts, 1);
        EXPECT_TRUE(complete) << "no end of stream reached the renderer";
        EXPECT_EQ(graph.counter.Snapshot().samples, samplesAtAbort);
        const ULONGLONG stopStart = ::GetTickCount64();
        EXPECT_EQ(graph.Stop(), S_OK);
        EXPECT_LT(::GetTickCount64() - stopStart, 1000u);
        graph.Release();
        filter.reset();

        // Back again: a new device id, registered anew, streams.
        plugged.clear();
        Camera back = Plug(settings, serial);
        ComPtr<IBaseFilter> again = Create(back.clsid);
        ASSERT_TRUE(again);
        CaptureGraph second;
        ASSERT_EQ(second.Build(again.get(), true), S_OK);
        ASSERT_TRUE(SUCCEEDED(second.Run()));
        EXPECT_TRUE(PumpUntil([&] { return second.counter.Snapshot().samples >= 5; }));
        second.Release();
        bus.Unplug(back.path);
        plugged.clear();
    }
}

// While a graph in another process streams the camera, a first creation
// here fails (five attempts to open it), and a filter created before fails
// its run with EC_ERRORABORT; once the camera is free, both work.
TEST_F(CaptureGraphTest, ABusyCameraFailsCreationAndRunUntilFreed) {
    const std::wstring serial = UniqueSerial(L"B");
    const Camera camera = Plug(GeneralCamera(serial, L"Busy camera A"), serial);
    const CLSID late = Register(camera.id, L"Busy camera B");
    const CLSID peerClass = Register(camera.id, L"Busy camera P");
    ComPtr<IBaseFilter> early = Create(camera.clsid);
    ASSERT_TRUE(early);

    ChildProcess peer;
    const std::wstring readyName = UniqueName(L"capture_busy");
    win32::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(peer.Start(ExeFolder() + L"capture_peer.exe", L"stream-hold " + ClsidText(peerClass) + L" " + readyName));
    ASSERT_TRUE(win32::WaitPumpingMessages(ready.get(), 30000)) << "the peer did not stream";
    DeviceEntry entry{};
    ASSERT_TRUE(PumpUntil([&] { return library->Find(serial, &entry) >= 0 && entry.inUse; }, 30000));

    HRESULT hr = S_OK;
    EXPECT_FALSE(Create(late, &hr));
    EXPECT_TRUE(FAILED(hr));
    {
        CaptureGraph graph;
        ASSERT_EQ(graph.Build(early.get(), true), S_OK);
        const HRESULT run = graph.Run();
        bool aborted = false;
        PumpUntil([&] {
            for (const auto& e : graph.TakeEvents()) aborted = aborted || e.code == EC_ERRORABORT;
            return aborted;
        }, 10000);
        EXPECT_TRUE(aborted || FAILED(run));
        EXPECT_EQ(graph.counter.Snapshot().samples, 0);
        graph.Release();
    }
    // The other application ends; its camera is freed for the next one.
    ::TerminateProcess(peer.Process(), 0);
    peer.Wait(30000);
    ASSERT_TRUE(PumpUntil([&] { return library->Find(serial, &entry) >= 0 && !entry.inUse; }, 15000));

    ComPtr<IBaseFilter> now = Create(late, &hr);
    EXPECT_TRUE(now) << std::hex << hr;
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(early.get(), true), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(PumpUntil([&] { return graph.counter.Snapshot().samples >= 5; }));
}

// An application that returns from main while its graph streams exits at
// once, and the camera is free again for the next process.
TEST_F(CaptureGraphTest, AnApplicationLeavingMidStreamExitsAndFreesTheCamera) {
    const std::wstring serial = UniqueSerial(L"E");
    const Camera camera = Plug(GeneralCamera(serial, L"Leaving camera"), serial);
    const std::wstring readyName = UniqueName(L"capture_leaving");
    win32::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ChildProcess app;
    ASSERT_TRUE(app.Start(ExeFolder() + L"capture_peer.exe", L"stream-exit " + ClsidText(camera.clsid) + L" " + readyName));
    ASSERT_TRUE(win32::WaitPumpingMessages(ready.get(), 30000));
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(app.Wait(15000), 0) << app.Output();
    EXPECT_LT(::GetTickCount64() - start, 10000u);
    int handle = 0;
    EXPECT_TRUE(PumpUntil([&] { return library->api.orvo_Open(camera.id, &handle) == ORVO_OK; }, 10000));
    if (handle) library->api.orvo_Close(handle);
}

}  // namespace
}  // namespace orvo::test
