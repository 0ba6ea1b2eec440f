#include "capture_source/dshow/source_stream.h"

namespace orvo::dshow {

CSourceStream::CSourceStream(CSource* filter, const wchar_t* name) noexcept
    : CBaseOutputPin(filter, filter->StateLock(), name), m_source(filter) {
    m_added = filter->AddPin(this);
}

CSourceStream::~CSourceStream() = default;

HRESULT CSourceStream::Active() {
    win32::CriticalSectionLock lock(m_filter->StateLock());
    if (m_filter->IsActive()) return S_FALSE;
    if (!IsConnected()) return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!ThreadExists()) {
        if (!Create()) return E_FAIL;
        hr = Init();
        if (FAILED(hr)) {
            Close();
            return hr;
        }
    }
    return PauseWorker();
}

HRESULT CSourceStream::Inactive() {
    if (!IsConnected()) return S_OK;
    // Decommitting first releases a worker waiting for a buffer.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (ThreadExists()) {
        const HRESULT stopped = StopWorker();
        const HRESULT exited = Exit();
        Close();
        if (SUCCEEDED(hr)) hr = FAILED(stopped) ? stopped : exited;
    }
    return hr;
}

}  // namespace orvo::dshow
