// CBaseFilter: filter states, clock, graph membership and events; CSource
// adds the list of output pins it owns.
#pragma once
#include <string>
#include <vector>

#include "capture_source/dshow/dshow.h"
#include "capture_source/dshow/unknown.h"
#include "win32/critical_section.h"

namespace orvo::dshow {

class CBasePin;

class CBaseFilter : public IBaseFilter, public IAMovieSetup, public INonDelegatingUnknown {
public:
    CBaseFilter(const CLSID& clsid, win32::CriticalSection& stateLock) noexcept;
    virtual ~CBaseFilter();

    // INonDelegatingUnknown: the filter's own interfaces only.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IUnknown of the interface tables.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return NonDelegatingRelease(); }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    // IAMovieSetup: registration is the module's business.
    HRESULT STDMETHODCALLTYPE Register() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Unregister() override { return S_OK; }

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int index) = 0;

    bool IsActive() noexcept;
    bool IsStopped() noexcept;
    win32::CriticalSection& StateLock() noexcept { return m_stateLock; }
    // Passes an event to the graph (when the filter is in one).
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) noexcept;
    IFilterGraph* Graph() const noexcept { return m_graph; }
    const CLSID& ClassId() const noexcept { return m_clsid; }

protected:
    win32::CriticalSection& m_stateLock;
    FILTER_STATE m_state = State_Stopped;
    REFERENCE_TIME m_start = 0;

private:
    CLiveObject m_live;
    LONG m_refs = 0;
    CLSID m_clsid;
    IReferenceClock* m_clock = nullptr;  // owned reference
    IFilterGraph* m_graph = nullptr;     // weak: the graph owns the filter
    IMediaEventSink* m_sink = nullptr;   // weak, as the graph
    std::wstring m_name;
};

// A source filter: owns the output pins that add themselves to it.
class CSource : public CBaseFilter {
public:
    explicit CSource(const CLSID& clsid) noexcept : CBaseFilter(clsid, m_sourceStateLock) {}
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    // Takes ownership; false when the list cannot grow.
    bool AddPin(CBasePin* pin) noexcept;

protected:
    win32::CriticalSection m_sourceStateLock;
    std::vector<CBasePin*> m_pins;
};

}  // namespace orvo::dshow
