// CBasePin: connection (with a full, partial or no proposed type), media
// type enumeration and pin information; CBaseOutputPin adds the allocator
// choice and delivery. Pins count their references on their filter.
#pragma once
#include <string>

#include "capture_source/dshow/base_filter.h"
#include "capture_source/dshow/media_type.h"
#include "win32/com_ptr.h"

namespace orvo::dshow {

class CBasePin : public IPin, public IQualityControl {
public:
    CBasePin(CBaseFilter* filter, win32::CriticalSection& lock, const wchar_t* name, PIN_DIRECTION direction) noexcept;
    virtual ~CBasePin();

    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_filter->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_filter->Release(); }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    // Records the agreed type as the connection's type.
    virtual HRESULT SetMediaType(const CMediaType* type);
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT CompleteConnect(IPin* receiver);
    virtual HRESULT BreakConnect();
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }

    bool IsConnected() const noexcept { return m_connected.get() != nullptr; }
    IPin* GetConnected() const noexcept { return m_connected.get(); }
    CBaseFilter* Filter() const noexcept { return m_filter; }
    const CMediaType& CurrentMediaType() const noexcept { return m_mt; }
    HRESULT DisconnectInternal();

protected:
    HRESULT AgreeMediaType(IPin* receiver, const CMediaType* proposed);
    HRESULT TryMediaTypes(IPin* receiver, const CMediaType* proposed, IEnumMediaTypes* types);
    HRESULT AttemptConnection(IPin* receiver, const CMediaType* type);

    CBaseFilter* m_filter;
    win32::CriticalSection& m_lock;
    std::wstring m_name;
    PIN_DIRECTION m_direction;
    win32::ComPtr<IPin> m_connected;
    CMediaType m_mt;
    REFERENCE_TIME m_segmentStart = 0, m_segmentStop = 0;
    double m_segmentRate = 1.0;
    IQualityControl* m_qualitySink = nullptr;  // weak, as the SDK keeps it

private:
    CLiveObject m_live;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter* filter, win32::CriticalSection& lock, const wchar_t* name) noexcept
        : CBasePin(filter, lock, name, PINDIR_OUTPUT) {}

    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // The input pin's allocator first, else a memory allocator of our own.
    virtual HRESULT DecideAllocator(IMemInputPin* input, IMemAllocator** allocator);
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* receiver) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();

protected:
    win32::ComPtr<IMemAllocator> m_allocator;
    win32::ComPtr<IMemInputPin> m_input;
};

}  // namespace orvo::dshow
