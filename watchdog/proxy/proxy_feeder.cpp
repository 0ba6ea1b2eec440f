#include "watchdog/proxy/proxy_feeder.h"

#include <objbase.h>
#include <cstdlib>
#include <cstring>

#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "watchdog/common/wd_trace.h"
#include "watchdog/proxy/overlapped_io.h"
#include "watchdog/proxy/placeholder_frame.h"

namespace orvo::watchdog {
namespace {

constexpr int kOpenAttempts = 5;
constexpr int kInfoCameraSize = 1;
constexpr int kInfoModeList = 10;
constexpr int kParamAutoBalance = 9;
constexpr int kParamFrameRate = 17;
constexpr int kParamStatus = 24;
constexpr int kStatusVideoError = 0x2;
constexpr int kStatusRemoved = 0x40;
constexpr int kEventVideo = 0;
constexpr int kEventStatus = 2;
constexpr int kPixelBgr24 = 1;

struct CedarSetting {
    int param;
    int value;
    bool perBuffer;
};
constexpr CedarSetting kCedarSettings[] = {
    {15, 0, false}, {14, 0, false}, {32, 2, true},  {1, 14, false},  {2, 10, false}, {3, 20, false},
    {29, 150, false}, {38, 84, false}, {9, 1, false}, {10, 1, false}, {48, 20, false}, {49, 30, false},
};

int32_t ReadInt32(const uint8_t* p) noexcept {
    int32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

}  // namespace

ProxyFeeder::~ProxyFeeder() { Stop(); }

HRESULT ProxyFeeder::Start(const std::wstring& name, const GUID& kind, int32_t deviceId,
                           DWORD deviceInstance) noexcept {
    if (RunsUnderWow64()) return S_FALSE;
    if (m_wedged) return E_UNEXPECTED;
    win32::CriticalSectionLock lock(m_lock);
    if (m_deviceId != -1) return S_OK;
    HRESULT hr = LoadPlaceholder();
    if (FAILED(hr)) return hr;
    hr = ::CoCreateGuid(&m_feederGuid);
    if (FAILED(hr)) {
        WD_TRACE_ERROR(hr);
        return hr;
    }
    try {
        m_name = name;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    m_kind = kind;
    m_deviceId = deviceId;
    m_deviceInstance = deviceInstance;
    if (FAILED(hr = m_proxy.OpenControl())) return hr;
    if (FAILED(hr = BindLibrary())) return hr;
    if (FAILED(hr = ComputeGeometry())) return hr;
    return m_proxy.Register(m_feederGuid, m_deviceInstance, m_name, m_geometry.outputWidth, m_geometry.outputHeight);
}

HRESULT ProxyFeeder::LoadPlaceholder() noexcept {
    if (m_placeholder) return S_OK;
    m_placeholder.reset(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                          MAKEINTRESOURCEW(kResourcePlaceholder), IMAGE_BITMAP, 0, 0,
                                                          LR_CREATEDIBSECTION)));
    if (!m_placeholder) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    return S_OK;
}

HRESULT ProxyFeeder::BindLibrary() noexcept {
    m_statusEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_frameEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_statusEvent || !m_frameEvent) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    const HRESULT hr = BindCameraLibrary(LibraryUse::Feeder, m_library, m_api);
    if (FAILED(hr)) return hr;
    const int32_t result = m_api.InitializeApi();
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ProxyFeeder::OpenCamera() noexcept {
    if (m_camera != 0) {
        WD_TRACE_ERROR(E_UNEXPECTED, m_camera);
        return E_UNEXPECTED;
    }
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        int handle = 0;
        const int32_t result = m_api.Open(m_deviceId, &handle);
        if (result == ORVO_OK && handle != 0) {
            m_camera = handle;
            return S_OK;
        }
        WD_TRACE_WARNING(attempt, result);
        ::Sleep(static_cast<DWORD>(std::rand() % 200 + 1));
    }
    WD_TRACE_ERROR(E_FAIL, m_deviceId);
    return E_FAIL;
}

