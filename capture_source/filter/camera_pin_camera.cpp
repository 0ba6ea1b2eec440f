// The pin's camera side: binding the library, learning the picture size,
// opening and starting the camera, and the event thread's frame copies.
#include <cstring>
#include <ctime>

#include "capture_source/filter/camera_filter.h"
#include "capture_source/filter/camera_pin.h"
#include "capture_source/filter/frame_format.h"
#include "capture_source/module/capture_results.h"
#include "capture_source/module/own_folder.h"
#include "support/trace/zel_trace.h"

namespace orvo::capture {
namespace {

constexpr int kOpenAttempts = 5;
constexpr int kStatusParam = 24;
constexpr int kStatusStopMask = 0x42;  // 0x02 failed, 0x40 removed
constexpr int kEventFrame = 0, kEventStatus = 2;

}  // namespace

CCameraPin::CCameraPin(CCameraFilter* filter, int deviceId) noexcept
    : CSourceStream(filter, L"Output Pin"),
      // Beside ourselves, never by bare name: a copy planted in the
      // application's current folder must not win.
      m_library(LoadLibraryBesideModule(L"orvoApi.dll")),
      m_deviceId(deviceId),
      m_statusEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_frameEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_random(static_cast<unsigned>(::GetTickCount()) ^ ::GetCurrentThreadId()),
      m_frameReady(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CCameraPin::~CCameraPin() {
    StopCamera();
    // The worker ends before the slots and the library go.
    if (ThreadExists()) {
        StopWorker();
        Exit();
        Close();
    }
    m_writeIndex = -1;
}

HRESULT CCameraPin::BindLibrary() noexcept {
    if (m_api.Bound()) return S_OK;
    auto initialize = m_library.proc<decltype(&::orvo_InitializeApi)>("orvo_InitializeApi");
    OrvoEntryPoints api;
    api.open = m_library.proc<decltype(api.open)>("orvo_Open");
    api.close = m_library.proc<decltype(api.close)>("orvo_Close");
    api.createBuffer = m_library.proc<decltype(api.createBuffer)>("orvo_CreateBuffer");
    api.deleteBuffer = m_library.proc<decltype(api.deleteBuffer)>("orvo_DeleteBuffer");
    api.getFrame = m_library.proc<decltype(api.getFrame)>("orvo_GetFrame");
    api.releaseFrame = m_library.proc<decltype(api.releaseFrame)>("orvo_ReleaseFrame");
    api.startCapture = m_library.proc<decltype(api.startCapture)>("orvo_StartCapture");
    api.stopCapture = m_library.proc<decltype(api.stopCapture)>("orvo_StopCapture");
    api.enableCameraEvent = m_library.proc<decltype(api.enableCameraEvent)>("orvo_EnableCameraEvent");
    api.getParam = m_library.proc<decltype(api.getParam)>("orvo_GetParam");
    const void* all[] = {reinterpret_cast<const void*>(initialize), reinterpret_cast<const void*>(api.open),
                         reinterpret_cast<const void*>(api.close), reinterpret_cast<const void*>(api.createBuffer),
                         reinterpret_cast<const void*>(api.deleteBuffer), reinterpret_cast<const void*>(api.getFrame),
                         reinterpret_cast<const void*>(api.releaseFrame),
                         reinterpret_cast<const void*>(api.startCapture),
                         reinterpret_cast<const void*>(api.stopCapture),
                         reinterpret_cast<const void*>(api.enableCameraEvent),
                         reinterpret_cast<const void*>(api.getParam)};
    for (size_t i = 0; i < sizeof(all) / sizeof(all[0]); ++i) {
        if (!all[i]) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, i);
            return E_FAIL;
        }
    }
    const int32_t result = initialize();
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        return E_FAIL;
    }
    m_api = api;
    return S_OK;
}

int32_t CCameraPin::ReadInfo(int handle, int infoId, uint8_t* record) const noexcept {
    std::memset(record, 0, kInfoRecordBytes);
    auto getInfo = m_library.proc<decltype(&::orvo_GetInfo)>("orvo_GetInfo");
    if (!getInfo) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL);
        return ORVO_E_FAIL;
    }
    return getInfo(handle, infoId, record);
}

