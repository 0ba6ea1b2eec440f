// The capture threads of the cameras with their own processor: the status
// poller, the video thread with its two staging halves, and the still thread.
#include <cstring>
#include <memory>
#include <new>

#include "camera_api/cameras/command_status_camera.h"
#include "camera_api/transport/device.h"
#include "win32/unique_handle.h"

namespace orvo {

using win32::CriticalSectionLock;
using win32::UniqueHandle;
using namespace cmdstat;

namespace {

constexpr DWORD kPollIntervalMs = 10;
constexpr DWORD kPollReadMs = 50;
constexpr DWORD kVideoReadMs = 500;
constexpr DWORD kStillReadMs = 2000;
constexpr int kStillAttemptsAlder = 100;

}  // namespace

DWORD WINAPI CZelCommandStatusCamera::PollerMain(void* self) {
    static_cast<CZelCommandStatusCamera*>(self)->Poll();
    return 0;
}

DWORD WINAPI CZelCommandStatusCamera::VideoMain(void* self) {
    auto* camera = static_cast<CZelCommandStatusCamera*>(self);
    if (!camera->RunVideo()) camera->ReportStatus(kStatusVideoThreadError);
    return 0;
}

DWORD WINAPI CZelCommandStatusCamera::StillMain(void* self) {
    auto* camera = static_cast<CZelCommandStatusCamera*>(self);
    const bool delivered = camera->RunStill();
    camera->m_threads.StillDone();
    // Told once the work is done, so that a client answering with a new
    // still is not refused as busy.
    if (!delivered) camera->ReportStatus(kStatusStillNoFrame);
    return 0;
}

void CZelCommandStatusCamera::Poll() {
    UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    while (!m_poller.StopRequested()) {
        ::Sleep(kPollIntervalMs);
        CriticalSectionLock device(m_deviceLock);
        uint32_t bytes = 0;
        bool read;
        if (event) {
            read = Device()->BeginReadResponse(m_receive, sizeof(m_receive), event.get()) &&
                   Device()->WaitResponse(&bytes, kPollReadMs);
        } else {
            read = Device()->ReadResponse(m_receive, sizeof(m_receive), &bytes);
        }
        if (read && bytes >= m_layout.headerSize) ParseStatus(m_receive, bytes);
    }
}

bool CZelCommandStatusCamera::DeliverFrame(int set, const uint8_t* source, uint32_t width, uint32_t rows,
                                           int event) {
    int32_t setWidth;
    {
        CriticalSectionLock buffers(Rings().Lock());
        BufferSet* target = Rings().Allocated(set);
        if (!target) return false;
        setWidth = target->width;
        // The camera may have changed its frame size since the set was made.
        const uint32_t setRows = uint32_t(target->height < 0 ? -int64_t(target->height) : target->height);
        if (uint32_t(setWidth) < width || setRows < rows) return false;
    }
    auto* bits = static_cast<uint8_t*>(Rings().Acquire(set));
    if (!bits) return false;   // every frame is held: this image is dropped
    const size_t packed = size_t(width) * 3;
    const size_t stride = size_t(DibStride(kPixelFormatBgr24, setWidth));
    if (stride == packed) {
        std::memcpy(bits, source, packed * rows);
    } else {
        // DIB rows are padded to four bytes; camera rows are not.
        for (uint32_t row = 0; row < rows; ++row) std::memcpy(bits + row * stride, source + row * packed, packed);
    }
    Rings().Publish(set);
    SignalEvent(event);
    return true;
}

bool CZelCommandStatusCamera::RunVideo() {
    UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event || m_staging.empty()) return false;
    uint32_t width, rows;
    {
        CriticalSectionLock status(m_statusLock);
        width = m_state.videoWidth;
        rows = m_state.videoHeight;
    }
    int set;
    {
        CriticalSectionLock buffers(Rings().Lock());
        set = m_videoSet;
    }
    const uint64_t frameBytes = uint64_t(width) * rows * 3;
    if (frameBytes == 0 || frameBytes > m_stagingHalf) return false;
    const uint32_t size = static_cast<uint32_t>(frameBytes);
    uint8_t* halves[2] = {m_staging.data(), m_staging.data() + m_stagingHalf};

    // Each frame request is built when it is written, so a change is taken
    // from the pending state only by the request that carries it.
    uint32_t received = 0;
    bool ok;
    {
        CriticalSectionLock device(m_deviceLock);
        ok = Device()->BeginReadData(halves[0], size, event.get()) && SendFrameRequest(size);
        if (ok && !Device()->WaitData(&received, kVideoReadMs)) received = 0;
    }
    if (!ok) return false;

    m_videoRunning.store(true);
    int readIndex = 0;
    int copyIndex = 0;
    while (ok && !m_threads.Video().StopRequested()) {
        {
            CriticalSectionLock device(m_deviceLock);
            readIndex ^= 1;
            ok = Device()->BeginReadData(halves[readIndex], size, event.get()) && SendFrameRequest(size);
            if (ok) {
                if (received == size) DeliverFrame(set, halves[copyIndex], width, rows, kEventVideoFrame);
                else ReportStatus(kStatusVideoFrameSize);
                if (!Device()->WaitData(&received, kVideoReadMs)) received = 0;
            }
            copyIndex ^= 1;
        }
        ::Sleep(1);
    }
    m_videoRunning.store(false);
    return ok;
}

bool CZelCommandStatusCamera::RunStill() {
    UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    uint32_t width, rows;
    {
        CriticalSectionLock status(m_statusLock);
        width = m_state.cameraWidth;
        rows = m_state.cameraHeight;
    }
    int set;
    {
        CriticalSectionLock buffers(Rings().Lock());
        set = m_stillSet;
    }
    const uint64_t frameBytes = uint64_t(width) * rows * 3;
    // A camera that grew after the staging buffer was sized cannot be read.
    const bool fits = event && frameBytes > 0 && frameBytes <= m_staging.size();
    // The still has a buffer of its own: the staging halves hold the video
    // thread's frames, one of them waiting to be delivered.
    std::unique_ptr<uint8_t[]> image(fits ? new (std::nothrow) uint8_t[size_t(frameBytes)] : nullptr);
    const bool readable = image != nullptr;
    const uint32_t size = static_cast<uint32_t>(frameBytes);
    const int attempts = IsAlder() ? kStillAttemptsAlder : 1;
    bool delivered = false;
    for (int attempt = 0; readable && attempt < attempts && !delivered && !m_threads.Still().StopRequested(); ++attempt) {
        CriticalSectionLock device(m_deviceLock);
        uint32_t received = 0;
        const bool read = Device()->BeginReadData(image.get(), size, event.get()) && SendFrameRequest(size) &&
                          Device()->WaitData(&received, kStillReadMs);
        if (read && received == size) {
            delivered = DeliverFrame(set, image.get(), width, rows, kEventStillFrame);
        } else if (!IsAlder()) {
            ReportStatus(kStatusStillReadFailed);
        }
    }
    if (delivered) return true;
    // Nothing to hand out: the set goes idle at once, so that GetFrame
    // does not give its unfilled frame and a new still can start.
    CriticalSectionLock buffers(Rings().Lock());
    BufferSet* target = Rings().Allocated(set);
    if (target && !Rings().AnyFrameLocked(*target)) target->active = 0;
    return false;
}

}  // namespace orvo