HRESULT ProxyFeeder::ComputeGeometry() noexcept {
    HRESULT hr = OpenCamera();
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> record(kInfoRecordBytes, 0);
    FrameGeometry geometry;
    hr = S_OK;
    if (::IsEqualGUID(m_kind, kKindGeneral)) {
        if (m_api.GetInfo(m_camera, kInfoModeList, record.data()) != ORVO_OK ||
            !GeometryFromModeList(record.data(), record.size(), geometry)) {
            std::fill(record.begin(), record.end(), 0);
            const int32_t result = m_api.GetInfo(m_camera, kInfoCameraSize, record.data());
            if (result != ORVO_OK || !GeometryFromGeneralInfo(ReadInt32(&record[4]), ReadInt32(&record[8]), geometry)) {
                WD_TRACE_ERROR(result);
                hr = E_FAIL;
            }
        }
    } else if (::IsEqualGUID(m_kind, kKindCedar)) {
        const int32_t result = m_api.GetInfo(m_camera, kInfoCameraSize, record.data());
        if (result != ORVO_OK || !GeometryFromCedarInfo(ReadInt32(&record[4]), ReadInt32(&record[8]), geometry)) {
            WD_TRACE_ERROR(result);
            hr = E_FAIL;
        }
    } else {
        WD_TRACE_ERROR(E_NOTIMPL, m_kind);
        hr = E_NOTIMPL;
    }
    if (SUCCEEDED(hr)) {
        m_geometry = geometry;
        try {
            m_output.assign(geometry.OutputBytes(), 0);
        } catch (...) {
            WD_TRACE_ERROR(E_OUTOFMEMORY, geometry.OutputBytes());
            return E_OUTOFMEMORY;
        }
    }
    m_api.Close(m_camera);
    m_camera = 0;
    return hr;
}