bool CCameraPin::BindSettings(SetParamFn* setParam, UpdateParamsFn* updateParams) const noexcept {
    *setParam = m_library.proc<SetParamFn>("orvo_SetParam");
    *updateParams = m_library.proc<UpdateParamsFn>("orvo_UpdateParams");
    if (*setParam && *updateParams) return true;
    ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL);
    return false;
}

HRESULT CCameraPin::UpdateSettings(UpdateParamsFn updateParams, int handle) noexcept {
    const int32_t result = updateParams(handle);
    if (result == ORVO_OK) return S_OK;
    ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
    return E_FAIL;
}

HRESULT CCameraPin::OpenCamera(int* handle) noexcept {
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        int opened = 0;
        const int32_t result = m_api.open(m_deviceId, &opened);
        if (result == ORVO_OK && opened != 0) {
            *handle = opened;
            return S_OK;
        }
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, attempt, result);
        ::Sleep(static_cast<DWORD>(m_random() % 200) + 1);
    }
    ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, m_deviceId);
    return E_FAIL;
}

HRESULT CCameraPin::PrepareCamera() noexcept {
    if (!m_library || m_deviceId < 0) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, m_deviceId);
        return E_FAIL;
    }
    HRESULT hr = BindLibrary();
    if (FAILED(hr)) return hr;
    if (m_outputFormat.biSizeImage > 0) return S_OK;

    int handle = 0;
    hr = OpenCamera(&handle);
    if (FAILED(hr)) return hr;
    int sourceWidth = 0, sourceHeight = 0, outputWidth = 0, outputHeight = 0;
    hr = QueryFormat(handle, &sourceWidth, &sourceHeight, &outputWidth, &outputHeight);
    m_api.close(handle);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        return hr;
    }
    const int64_t sourceBytes = DibImageSize(sourceWidth, sourceHeight);
    const int64_t outputBytes = DibImageSize(outputWidth, outputHeight);
    constexpr int64_t kLargest = 0x7FFFFFFF;
    if (sourceWidth <= 0 || sourceHeight <= 0 || outputWidth <= 0 || outputHeight <= 0 || sourceBytes <= 0 ||
        outputBytes <= 0 || sourceBytes > kLargest || outputBytes > kLargest) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, sourceWidth, sourceHeight, outputWidth,
                  outputHeight);
        return E_FAIL;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        try {
            // Cleared: samples before the first frame are black.
            m_slots[i].pixels.assign(size_t(sourceBytes), 0);
        } catch (...) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_OUTOFMEMORY, i, sourceBytes);
            for (FrameSlot& slot : m_slots) std::vector<uint8_t>().swap(slot.pixels);
            return E_OUTOFMEMORY;
        }
    }
    m_writeIndex = 0;
    auto header = [](int width, int height) {
        BITMAPINFOHEADER h{};
        h.biSize = sizeof(h);
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biSizeImage = static_cast<DWORD>(DibImageSize(width, height));
        return h;
    };
    m_sourceFormat = header(sourceWidth, sourceHeight);
    m_outputFormat = header(outputWidth, outputHeight);
    m_outputSubtype = MEDIASUBTYPE_RGB24;
    return S_OK;
}

void CCameraPin::ClearSlots() noexcept {
    for (FrameSlot& slot : m_slots) {
        win32::CriticalSectionLock lock(slot.lock);
        std::fill(slot.pixels.begin(), slot.pixels.end(), uint8_t(0));
    }
}

HRESULT CCameraPin::StartCamera() noexcept {
    if (!m_library || m_deviceId < 0 || !m_api.Bound() || m_sourceFormat.biSizeImage < 1) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, E_FAIL, m_deviceId, m_sourceFormat.biSizeImage);
        return E_FAIL;
    }
    if (m_camera != 0) return S_OK;
    int handle = 0;
    HRESULT hr = OpenCamera(&handle);
    if (FAILED(hr)) return hr;
    m_camera = handle;
    m_streamFailure = S_OK;
    ClearSlots();
    int32_t result = m_api.createBuffer(handle, 0, 1, 0, m_sourceFormat.biWidth, m_sourceFormat.biHeight, 4, &m_buffer);
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        m_buffer = -1;
        StopCamera();
        return E_FAIL;
    }
    hr = ConfigureCamera(handle, m_buffer);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        StopCamera();
        return hr;
    }
    result = m_api.enableCameraEvent(handle, kEventStatus, m_statusEvent.get());
    if (result == ORVO_OK) result = m_api.enableCameraEvent(handle, kEventFrame, m_frameEvent.get());
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        StopCamera();
        return E_FAIL;
    }
    hr = m_eventThread.Start(this, true);
    if (FAILED(hr)) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        StopCamera();
        return E_FAIL;
    }
    return S_OK;
}

