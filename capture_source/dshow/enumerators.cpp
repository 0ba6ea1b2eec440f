#include "capture_source/dshow/enumerators.h"

#include <new>

#include "capture_source/dshow/base_pin.h"

namespace orvo::dshow {
namespace {

// The common part: reference count and position; T is the enumerator
// interface, Derived supplies Item(index, out) and Count().
template <class T, class Item, class Derived>
class CEnumerator : public T {
public:
    explicit CEnumerator(CBaseFilter* filter) noexcept : m_filter(filter) { m_filter->AddRef(); }
    virtual ~CEnumerator() { m_filter->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(T)) return GetInterface(static_cast<T*>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = ::InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        if (!items || (count > 1 && !fetched)) return E_POINTER;
        ULONG got = 0;
        while (got < count) {
            if (FAILED(static_cast<Derived*>(this)->ItemAt(m_position, &items[got]))) break;
            ++m_position;
            ++got;
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const ULONG total = static_cast<Derived*>(this)->Count();
        if (m_position + count > total) {
            m_position = total;
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(T** out) override {
        if (!out) return E_POINTER;
        Derived* copy = new (std::nothrow) Derived(*static_cast<Derived*>(this));
        if (!copy) return E_OUTOFMEMORY;
        return GetInterface(static_cast<T*>(copy), reinterpret_cast<void**>(out));
    }

protected:
    CEnumerator(const CEnumerator& other) noexcept : T(), m_filter(other.m_filter), m_position(other.m_position) {
        m_filter->AddRef();
    }

    CBaseFilter* m_filter;
    ULONG m_position = 0;

private:
    LONG m_refs = 0;
};

class CEnumPins : public CEnumerator<IEnumPins, IPin*, CEnumPins> {
public:
    using CEnumerator::CEnumerator;
    CEnumPins(const CEnumPins& other) noexcept : CEnumerator(other) {}
    HRESULT ItemAt(ULONG index, IPin** out) {
        if (index >= Count()) return E_FAIL;
        CBasePin* pin = m_filter->GetPin(static_cast<int>(index));
        if (!pin) return E_FAIL;
        return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(out));
    }
    ULONG Count() { return static_cast<ULONG>(m_filter->GetPinCount()); }
};

class CEnumMediaTypes : public CEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE*, CEnumMediaTypes> {
public:
    CEnumMediaTypes(CBasePin* pin) noexcept : CEnumerator(pin->Filter()), m_pin(pin) {}
    CEnumMediaTypes(const CEnumMediaTypes& other) noexcept : CEnumerator(other), m_pin(other.m_pin) {}
    HRESULT ItemAt(ULONG index, AM_MEDIA_TYPE** out) {
        CMediaType type;
        if (m_pin->GetMediaType(static_cast<int>(index), &type) != S_OK) return E_FAIL;
        *out = CreateTaskMediaType(type);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    ULONG Count() {
        ULONG n = 0;
        CMediaType type;
        while (m_pin->GetMediaType(static_cast<int>(n), &type) == S_OK) ++n;
        return n;
    }

private:
    CBasePin* m_pin;
};

}  // namespace

HRESULT CreatePinEnumerator(CBaseFilter* filter, IEnumPins** out) noexcept {
    if (!out) return E_POINTER;
    auto* e = new (std::nothrow) CEnumPins(filter);
    if (!e) return E_OUTOFMEMORY;
    return GetInterface(static_cast<IEnumPins*>(e), reinterpret_cast<void**>(out));
}

HRESULT CreateMediaTypeEnumerator(CBasePin* pin, IEnumMediaTypes** out) noexcept {
    if (!out) return E_POINTER;
    auto* e = new (std::nothrow) CEnumMediaTypes(pin);
    if (!e) return E_OUTOFMEMORY;
    return GetInterface(static_cast<IEnumMediaTypes*>(e), reinterpret_cast<void**>(out));
}

}  // namespace orvo::dshow