HRESULT ProxyFeeder::Attach() noexcept {
    if (RunsUnderWow64()) return S_FALSE;
    if (m_wedged) return E_UNEXPECTED;
    win32::CriticalSectionLock lock(m_lock);
    if (m_deviceId == -1) {
        WD_TRACE_WARNING(S_FALSE);
        return S_FALSE;
    }
    HRESULT hr = m_proxy.FindDevice(m_feederGuid);
    if (hr != S_OK) {
        if (FAILED(hr)) WD_TRACE_ERROR(hr);
        return hr;
    }
    if (m_thread) return S_OK;
    m_threadStop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (m_threadStop) m_thread.reset(::CreateThread(nullptr, 0, &ProxyFeeder::ThreadMain, this, 0, nullptr));
    if (m_thread) m_stopSignal = m_threadStop.get();
    if (!m_thread) {
        hr = HResultFromLastError();
        m_threadStop.reset();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    return S_OK;
}

DWORD WINAPI ProxyFeeder::ThreadMain(void* self) noexcept { return static_cast<ProxyFeeder*>(self)->Run(); }

DWORD ProxyFeeder::Run() noexcept {
    HANDLE stop, active, inactive, status, frame;
    {
        win32::CriticalSectionLock lock(m_lock);
        stop = m_threadStop.get();
        active = m_proxy.ActiveEvent();
        inactive = m_proxy.InactiveEvent();
        status = m_statusEvent.get();
        frame = m_frameEvent.get();
    }
    auto fail = [this](HRESULT hr) -> DWORD {
        WD_TRACE_ERROR(hr);
        win32::CriticalSectionLock lock(m_lock);
        StopCapture();
        return 1;
    };
    for (;;) {
        HANDLE idle[2] = {stop, active};
        DWORD woke = ::WaitForMultipleObjects(2, idle, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) return 0;
        if (woke != WAIT_OBJECT_0 + 1) {
            WD_TRACE_ERROR(woke, ::GetLastError());
            return 1;
        }
        HRESULT hr = BeginCapture(stop);
        if (FAILED(hr)) return fail(hr);
        if (hr == S_FALSE) {
            // Placeholder mode: ask every few seconds whether the camera is free.
            for (;;) {
                woke = ::WaitForSingleObject(stop, kAvailabilityPollMs);
                if (woke == WAIT_OBJECT_0) break;
                if (woke != WAIT_TIMEOUT) {
                    WD_TRACE_ERROR(woke, ::GetLastError());
                    return 1;
                }
                hr = [this] {
                    win32::CriticalSectionLock lock(m_lock);
                    return CheckAvailability();
                }();
                if (FAILED(hr)) return fail(hr);
                if (hr == S_FALSE) break;
            }
            continue;
        }
        for (;;) {
            HANDLE busy[4] = {stop, inactive, status, frame};
            woke = ::WaitForMultipleObjects(4, busy, FALSE, INFINITE);
            if (woke == WAIT_OBJECT_0) break;
            if (woke == WAIT_OBJECT_0 + 1) {
                win32::CriticalSectionLock lock(m_lock);
                StopCapture();
                break;
            }
            if (woke == WAIT_OBJECT_0 + 2) {
                win32::CriticalSectionLock lock(m_lock);
                hr = CheckStatus();
            } else if (woke == WAIT_OBJECT_0 + 3) {
                hr = DeliverFrame(stop);
            } else {
                WD_TRACE_ERROR(woke, ::GetLastError());
                return 1;
            }
            if (FAILED(hr)) return fail(hr);
        }
    }
}

HRESULT ProxyFeeder::BeginCapture(HANDLE stopEvent) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    HRESULT hr = WritePlaceholder(stopEvent);
    if (FAILED(hr)) return hr;
    hr = OpenCamera();
    if (FAILED(hr)) {
        const HRESULT available = CheckAvailability();
        if (available == S_OK) return S_FALSE;
        if (FAILED(available)) WD_TRACE_ERROR(available);
        WD_TRACE_ERROR(hr);
        return hr;
    }
    int32_t result = m_api.CreateBuffer(m_camera, 0, kPixelBgr24, 0, m_geometry.sourceWidth,
                                        m_geometry.sourceHeight, 1, &m_buffer);
    if (result != ORVO_OK) {
        m_buffer = -1;
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    if (::IsEqualGUID(m_kind, kKindGeneral)) {
        if (m_geometry.frameRate != 0) {
            int rate = m_geometry.frameRate;
            result = m_api.SetParam(m_camera, -1, kParamFrameRate, &rate);
            if (result != ORVO_OK) {
                WD_TRACE_WARNING(kParamFrameRate, result);
            } else if ((result = m_api.UpdateParams(m_camera)) != ORVO_OK) {
                WD_TRACE_ERROR(result);
                return E_FAIL;
            }
        }
    } else if (::IsEqualGUID(m_kind, kKindCedar)) {
        hr = ApplyCedarSettings();
        if (FAILED(hr)) return hr;
    } else {
        WD_TRACE_ERROR(E_NOTIMPL);
        return E_NOTIMPL;
    }
    if ((result = m_api.EnableCameraEvent(m_camera, kEventStatus, m_statusEvent.get())) != ORVO_OK ||
        (result = m_api.EnableCameraEvent(m_camera, kEventVideo, m_frameEvent.get())) != ORVO_OK ||
        (result = m_api.StartCapture(m_camera, m_buffer)) != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    m_capturing = true;
    return S_OK;
}

HRESULT ProxyFeeder::ApplyCedarSettings() noexcept {
    for (const CedarSetting& setting : kCedarSettings) {
        int value = setting.value;
        const int32_t result = m_api.SetParam(m_camera, setting.perBuffer ? m_buffer : -1, setting.param, &value);
        // Model 4 has no automatic white balance: it streams without it.
        if (setting.param == kParamAutoBalance && result == ORVO_E_BAD_PARAM) {
            WD_TRACE_WARNING(setting.param, result);
            continue;
        }
        if (result != ORVO_OK) {
            WD_TRACE_ERROR(setting.param, result);
            return E_FAIL;
        }
    }
    const int32_t result = m_api.UpdateParams(m_camera);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ProxyFeeder::DeliverFrame(HANDLE stopEvent) noexcept {
    win32::CriticalSectionLock lock(m_lock);
    int frameIndex = -1;
    FrameDesc frame{};
    int32_t result = m_api.GetFrame(m_camera, m_buffer, &frameIndex, &frame);
    if (result != ORVO_OK || !frame.bits) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    // The library's frames are DIB sections: rows padded to four bytes.
    TransformFrame(m_geometry, static_cast<const uint8_t*>(frame.bits), DibStride(m_geometry.sourceWidth),
                   m_output.data());
    if (m_capturing) {
        const HRESULT hr = Write(m_output.data(), stopEvent);
        if (FAILED(hr)) return hr;
    }
    result = m_api.ReleaseFrame(m_camera, m_buffer, frameIndex);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ProxyFeeder::Write(const uint8_t* data, HANDLE stopEvent) noexcept {
    const IoResult io = StoppableWrite(m_proxy.CameraDevice(), data, m_geometry.OutputBytes(), stopEvent);
    if (io.abandoned) {
        // The driver may still read the buffer: leave it to it.
        new std::vector<uint8_t>(data == m_output.data() ? std::move(m_output) : std::move(m_placeholderFrame));
        try {
            m_output.assign(m_geometry.OutputBytes(), 0);
        } catch (...) {
            m_output.clear();
        }
    }
    if (io.error != ERROR_SUCCESS) {
        WD_TRACE_ERROR(io.error);
        return HRESULT_FROM_WIN32(io.error);
    }
    return S_OK;
}

HRESULT ProxyFeeder::WritePlaceholder(HANDLE stopEvent) noexcept {
    const HRESULT hr = RenderPlaceholder(m_placeholder.get(), m_geometry.outputWidth, m_geometry.outputHeight,
                                         m_placeholderFrame);
    if (FAILED(hr)) return hr;
    return Write(m_placeholderFrame.data(), stopEvent);
}

HRESULT ProxyFeeder::CheckStatus() noexcept {
    int status = 0;
    const int32_t result = m_api.GetParam(m_camera, -1, kParamStatus, &status);
    if (result != ORVO_OK || (status & (kStatusVideoError | kStatusRemoved)) != 0) {
        ZEL_TRACE(ZelProviderA(), kZelLevelWarning, 2, result, status);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ProxyFeeder::CheckAvailability() noexcept {
    int count = 0;
    int32_t result = m_api.GetNumDevices(&count);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    if (count < 1) return S_FALSE;
    std::vector<DeviceEntry> entries;
    try {
        entries.resize(static_cast<size_t>(count));
    } catch (...) {
        WD_TRACE_ERROR(count);
        return E_OUTOFMEMORY;
    }
    result = m_api.GetDeviceList(static_cast<uint32_t>(entries.size() * sizeof(DeviceEntry)), entries.data(), &count);
    if (result != ORVO_OK) {
        WD_TRACE_ERROR(result);
        return E_FAIL;
    }
    const size_t valid = count < 0 ? 0 : std::min(entries.size(), static_cast<size_t>(count));
    for (size_t i = 0; i < valid; ++i) {
        if (entries[i].deviceId == m_deviceId) return entries[i].inUse ? S_OK : S_FALSE;
    }
    return S_FALSE;
}

void ProxyFeeder::StopCapture() noexcept {
    if (m_camera != 0) {
        if (m_api.StopCapture) m_api.StopCapture(m_camera);
        if (m_buffer != -1 && m_api.DeleteBuffer) m_api.DeleteBuffer(m_camera, m_buffer);
        if (m_api.EnableCameraEvent) {
            m_api.EnableCameraEvent(m_camera, kEventVideo, nullptr);
            m_api.EnableCameraEvent(m_camera, kEventStatus, nullptr);
        }
        if (m_statusEvent) ::ResetEvent(m_statusEvent.get());
        if (m_frameEvent) ::ResetEvent(m_frameEvent.get());
        if (m_api.Close) m_api.Close(m_camera);
    }
    m_camera = 0;
    m_buffer = -1;
    m_capturing = false;
}

void ProxyFeeder::Stop() noexcept {
    if (m_wedged) return;
    // Signalled before the lock is taken: the thread may hold the lock while
    // it waits on a write, and that wait ends on this event.
    if (HANDLE signal = m_stopSignal.exchange(nullptr)) ::SetEvent(signal);
    win32::UniqueHandle thread, stop;
    {
        win32::CriticalSectionLock lock(m_lock);
        thread = std::move(m_thread);
        stop = std::move(m_threadStop);
    }
    if (thread) {
        ::SetEvent(stop.get());
        if (::WaitForSingleObject(thread.get(), kFeederStopTimeoutMs) != WAIT_OBJECT_0) {
            WD_TRACE_WARNING(kFeederStopTimeoutMs);
            ::TerminateThread(thread.get(), 2);
            // The thread may have died holding the lock or inside the
            // library: leave its state alone rather than wait for ever.
            ::WaitForSingleObject(thread.get(), kFeederStopTimeoutMs);
            m_wedged = true;
            new win32::UniqueModule(std::move(m_library));
            return;
        }
    }
    win32::CriticalSectionLock lock(m_lock);
    ReleaseAll();
}

void ProxyFeeder::ReleaseAll() noexcept {
    StopCapture();
    const HRESULT hr = m_proxy.Remove(m_feederGuid);
    if (FAILED(hr)) WD_TRACE_ERROR(hr);
    m_proxy.CloseAll();
    m_feederGuid = GUID{};
    m_name.clear();
    m_kind = GUID{};
    m_statusEvent.reset();
    m_frameEvent.reset();
    m_library.reset();
    m_api = CameraLibraryEntryPoints{};
    m_deviceId = -1;
    m_geometry = FrameGeometry{};
    m_output.clear();
    m_output.shrink_to_fit();
    m_placeholderFrame.clear();
    m_placeholderFrame.shrink_to_fit();
    m_placeholder.reset();
}

}  // namespace orvo::watchdog
