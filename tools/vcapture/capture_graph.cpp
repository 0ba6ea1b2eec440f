#include "tools/vcapture/capture_graph.h"

#include <cstring>

namespace vcapture {
namespace {

uint64_t Fnv(const BYTE* p, long n) {
    uint64_t h = 1469598103934665603ull;
    // Every 61st byte is enough to tell frames of a moving picture apart.
    for (long i = 0; i < n; i += 61) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

}  // namespace

HRESULT STDMETHODCALLTYPE SampleCounter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE SampleCounter::SampleCB(double, IMediaSample* sample) {
    const LONG inside = ::InterlockedIncrement(&m_inside);
    REFERENCE_TIME start = -1, end = -1;
    sample->GetTime(&start, &end);
    BYTE* pixels = nullptr;
    sample->GetPointer(&pixels);
    const long length = sample->GetActualDataLength();
    const uint64_t hash = pixels ? Fnv(pixels, length) : 0;
    {
        orvo::win32::CriticalSectionLock lock(m_lock);
        if (m_stats.samples == 0) {
            m_stats.firstStart = start;
            m_stats.timesFromZero = start == 0;
        } else {
            if (start != m_lastEnd) ++m_stats.timeGaps;
            if (hash == m_lastHash) ++m_stats.repeated;
        }
        if (inside > m_stats.activeThreads) m_stats.activeThreads = inside;
        m_stats.lastStart = start;
        m_lastEnd = end;
        m_lastHash = hash;
        ++m_stats.samples;
    }
    if (onSample && pixels) onSample(pixels, length, start);
    ::InterlockedDecrement(&m_inside);
    return S_OK;
}

SampleCounter::Stats SampleCounter::Snapshot() {
    orvo::win32::CriticalSectionLock lock(m_lock);
    return m_stats;
}

void SampleCounter::Reset() {
    orvo::win32::CriticalSectionLock lock(m_lock);
    m_stats = Stats{};
    m_lastEnd = -1;
    m_lastHash = 0;
}

std::string EventName(long code) {
    switch (code) {
    case EC_COMPLETE: return "EC_COMPLETE";
    case EC_USERABORT: return "EC_USERABORT";
    case EC_ERRORABORT: return "EC_ERRORABORT";
    case EC_TIME: return "EC_TIME";
    case EC_REPAINT: return "EC_REPAINT";
    case EC_STREAM_ERROR_STOPPED: return "EC_STREAM_ERROR_STOPPED";
    case EC_STREAM_ERROR_STILLPLAYING: return "EC_STREAM_ERROR_STILLPLAYING";
    case EC_ERROR_STILLPLAYING: return "EC_ERROR_STILLPLAYING";
    case EC_PALETTE_CHANGED: return "EC_PALETTE_CHANGED";
    case EC_VIDEO_SIZE_CHANGED: return "EC_VIDEO_SIZE_CHANGED";
    case EC_QUALITY_CHANGE: return "EC_QUALITY_CHANGE";
    case EC_SHUTTING_DOWN: return "EC_SHUTTING_DOWN";
    case EC_CLOCK_CHANGED: return "EC_CLOCK_CHANGED";
    case EC_PAUSED: return "EC_PAUSED";
    case EC_OPENING_FILE: return "EC_OPENING_FILE";
    case EC_BUFFERING_DATA: return "EC_BUFFERING_DATA";
    case EC_FULLSCREEN_LOST: return "EC_FULLSCREEN_LOST";
    case EC_ACTIVATE: return "EC_ACTIVATE";
    case EC_NEED_RESTART: return "EC_NEED_RESTART";
    case EC_WINDOW_DESTROYED: return "EC_WINDOW_DESTROYED";
    case EC_DISPLAY_CHANGED: return "EC_DISPLAY_CHANGED";
    case EC_STARVATION: return "EC_STARVATION";
    case EC_CLOCK_UNSET: return "EC_CLOCK_UNSET";
    case EC_DEVICE_LOST: return "EC_DEVICE_LOST";
    default: {
        char text[24];
        std::snprintf(text, sizeof(text), "event 0x%lX", code);
        return text;
    }
    }
}

ComPtr<IPin> OutputPin(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.put()))) return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK) return {};
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) return pin;
    }
}

void GiveTeeTwoBuffers(IBaseFilter* source) {
    ComPtr<IPin> out = OutputPin(source);
    ComPtr<IPin> peer;
    if (!out || FAILED(out->ConnectedTo(peer.put()))) return;
    ComPtr<IMemInputPin> input = peer.query<IMemInputPin>(IID_IMemInputPin);
    ComPtr<IMemAllocator> allocator;
    if (!input || FAILED(input->GetAllocator(allocator.put())) || !allocator) return;
    ALLOCATOR_PROPERTIES props{}, actual{};
    if (SUCCEEDED(allocator->GetProperties(&props)) && props.cBuffers < 2) {
        props.cBuffers = 2;
        allocator->SetProperties(&props, &actual);
    }
}