void CCameraPin::StopCamera() noexcept {
    m_eventThread.Stop();
    if (!m_api.Bound() || m_camera == 0) return;
    m_api.stopCapture(m_camera);
    if (m_buffer != -1) m_api.deleteBuffer(m_camera, m_buffer);
    m_api.enableCameraEvent(m_camera, kEventFrame, nullptr);
    m_api.enableCameraEvent(m_camera, kEventStatus, nullptr);
    m_api.close(m_camera);
    m_camera = 0;
    m_buffer = -1;
}

HRESULT CCameraPin::OnThreadStartPlay() {
    HRESULT hr = StartCamera();
    if (SUCCEEDED(hr)) {
        const int32_t result = m_api.startCapture(m_camera, m_buffer);
        if (result != ORVO_OK) {
            ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
            hr = E_FAIL;
        }
    }
    if (FAILED(hr)) {
        // The state change fails; the graph hears why.
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, hr);
        StopCamera();
        DeliverEndOfStream();
        m_filter->NotifyEvent(EC_ERRORABORT, static_cast<LONG_PTR>(ORVO_E_BAD_HANDLE), 0);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CCameraPin::OnThreadStop() {
    StopCamera();
    m_nextSampleTime = 0;
    return S_OK;
}

HRESULT CCameraPin::OnThreadDestroy() {
    StopCamera();
    return S_OK;
}

HRESULT CCameraPin::GetHandles(HANDLE* handles, DWORD* count) {
    if (!count) return E_POINTER;
    *count = 2;
    if (handles) {
        handles[0] = m_statusEvent.get();
        handles[1] = m_frameEvent.get();
    }
    return S_OK;
}

HRESULT CCameraPin::OnSignaled(HANDLE handle) {
    const int camera = m_camera;
    if (camera == 0) return E_FAIL;
    if (handle == m_statusEvent.get()) {
        int status = 0;
        const int32_t result = m_api.getParam(camera, -1, kStatusParam, &status);
        if (result != ORVO_OK || (status & kStatusStopMask) != 0) {
            ZEL_TRACE(ZelProviderA(), kZelLevelWarning, kTraceFlags, result, status);
            // Only recorded: the worker ends the stream on its own thread.
            m_streamFailure = ORVO_E_BAD_HANDLE;
            return E_FAIL;
        }
        return S_OK;
    }
    if (handle != m_frameEvent.get()) return S_OK;
    const int32_t slotIndex = m_writeIndex.load();
    if (slotIndex < 0 || slotIndex >= kSlotCount) return E_FAIL;
    FrameSlot& slot = m_slots[slotIndex];
    win32::CriticalSectionLock lock(slot.lock);
    int frameIndex = -1;
    FrameDesc frame{};
    int32_t result = m_api.getFrame(camera, m_buffer, &frameIndex, &frame);
    // The newest frame can be held for a moment by the library's own writer;
    // the next frame event brings it.
    if (result == ORVO_E_NO_FRAME) return S_OK;
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        m_streamFailure = ORVO_E_BAD_HANDLE;
        return E_FAIL;
    }
    if (frame.bits) std::memcpy(slot.pixels.data(), frame.bits, slot.pixels.size());
    result = m_api.releaseFrame(camera, m_buffer, frameIndex);
    if (result != ORVO_OK) {
        ZEL_TRACE(ZelProviderA(), kZelLevelError, kTraceFlags, result);
        m_streamFailure = ORVO_E_BAD_HANDLE;
        return E_FAIL;
    }
    m_writeIndex.exchange(slotIndex == kSlotCount - 1 ? 0 : slotIndex + 1);
    ++m_framesFinished;
    ::SetEvent(m_frameReady.get());
    return S_OK;
}

}  // namespace orvo::capture
