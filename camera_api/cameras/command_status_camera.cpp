#include "camera_api/cameras/command_status_camera.h"

#include <new>

#include "camera_api/cameras/command_status_params.h"
#include "camera_api/transport/device.h"

namespace orvo {

using win32::CriticalSectionLock;
using namespace cmdstat;

namespace {

constexpr DWORD kPollerStopMs = 5500;
constexpr int kHandshakeReads = 5;
constexpr int kWideModeCode = 4;   // parameter 54: 640 x 360 in a 640 x 480 frame
constexpr int kParamFrameCode = 54;

}  // namespace

CZelCommandStatusCamera::CZelCommandStatusCamera(CDevice* device, Family family) noexcept
    : CZelCamera(device), m_layout(LayoutOf(family)) {}

CZelCommandStatusCamera::~CZelCommandStatusCamera() {
    m_poller.Stop(kPollerStopMs);
    // A thread that outlived its bound is waited for here, before the state it uses goes.
    m_threads.StopAndWait();
}

bool CZelCommandStatusCamera::Initialize(const DeviceRecord& record) {
    if (!CZelCamera::Initialize(record)) return false;
    {
        CriticalSectionLock command(m_commandLock);
        m_pending = PendingCommand{};
    }
    if (!Exchange(kCommandHandshake, HandshakeRequestItems(m_layout, 0))) return false;
    if (!Exchange(kCommandParamsOnly, HandshakeRequestItems(m_layout, 1))) return false;
    Exchange(IsAlder() ? kCommandParamsOnly : kCommandItemsFollow, HandshakeRequestItems(m_layout, 2));

    size_t frameBytes;
    {
        CriticalSectionLock status(m_statusLock);
        frameBytes = size_t(m_state.cameraWidth) * m_state.cameraHeight * 3;
    }
    try {
        m_staging.assign(2 * frameBytes, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_stagingHalf = frameBytes;
    return m_poller.Start(PollerMain, this, THREAD_PRIORITY_NORMAL);
}

bool CZelCommandStatusCamera::Exchange(uint32_t commandFlags, std::vector<uint16_t> items) {
    std::vector<uint8_t> packet;
    {
        CriticalSectionLock command(m_commandLock);
        m_pending.items = std::move(items);
        BuildCommand(m_layout, m_pending, commandFlags, 0, true, packet);
    }
    CriticalSectionLock device(m_deviceLock);
    if (!Device()->Write(packet.data(), static_cast<uint32_t>(packet.size()))) return false;
    for (int read = 0; read < kHandshakeReads; ++read) {
        uint32_t bytes = 0;
        if (!Device()->ReadResponse(m_receive, sizeof(m_receive), &bytes)) continue;
        ParseStatus(m_receive, bytes);
        CriticalSectionLock status(m_statusLock);
        if (m_state.handshakeSeen) return true;
    }
    return false;
}

void CZelCommandStatusCamera::ParseStatus(const uint8_t* data, size_t size) {
    uint32_t bits = 0;
    {
        CriticalSectionLock status(m_statusLock);
        try {
            ApplyStatusPacket(m_layout, m_state, data, size, &bits);
        } catch (const std::bad_alloc&) {
            bits = 0;   // lists stay as far as they got; the next report repeats them
        }
    }
    if (bits) ReportStatus(bits);
}

bool CZelCommandStatusCamera::SendCommand(uint32_t commandFlags, uint32_t dataSize, bool withItems) {
    // Held until the packet is written: the pending state never looks empty
    // while its changes are on their way, so UpdateParams cannot report as
    // sent what a failed write still holds.
    CriticalSectionLock command(m_commandLock);
    const PendingCommand unsent = m_pending;
    BuildCommand(m_layout, m_pending, commandFlags, dataSize, withItems, m_command);
    if (Device()->Write(m_command.data(), static_cast<uint32_t>(m_command.size()))) return true;
    m_pending = unsent;
    return false;
}

bool CZelCommandStatusCamera::SendFrameRequest(uint32_t dataSize) {
    // Pending changes ride on every frame request; queued request items only
    // when UpdateParams asked for them.
    const bool update = m_updatePending.load();
    if (!SendCommand(kCommandFrameRequest, dataSize, update)) return false;
    if (update) m_updatePending.store(false);
    return true;
}

bool CZelCommandStatusCamera::PendingEmpty() {
    CriticalSectionLock command(m_commandLock);
    return m_pending.Empty();
}

// --- parameters -------------------------------------------------------------

int32_t CZelCommandStatusCamera::GetCameraParam(int paramId, int* value) {
    const ParamSpec* spec = FindParam(m_layout.family, paramId);
    if (!spec || spec->read == ReadOp::None) return CZelCamera::GetCameraParam(paramId, value);
    if (spec->read == ReadOp::WriteOnly) return ORVO_E_WRITE_ONLY;
    if (spec->read == ReadOp::Mains) {
        *value = m_mainsFrequency;
        return ORVO_OK;
    }
    CriticalSectionLock status(m_statusLock);
    switch (spec->read) {
    case ReadOp::Value: *value = m_state.values[spec->readA]; break;
    case ReadOp::Flag: *value = (m_state.flags >> spec->readA) & 1; break;
    case ReadOp::NotFlag: *value = ((m_state.flags >> spec->readA) & 1) ^ 1; break;
    case ReadOp::Pair: *value = m_state.values[spec->readA] << spec->shift | m_state.values[spec->readB]; break;
    case ReadOp::Const: *value = spec->readA; break;
    case ReadOp::Item63: *value = m_state.p63Value; break;
    case ReadOp::Item65: *value = m_state.p65Value; break;
    case ReadOp::Changed: *value = NextChangedParam(m_layout, m_state); break;
    default: return ORVO_E_BAD_PARAM;
    }
    if (spec->capability >= 0 && !(m_state.capabilities & (1u << spec->capability))) return ORVO_E_BAD_PARAM;
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::GetCameraParamRange(int paramId, ParamRange* range) {
    const ParamSpec* spec = FindParam(m_layout.family, paramId);
    if (!spec || spec->range == RangeOp::None) return CZelCamera::GetCameraParamRange(paramId, range);
    CriticalSectionLock status(m_statusLock);
    switch (spec->range) {
    case RangeOp::Fixed: range->min = spec->min, range->max = spec->max; break;
    case RangeOp::MaxWidth: range->min = 0, range->max = int32_t(m_state.cameraWidth) - 2; break;
    case RangeOp::MaxHeight: range->min = 0, range->max = int32_t(m_state.cameraHeight) - 2; break;
    case RangeOp::Item63: range->min = m_state.p63Min, range->max = m_state.p63Max; break;
    case RangeOp::Item65:
        range->min = m_state.p65Min, range->max = m_state.p65Max, range->step = m_state.p65Step;
        return ORVO_OK;
    case RangeOp::Modes: range->min = 0, range->max = int32_t(m_state.modes.size()); break;
    default: return ORVO_E_BAD_PARAM;
    }
    range->step = spec->step;
    if (spec->extra >= 0) range->extra = spec->extra;
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::SetCameraParam(int paramId, int value) {
    const ParamSpec* spec = FindParam(m_layout.family, paramId);
    if (!spec || spec->write == WriteOp::None) return CZelCamera::SetCameraParam(paramId, value);
    switch (spec->write) {
    case WriteOp::ReadOnly: return ORVO_E_READ_ONLY;
    case WriteOp::Mains: m_mainsFrequency = value; return ORVO_OK;
    case WriteOp::FrameCode:
        if (value < 1 || value > 4) return ORVO_E_UNSUPPORTED;
        break;
    default: break;
    }
    {
        CriticalSectionLock command(m_commandLock);
        switch (spec->write) {
        case WriteOp::Value:
        case WriteOp::FrameCode: m_pending.SetValue(spec->writeA, uint8_t(value)); break;
        case WriteOp::Flag: m_pending.SetFlag(spec->writeA, value > 0); break;
        case WriteOp::FlagWhenZero: m_pending.SetFlag(spec->writeA, value == 0); break;
        case WriteOp::Pair:
            m_pending.SetValue(spec->writeA, uint8_t(value >> spec->shift));
            m_pending.SetValue(spec->writeB, uint8_t(value));
            break;
        default: return ORVO_E_BAD_PARAM;
        }
    }
    CriticalSectionLock status(m_statusLock);
    if (spec->resets63) m_state.p63Value = 0;
    // The change is recorded all the same; the camera just does not offer it.
    if (spec->capability >= 0 && !(m_state.capabilities & (1u << spec->capability))) return ORVO_E_BAD_PARAM;
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::UpdateParams() {
    CriticalSectionLock api(m_apiLock);
    if (PendingEmpty()) return ORVO_OK;
    if (m_videoRunning.load() && !m_threads.Video().StopRequested()) {
        // Streaming: the video thread sends the changes with its next frame
        // request and clears the flag once that request is written.
        m_updatePending.store(true);
        while (m_updatePending.load() && m_videoRunning.load() && !m_threads.Video().StopRequested()) ::Sleep(1);
        if (!m_updatePending.exchange(false)) return ORVO_OK;
    }
    // Also after a stream that ended before it sent them: the changes are still pending.
    CriticalSectionLock device(m_deviceLock);
    if (PendingEmpty()) return ORVO_OK;
    return SendCommand(kCommandParamsOnly, 0, true) ? ORVO_OK : ORVO_E_OPEN_FAILED;
}

// --- buffers and capture ----------------------------------------------------

int32_t CZelCommandStatusCamera::CheckBufferSize(int kind, int width, int* height, bool* wantsWideMode) {
    CriticalSectionLock status(m_statusLock);
    const int cameraW = int(m_state.cameraWidth), cameraH = int(m_state.cameraHeight);
    int sourceW, sourceH;
    if (IsAlder()) {
        bool listed = false;
        if (!m_state.modes.empty()) {
            for (uint32_t mode : m_state.modes) listed |= int(mode & 0xFFFF) == width && int(mode >> 16) == *height;
        } else {
            listed = (width == 640 && *height == 480) || (width == 1280 && *height == 720);
        }
        if (!listed) return ORVO_E_OUT_OF_RANGE;
        // The video size follows the set; the still thread sends the camera size.
        sourceW = kind == kBufferKindVideo ? width : cameraW;
        sourceH = kind == kBufferKindVideo ? *height : cameraH;
    } else {
        if (width < 0 || width > cameraW || *height < 0 || *height > cameraH) return ORVO_E_OUT_OF_RANGE;
        if (kind == kBufferKindVideo && width == 640 && *height == 360) {
            *wantsWideMode = true;
            *height = 480;
        }
        sourceW = kind == kBufferKindVideo ? int(m_state.videoWidth) : cameraW;
        sourceH = kind == kBufferKindVideo ? int(m_state.videoHeight) : cameraH;
    }
    // The capture threads copy whole frames of the source size to the top
    // left of the set: a set that cannot hold one, or a source larger than
    // the staging halves, is refused. A wider or taller set keeps a border.
    if (width < sourceW || *height < sourceH) return ORVO_E_OUT_OF_RANGE;
    if (uint64_t(sourceW) * uint64_t(sourceH) * 3 > m_stagingHalf) return ORVO_E_OUT_OF_RANGE;
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height,
                                              int frameCount, int* bufferIndex) {
    if (!bufferIndex) return ORVO_E_UNSUPPORTED;
    *bufferIndex = -1;
    bool wideMode = false;
    {
        CriticalSectionLock api(m_apiLock);   // taken before the buffer lock, as everywhere
        CriticalSectionLock buffers(Rings().Lock());
        if ((kind == kBufferKindVideo && m_videoSet >= 0) || (kind == kBufferKindStill && m_stillSet >= 0)) {
            return ORVO_E_BUSY;
        }
        if (kind < kBufferKindVideo || kind > kBufferKindStill) return ORVO_E_BAD_BUFFER;
        if (pixelFormat != kPixelFormatBgr24) return ORVO_E_BAD_FORMAT;
        const int32_t fits = CheckBufferSize(kind, width, &height, &wideMode);
        if (fits != ORVO_OK) return fits;
        const int32_t created =
            CZelCamera::CreateBuffer(kind, pixelFormat, reserved, width, -height, frameCount, bufferIndex);
        if (created != ORVO_OK) return created;
        (kind == kBufferKindVideo ? m_videoSet : m_stillSet) = *bufferIndex;
        if (kind == kBufferKindVideo && IsAlder()) {
            CriticalSectionLock status(m_statusLock);
            m_state.videoWidth = uint32_t(width);
            m_state.videoHeight = uint32_t(height);
        }
    }
    if (wideMode) {
        int code = kWideModeCode;
        SetParam(-1, kParamFrameCode, &code);
    }
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::DeleteBuffer(int bufferIndex) {
    CriticalSectionLock buffers(Rings().Lock());
    // The still thread may still be about to fill its set.
    if (bufferIndex >= 0 && bufferIndex == m_stillSet && m_threads.StillWorking()) return ORVO_E_BUFFER_IN_USE;
    const int32_t result = CZelCamera::DeleteBuffer(bufferIndex);
    if (result == ORVO_OK) {
        if (bufferIndex == m_videoSet) m_videoSet = -1;
        if (bufferIndex == m_stillSet) m_stillSet = -1;
    }
    return result;
}

int32_t CZelCommandStatusCamera::ReleaseFrame(int bufferIndex, int frameIndex) {
    const int32_t result = CZelCamera::ReleaseFrame(bufferIndex, frameIndex);
    // Only a still release waits for the still thread: video clients never wait.
    // After the bound the handle is kept, so no second still thread starts
    // while this one runs.
    if (SettleStillSet(bufferIndex)) m_threads.CollectStill();
    return result;
}

int32_t CZelCommandStatusCamera::StartCapture(int bufferIndex) {
    return StartOnSet(bufferIndex, [this](int kind) {
        return kind == kBufferKindStill ? m_threads.StartStill(StillMain, this) : m_threads.StartVideo(VideoMain, this);
    });
}

int32_t CZelCommandStatusCamera::StopCapture() {
    if (m_threads.StopVideo() == ORVO_E_FAIL) return ORVO_E_FAIL;
    CriticalSectionLock buffers(Rings().Lock());
    if (BufferSet* set = Rings().Allocated(m_videoSet)) set->active = 0;
    return ORVO_OK;
}

}  // namespace orvo
