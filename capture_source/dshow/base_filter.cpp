#include "capture_source/dshow/base_filter.h"

#include <cstring>
#include <new>

#include "capture_source/dshow/base_pin.h"
#include "capture_source/dshow/enumerators.h"

namespace orvo::dshow {

CBaseFilter::CBaseFilter(const CLSID& clsid, win32::CriticalSection& stateLock) noexcept
    : m_stateLock(stateLock), m_clsid(clsid) {}

CBaseFilter::~CBaseFilter() {
    if (m_clock) m_clock->Release();
}

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown) return GetInterface(reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)), out);
    if (iid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), out);
    if (iid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), out);
    if (iid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), out);
    if (iid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), out);
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CBaseFilter::NonDelegatingAddRef() { return ::InterlockedIncrement(&m_refs); }

ULONG STDMETHODCALLTYPE CBaseFilter::NonDelegatingRelease() {
    const LONG refs = ::InterlockedDecrement(&m_refs);
    if (refs == 0) {
        // Guards against a re-entrant release from the destructor's work.
        m_refs = 1;
        delete this;
    }
    return refs;
}

// The interface tables' entry asks the filter first and then its first pin,
// so applications find the pin's interfaces on the filter.
HRESULT STDMETHODCALLTYPE CBaseFilter::QueryInterface(REFIID iid, void** out) {
    const HRESULT hr = NonDelegatingQueryInterface(iid, out);
    if (SUCCEEDED(hr) || !out) return hr;
    CBasePin* pin = GetPinCount() > 0 ? GetPin(0) : nullptr;
    return pin ? pin->QueryInterface(iid, out) : hr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
    win32::CriticalSectionLock lock(m_stateLock);
    HRESULT result = S_OK;
    // Also after a pause that failed half-way: the pins end what it started.
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* pin = GetPin(i);
        if (pin && pin->IsConnected()) {
            const HRESULT hr = pin->Inactive();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    m_state = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
    win32::CriticalSectionLock lock(m_stateLock);
    if (m_state == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_state = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
    win32::CriticalSectionLock lock(m_stateLock);
    m_start = start;
    if (m_state == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    m_state = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    win32::CriticalSectionLock lock(m_stateLock);
    if (clock) clock->AddRef();
    if (m_clock) m_clock->Release();
    m_clock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    win32::CriticalSectionLock lock(m_stateLock);
    *clock = m_clock;
    if (m_clock) m_clock->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins) { return CreatePinEnumerator(this, pins); }

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* candidate = GetPin(i);
        LPWSTR name = nullptr;
        if (candidate && SUCCEEDED(candidate->QueryId(&name))) {
            const bool same = std::wcscmp(name, id) == 0;
            ::CoTaskMemFree(name);
            if (same) return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    const size_t n = m_name.copy(info->achName, MAX_FILTER_NAME - 1);
    info->achName[n] = L'\0';
    info->pGraph = m_graph;
    if (m_graph) m_graph->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    win32::CriticalSectionLock lock(m_stateLock);
    m_graph = graph;
    m_sink = nullptr;
    if (graph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            // Kept without a reference: the graph outlives its membership.
            m_sink = sink;
            sink->Release();
        }
    }
    m_name = name ? name : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

bool CBaseFilter::IsActive() noexcept {
    win32::CriticalSectionLock lock(m_stateLock);
    return m_state != State_Stopped;
}

bool CBaseFilter::IsStopped() noexcept { return !IsActive(); }

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) noexcept {
    IMediaEventSink* sink = m_sink;
    return sink ? sink->Notify(code, param1, param2) : E_NOTIMPL;
}

CSource::~CSource() {
    for (CBasePin* pin : m_pins) delete pin;
}

int CSource::GetPinCount() {
    win32::CriticalSectionLock lock(m_stateLock);
    return static_cast<int>(m_pins.size());
}

CBasePin* CSource::GetPin(int index) {
    win32::CriticalSectionLock lock(m_stateLock);
    return index >= 0 && index < static_cast<int>(m_pins.size()) ? m_pins[size_t(index)] : nullptr;
}

bool CSource::AddPin(CBasePin* pin) noexcept {
    win32::CriticalSectionLock lock(m_stateLock);
    try {
        m_pins.push_back(pin);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace orvo::dshow