HRESULT CaptureGraph::Build(IBaseFilter* sourceFilter, bool direct, bool clock) {
    source = ComPtr<IBaseFilter>(sourceFilter);
    HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    if (FAILED(hr)) return hr;
    hr = ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, grabberFilter.put_void());
    if (FAILED(hr)) return hr;
    hr = ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.put_void());
    if (FAILED(hr)) return hr;
    grabber = grabberFilter.query<ISampleGrabber>(IID_ISampleGrabber);
    if (!grabber) return E_NOINTERFACE;
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(&want);
    grabber->SetBufferSamples(FALSE);
    grabber->SetCallback(&counter, 0);
    if (FAILED(hr = graph->AddFilter(source.get(), L"Camera"))) return hr;
    if (FAILED(hr = graph->AddFilter(grabberFilter.get(), L"Grabber"))) return hr;
    if (FAILED(hr = graph->AddFilter(renderer.get(), L"Null"))) return hr;
    if (direct) {
        ComPtr<IPin> out = OutputPin(source.get());
        ComPtr<IPin> grabIn, grabOut, nullIn;
        grabberFilter->FindPin(L"In", grabIn.put());
        grabberFilter->FindPin(L"Out", grabOut.put());
        renderer->FindPin(L"In", nullIn.put());
        if (!out || !grabIn || !grabOut || !nullIn) return E_FAIL;
        if (FAILED(hr = graph->ConnectDirect(out.get(), grabIn.get(), nullptr))) return hr;
        if (FAILED(hr = graph->ConnectDirect(grabOut.get(), nullIn.get(), nullptr))) return hr;
    } else {
        ComPtr<ICaptureGraphBuilder2> builder;
        hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                builder.put_void());
        if (FAILED(hr)) return hr;
        builder->SetFiltergraph(graph.get());
        hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.get(), grabberFilter.get(),
                                   renderer.get());
        if (FAILED(hr)) return hr;
        GiveTeeTwoBuffers(source.get());
    }
    if (!clock) {
        ComPtr<IMediaFilter> filter = graph.query<IMediaFilter>(IID_IMediaFilter);
        if (filter) filter->SetSyncSource(nullptr);
    }
    m_control = graph.query<IMediaControl>(IID_IMediaControl);
    events = graph.query<IMediaEventEx>(IID_IMediaEventEx);
    return m_control && events ? S_OK : E_NOINTERFACE;
}

std::vector<GraphEvent> CaptureGraph::TakeEvents() {
    std::vector<GraphEvent> taken;
    if (!events) return taken;
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        taken.push_back({code, p1, p2});
        events->FreeEventParams(code, p1, p2);
    }
    return taken;
}

bool CaptureGraph::Format(int* width, int* height, int* stride) {
    AM_MEDIA_TYPE type{};
    if (!grabber || FAILED(grabber->GetConnectedMediaType(&type))) return false;
    bool ok = false;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER) && type.pbFormat) {
        const BITMAPINFOHEADER& h = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
        *width = h.biWidth;
        *height = h.biHeight;
        *stride = ((h.biWidth * h.biBitCount + 31) / 32) * 4;
        ok = true;
    }
    ::CoTaskMemFree(type.pbFormat);
    if (type.pUnk) type.pUnk->Release();
    return ok;
}

void CaptureGraph::Release() {
    if (m_control) m_control->Stop();
    if (grabber) grabber->SetCallback(nullptr, 0);
    if (graph) {
        // Filters leave the graph first: it holds references to them.
        if (renderer) graph->RemoveFilter(renderer.get());
        if (grabberFilter) graph->RemoveFilter(grabberFilter.get());
        if (source) graph->RemoveFilter(source.get());
    }
    events.reset();
    m_control.reset();
    grabber.reset();
    renderer.reset();
    grabberFilter.reset();
    source.reset();
    graph.reset();
}

std::vector<Device> ListDevices() {
    std::vector<Device> devices;
    ComPtr<ICreateDevEnum> create;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  create.put_void()))) {
        return devices;
    }
    ComPtr<IEnumMoniker> monikers;
    if (create->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0) != S_OK) return devices;
    for (;;) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK) break;
        Device device;
        device.moniker = moniker;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()))) {
            VARIANT name;
            ::VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) device.name = name.bstrVal;
            ::VariantClear(&name);
        }
        LPOLESTR display = nullptr;
        if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display)) && display) {
            device.displayName = display;
            ::CoTaskMemFree(display);
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

bool FindDevice(const std::wstring& which, Device* device) {
    const std::vector<Device> devices = ListDevices();
    wchar_t* end = nullptr;
    const long index = std::wcstol(which.c_str(), &end, 10);
    if (!which.empty() && end && *end == L'\0') {
        if (index < 0 || size_t(index) >= devices.size()) return false;
        *device = devices[size_t(index)];
        return true;
    }
    for (const Device& d : devices) {
        if (d.name == which) {
            *device = d;
            return true;
        }
    }
    return false;
}

HRESULT CreateSource(const Device& device, ComPtr<IBaseFilter>* filter) {
    return device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
}

}  // namespace vcapture
