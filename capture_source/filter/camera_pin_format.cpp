// The pin's format: the one media type it offers and accepts, the buffer
// size, stream capabilities and the pin category.
#include <cstring>

#include "capture_source/filter/camera_filter.h"
#include "capture_source/filter/camera_pin.h"
#include "capture_source/filter/frame_format.h"
#include "capture_source/module/capture_results.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {

HRESULT STDMETHODCALLTYPE CCameraPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IKsPropertySet) return dshow::GetInterface(static_cast<IKsPropertySet*>(this), out);
    if (iid == IID_IAMStreamConfig) return dshow::GetInterface(static_cast<IAMStreamConfig*>(this), out);
    return CSourceStream::NonDelegatingQueryInterface(iid, out);
}

HRESULT CCameraPin::FillFormat(dshow::CMediaType* type) const noexcept {
    type->Clear();
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!info) return E_OUTOFMEMORY;
    info->AvgTimePerFrame = kFrameTime;
    info->dwBitRate = m_outputFormat.biSizeImage * 240;
    info->bmiHeader = m_outputFormat;
    type->majortype = MEDIATYPE_Video;
    type->subtype = m_outputSubtype;
    type->formattype = FORMAT_VideoInfo;
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = m_outputFormat.biSizeImage;
    return S_OK;
}

HRESULT CCameraPin::GetMediaType(int position, dshow::CMediaType* type) {
    if (position < 0 || !type) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG, position);
        return E_INVALIDARG;
    }
    if (position > 0) {
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, VFW_S_NO_MORE_ITEMS, position);
        return VFW_S_NO_MORE_ITEMS;
    }
    const HRESULT hr = FillFormat(type);
    if (FAILED(hr)) ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
    return hr;
}

HRESULT CCameraPin::CheckMediaType(const dshow::CMediaType* type) {
    const BITMAPINFOHEADER* header = nullptr;
    if (type && type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24 && type->pbFormat) {
        if (type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
            header = &reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
        } else if (type->formattype == FORMAT_VideoInfo2 && type->cbFormat >= sizeof(VIDEOINFOHEADER2)) {
            header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type->pbFormat)->bmiHeader;
        }
    }
    const bool accepted = header && header->biBitCount == 24 && header->biWidth == m_outputFormat.biWidth &&
                          header->biHeight != 0 &&
                          (header->biHeight == m_outputFormat.biHeight || -header->biHeight == m_outputFormat.biHeight);
    if (!accepted) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG, m_outputFormat.biWidth,
                  m_outputFormat.biHeight);
        return E_INVALIDARG;
    }
    ZEL_TRACE(ZelProviderA(), kZelLevelInformation, kTraceFlags, m_formatPosition);
    return S_OK;
}

// Keeps the agreed type too, so ConnectionMediaType reports what was agreed
// (a top-down proposal stays top-down).
HRESULT CCameraPin::SetMediaType(const dshow::CMediaType* type) {
    HRESULT hr = CheckMediaType(type);
    if (FAILED(hr)) return hr;
    hr = CSourceStream::SetMediaType(type);
    if (SUCCEEDED(hr)) m_formatPosition = 0;
    return hr;
}

HRESULT CCameraPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_INVALIDARG);
        return E_INVALIDARG;
    }
    win32::CriticalSectionLock lock(m_filter->StateLock());
    if (request->cBuffers == 0) request->cBuffers = 1;
    request->cbBuffer = static_cast<long>(m_outputFormat.biSizeImage);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        return hr;
    }
    if (actual.cbBuffer < request->cbBuffer) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, actual.cbBuffer, request->cbBuffer);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraPin::Notify(IBaseFilter*, Quality) { return S_OK; }

// A graph that disconnects a running pin stops the filter first.
HRESULT STDMETHODCALLTYPE CCameraPin::Disconnect() {
    m_filter->Stop();
    return CSourceStream::Disconnect();
}

HRESULT CCameraPin::Active() {
    win32::CriticalSectionLock lock(m_filter->StateLock());
    return CSourceStream::Active();
}

// --- IAMStreamConfig ----------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraPin::SetFormat(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    const dshow::CMediaType copy(*type);
    win32::CriticalSectionLock lock(m_filter->StateLock());
    if (FAILED(CheckMediaType(&copy))) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, VFW_E_INVALIDMEDIATYPE);
        return VFW_E_INVALIDMEDIATYPE;
    }
    m_formatPosition = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraPin::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    dshow::CMediaType current;
    const HRESULT hr = GetMediaType(m_formatPosition, &current);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    *type = dshow::CreateTaskMediaType(current);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CCameraPin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = 1;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (!type) return E_POINTER;
    dshow::CMediaType found;
    const HRESULT hr = GetMediaType(index, &found);
    if (FAILED(hr)) return hr;
    if (hr == VFW_S_NO_MORE_ITEMS) {
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, index);
        return S_FALSE;
    }
    if (!found.pbFormat) return E_UNEXPECTED;
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(found.pbFormat)->bmiHeader;
    *type = dshow::CreateTaskMediaType(found);
    if (!*type) return E_OUTOFMEMORY;
    if (caps) {
        const LONG w = header.biWidth, h = header.biHeight;
        VIDEO_STREAM_CONFIG_CAPS c{};
        c.guid = FORMAT_VideoInfo;
        c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = {w, h};
        c.CropGranularityX = w;
        c.CropGranularityY = h;
        c.MinOutputSize = c.MaxOutputSize = {w, h};
        c.MinFrameInterval = c.MaxFrameInterval = kFrameTime;
        c.MinBitsPerSecond = c.MaxBitsPerSecond = w * h * header.biBitCount * 30;
        std::memcpy(caps, &c, sizeof(c));
    }
    return S_OK;
}

// --- IKsPropertySet -----------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraPin::Set(REFGUID set, DWORD id, void*, DWORD, void*, DWORD) {
    ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_NOTIMPL, set, id);
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CCameraPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataBytes,
                                          DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (dataBytes < sizeof(GUID)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, dataBytes);
        return E_FAIL;
    }
    std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

}  // namespace orvo::capture
