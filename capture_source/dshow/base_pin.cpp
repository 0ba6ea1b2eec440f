#include "capture_source/dshow/base_pin.h"

#include <cstring>

#include "capture_source/dshow/enumerators.h"

namespace orvo::dshow {

CBasePin::CBasePin(CBaseFilter* filter, win32::CriticalSection& lock, const wchar_t* name,
                   PIN_DIRECTION direction) noexcept
    : m_filter(filter), m_lock(lock), m_name(name ? name : L""), m_direction(direction) {}

CBasePin::~CBasePin() = default;

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) return GetInterface(static_cast<IPin*>(this), out);
    if (iid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), out);
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (!receiver) return E_POINTER;
    win32::CriticalSectionLock lock(m_lock);
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;
    if (type) {
        const CMediaType proposed(*type);
        return AgreeMediaType(receiver, &proposed);
    }
    return AgreeMediaType(receiver, nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* receiver, const CMediaType* proposed) {
    // A fully specified type is tried as it is; otherwise the receiver's
    // types and then ours, each checked against what was proposed.
    if (proposed && !proposed->IsPartiallySpecified()) return AttemptConnection(receiver, proposed);
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        win32::ComPtr<IEnumMediaTypes> types;
        const HRESULT hr = pass == 0 ? receiver->EnumMediaTypes(types.put()) : EnumMediaTypes(types.put());
        if (FAILED(hr) || !types) continue;
        const HRESULT tried = TryMediaTypes(receiver, proposed, types.get());
        if (SUCCEEDED(tried)) return S_OK;
        if (tried != VFW_E_NO_ACCEPTABLE_TYPES) last = tried;
    }
    return last;
}

HRESULT CBasePin::TryMediaTypes(IPin* receiver, const CMediaType* proposed, IEnumMediaTypes* types) {
    types->Reset();
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* next = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &next, &fetched) != S_OK || fetched != 1 || !next) break;
        const CMediaType candidate(*next);
        DeleteTaskMediaType(next);
        if (proposed && !proposed->MatchesPartial(candidate)) continue;
        const HRESULT hr = AttemptConnection(receiver, &candidate);
        if (SUCCEEDED(hr)) return S_OK;
        last = hr;
    }
    return last;
}

HRESULT CBasePin::AttemptConnection(IPin* receiver, const CMediaType* type) {
    HRESULT hr = CheckConnect(receiver);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    if (CheckMediaType(type) != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
        m_connected = win32::ComPtr<IPin>(receiver);
        hr = receiver->ReceiveConnection(this, type);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receiver);
            if (SUCCEEDED(hr)) return S_OK;
            receiver->Disconnect();
        }
    }
    BreakConnect();
    m_connected.reset();
    m_mt.Clear();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
    win32::CriticalSectionLock lock(m_lock);
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;
    if (!IsConnected()) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_connected.reset();
    m_mt.Clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    win32::CriticalSectionLock lock(m_lock);
    *pin = m_connected.get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    win32::CriticalSectionLock lock(m_lock);
    if (!IsConnected()) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*type, m_mt) ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = m_filter;
    m_filter->AddRef();
    const size_t n = m_name.copy(info->achName, MAX_PIN_NAME - 1);
    info->achName[n] = L'\0';
    info->dir = m_direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = m_direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const size_t bytes = (m_name.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, m_name.c_str(), bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    const CMediaType candidate(*type);
    return CheckMediaType(&candidate) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    return CreateMediaTypeEnumerator(this, types);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    m_segmentStart = start;
    m_segmentStop = stop;
    m_segmentRate = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink) {
    m_qualitySink = sink;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* type) { return m_mt.Set(*type) ? S_OK : E_OUTOFMEMORY; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION direction;
    const HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    return direction == m_direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::BreakConnect() { return S_OK; }

// ---------------------------------------------------------------------------

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    const HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    m_input.reset();
    return pin->QueryInterface(IID_IMemInputPin, m_input.put_void());
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(m_input.get(), m_allocator.put());
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_allocator) m_allocator->Decommit();
    m_allocator.reset();
    m_input.reset();
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* input, IMemAllocator** allocator) {
    if (!input || !allocator) return E_POINTER;
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    input->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;

    win32::ComPtr<IMemAllocator> candidate;
    HRESULT hr = input->GetAllocator(candidate.put());
    if (SUCCEEDED(hr) && candidate) {
        hr = DecideBufferSize(candidate.get(), &request);
        if (SUCCEEDED(hr)) hr = input->NotifyAllocator(candidate.get(), FALSE);
        if (SUCCEEDED(hr)) {
            *allocator = candidate.detach();
            return S_OK;
        }
    }
    candidate.reset();
    hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            candidate.put_void());
    if (FAILED(hr)) return hr;
    hr = DecideBufferSize(candidate.get(), &request);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(candidate.get(), FALSE);
    if (FAILED(hr)) return hr;
    *allocator = candidate.detach();
    return S_OK;
}

HRESULT CBaseOutputPin::Active() {
    return m_allocator ? m_allocator->Commit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::Inactive() {
    return m_allocator ? m_allocator->Decommit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
    if (!m_allocator) return VFW_E_NO_ALLOCATOR;
    return m_allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!m_input) return VFW_E_NOT_CONNECTED;
    return m_input->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    IPin* connected = m_connected.get();
    return connected ? connected->EndOfStream() : VFW_E_NOT_CONNECTED;
}

}  // namespace orvo::dshow
