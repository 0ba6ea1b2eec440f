// The capture pin: one RGB24 format at the camera's output size and 30
// frames per second; while the graph streams it owns the open camera, a
// library frame buffer and the event thread that copies each finished frame
// into a ring of four slots, from which the worker fills samples.
#pragma once
#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "camera_api/api/orvo_api.h"
#include "capture_source/dshow/source_stream.h"
#include "capture_source/filter/camera_thread.h"
#include "win32/critical_section.h"
#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace orvo::capture {

class CCameraFilter;

constexpr REFERENCE_TIME kFrameTime = 333333;  // 30 samples per second
constexpr int kSlotCount = 4;

// The library entry points bound once per pin.
struct OrvoEntryPoints {
    decltype(&::orvo_Open) open = nullptr;
    decltype(&::orvo_Close) close = nullptr;
    decltype(&::orvo_CreateBuffer) createBuffer = nullptr;
    decltype(&::orvo_DeleteBuffer) deleteBuffer = nullptr;
    decltype(&::orvo_StartCapture) startCapture = nullptr;
    decltype(&::orvo_StopCapture) stopCapture = nullptr;
    decltype(&::orvo_GetFrame) getFrame = nullptr;
    decltype(&::orvo_ReleaseFrame) releaseFrame = nullptr;
    decltype(&::orvo_EnableCameraEvent) enableCameraEvent = nullptr;
    decltype(&::orvo_GetParam) getParam = nullptr;
    bool Bound() const noexcept { return open != nullptr; }
};

struct FrameSlot {
    win32::CriticalSection lock;
    std::vector<uint8_t> pixels;
};

class CCameraPin : public dshow::CSourceStream, public IKsPropertySet, public IAMStreamConfig,
                   public ICameraEventHandler {
public:
    CCameraPin(CCameraFilter* filter, int deviceId) noexcept;
    ~CCameraPin() override;

    // IUnknown of the four interface tables: the pin's own two interfaces
    // first, then the base pin's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return m_filter->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_filter->Release(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override { return QueryInterface(iid, out); }

    // Format negotiation and allocator.
    HRESULT CheckMediaType(const dshow::CMediaType* type) override;
    HRESULT SetMediaType(const dshow::CMediaType* type) override;
    HRESULT GetMediaType(int position, dshow::CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;
    // IKsPropertySet
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data,
                                  DWORD dataBytes) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instanceBytes, void* data,
                                  DWORD dataBytes, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // Worker thread.
    DWORD ThreadProc() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    virtual HRESULT OnThreadStop();

    // Camera side.
    int GetDeviceId() const noexcept { return m_deviceId; }
    HRESULT PrepareCamera() noexcept;
    const BITMAPINFOHEADER& OutputFormat() const noexcept { return m_outputFormat; }

    // ICameraEventHandler, on the event thread.
    HRESULT GetHandles(HANDLE* handles, DWORD* count) override;
    HRESULT OnSignaled(HANDLE handle) override;
    bool NeedRefresh() override { return false; }

protected:
    virtual HRESULT QueryFormat(int handle, int* sourceWidth, int* sourceHeight, int* outputWidth,
                                int* outputHeight) = 0;
    virtual HRESULT ConfigureCamera(int handle, int bufferIndex) = 0;
    virtual HRESULT CopyFrame(const uint8_t* frame, const BITMAPINFOHEADER& source, uint8_t* sample) = 0;

    // orvo_GetInfo, orvo_SetParam and orvo_UpdateParams are looked up at
    // every use. ReadInfo fills a zeroed record (ORVO_E_FAIL, traced, when
    // the call is missing); the settings calls trace a missing one and a
    // failed update.
    using SetParamFn = decltype(&::orvo_SetParam);
    using UpdateParamsFn = decltype(&::orvo_UpdateParams);
    int32_t ReadInfo(int handle, int infoId, uint8_t* record) const noexcept;
    bool BindSettings(SetParamFn* setParam, UpdateParamsFn* updateParams) const noexcept;
    static HRESULT UpdateSettings(UpdateParamsFn updateParams, int handle) noexcept;

private:
    enum class WorkerState { Idle, Ready, Streaming };

    HRESULT OpenCamera(int* handle) noexcept;
    HRESULT BindLibrary() noexcept;
    HRESULT StartCamera() noexcept;
    void StopCamera() noexcept;
    bool WaitCommand(DWORD* command, DWORD timeoutMs) noexcept;
    // Streaming: waits for a command or for the moment the next sample is
    // due; false when the sample is due.
    bool WaitCommandOrSample(DWORD* command) noexcept;
    void HandleCommand(DWORD command, WorkerState& state, bool* exit) noexcept;
    void ProduceSample(WorkerState& state) noexcept;
    // Ends the stream once: end of stream, EC_ERRORABORT, camera stopped.
    void EndStream(WorkerState& state, HRESULT cause, bool notifyAbort) noexcept;
    void ClearSlots() noexcept;
    HRESULT FillFormat(dshow::CMediaType* type) const noexcept;

    BITMAPINFOHEADER m_sourceFormat{};
    BITMAPINFOHEADER m_outputFormat{};
    GUID m_outputSubtype = MEDIASUBTYPE_RGB24;
    int32_t m_formatPosition = 0;
    REFERENCE_TIME m_nextSampleTime = 0;
    win32::UniqueModule m_library;
    int32_t m_deviceId;
    OrvoEntryPoints m_api;
    int32_t m_camera = 0;
    int32_t m_buffer = -1;
    std::atomic<int32_t> m_writeIndex{-1};
    FrameSlot m_slots[kSlotCount];
    win32::UniqueHandle m_statusEvent;
    win32::UniqueHandle m_frameEvent;
    CCameraThread m_eventThread;
    // A camera failure the event thread saw, for the worker to act on.
    std::atomic<HRESULT> m_streamFailure{S_OK};
    // Retry delays: a generator of our own leaves the application's alone.
    std::minstd_rand m_random;
    // Pacing of the worker: when the next sample is due, in microseconds of
    // the performance counter; 0 until the stream starts.
    int64_t m_nextDueUs = 0;
    // Frames the event thread finished (counted) and the last one a sample
    // took; the event tells the worker that a frame came.
    std::atomic<uint32_t> m_framesFinished{0};
    uint32_t m_framesSampled = 0;
    win32::UniqueHandle m_frameReady;
};

}  // namespace orvo::capture
