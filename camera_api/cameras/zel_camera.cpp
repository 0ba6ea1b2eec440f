#include "camera_api/cameras/zel_camera.h"

#include <cstring>

#include "camera_api/transport/device.h"

namespace orvo {

using win32::CriticalSectionLock;

namespace {

constexpr uint8_t kRequestReadMemory = 0x51;
constexpr uint8_t kRequestWriteMemory = 0x50;

// Info record 0 and 2: the id, a length, then that many bytes.
struct LengthRecord {
    int32_t infoId;
    int32_t length;
    uint8_t data[1];
};

// Info record 4: a free-form vendor control transfer.
#pragma pack(push, 1)
struct ControlRecord {
    int32_t infoId;
    uint8_t request;
    uint8_t padding;
    uint16_t value;
    uint16_t index;
    uint8_t length;
    uint8_t data[1];
};
#pragma pack(pop)
static_assert(offsetof(ControlRecord, value) == 6 && offsetof(ControlRecord, data) == 11, "info 4 layout");

// A control transfer carries at most 65535 bytes (wLength).
bool ValidLength(int32_t length) noexcept {
    return length >= 0 && length <= 0xFFFF;
}

}  // namespace

CZelCamera::CZelCamera(CDevice* device) noexcept
    : m_isWinUsb(device && device->IsWinUsb() ? 1 : 0), m_device(device) {}

CZelCamera::~CZelCamera() = default;

bool CZelCamera::Initialize(const DeviceRecord& record) {
    m_releaseMajor = record.entry.releaseMajor;
    m_releaseMinor = record.entry.releaseMinor;
    return m_device != nullptr;
}

bool CZelCamera::EnableCameraEvent(int index, HANDLE event) {
    if (index < 0 || index >= EventSlots()) return false;
    m_events[index].store(event);
    return true;
}

void CZelCamera::SignalEvent(int index) noexcept {
    if (index < 0 || index >= 4) return;
    if (HANDLE event = m_events[index].load()) ::SetEvent(event);
}

void CZelCamera::ReportStatus(uint32_t bits) noexcept {
    ReportStatus(bits, 0);
}

void CZelCamera::ReportStatus(uint32_t set, uint32_t clear) noexcept {
    {
        CriticalSectionLock lock(m_statusLock);
        m_status = (m_status & ~clear) | set;
    }
    SignalEvent(kEventStatus);
}

void CZelCamera::DeviceRemoved() {
    ReportStatus(kStatusDeviceRemoved);
}

void CZelCamera::CloseDevice() noexcept {
    if (!m_device) return;
    CriticalSectionLock device(m_deviceLock);
    m_device->Close();
}

int32_t CZelCamera::ControlTransferIn(uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                                      uint32_t length) {
    if (!m_device) return ORVO_E_FAIL;
    CriticalSectionLock device(m_deviceLock);
    return m_device->ControlIn(kControlVendor, kRecipientDevice, request, value, index, data, length) ? ORVO_OK
                                                                                                       : ORVO_E_FAIL;
}

int32_t CZelCamera::ControlTransferOut(uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                                       uint32_t length) {
    if (!m_device) return ORVO_E_FAIL;
    CriticalSectionLock device(m_deviceLock);
    return m_device->ControlOut(kControlVendor, kRecipientDevice, request, value, index, data, length) ? ORVO_OK
                                                                                                        : ORVO_E_FAIL;
}

int32_t CZelCamera::GetInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* id = static_cast<int32_t*>(record);
    *id = -1;
    CriticalSectionLock api(m_apiLock);
    int32_t result = ORVO_E_BAD_INFO;
    switch (infoId) {
    case 0: {
        auto* r = static_cast<LengthRecord*>(record);
        if (!ValidLength(r->length)) return ORVO_E_OUT_OF_RANGE;
        result = ControlTransferIn(kRequestReadMemory, 1, 0, r->data, static_cast<uint32_t>(r->length));
        break;
    }
    case 1:
        std::memcpy(id + 1, m_info1, sizeof(m_info1));
        result = ORVO_OK;
        break;
    case 3: {
        auto* bytes = reinterpret_cast<uint8_t*>(id + 1);
        std::memset(bytes, 0, 100);
        std::memcpy(bytes + 16, m_info1, sizeof(m_info1));
        result = ORVO_OK;
        break;
    }
    case 4: {
        auto* r = static_cast<ControlRecord*>(record);
        result = ControlTransferIn(r->request, r->value, r->index, r->data, r->length);
        break;
    }
    case 15:
        *reinterpret_cast<uint8_t*>(id + 1) = m_isWinUsb;
        result = ORVO_OK;
        break;
    default:
        break;
    }
    if (result == ORVO_OK) *id = infoId;
    return result;
}

int32_t CZelCamera::SetInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* id = static_cast<int32_t*>(record);
    *id = -1;
    CriticalSectionLock api(m_apiLock);
    int32_t result = ORVO_E_BAD_INFO;
    switch (infoId) {
    case 0: case 1: case 3:
        result = ORVO_E_READ_ONLY;
        break;
    case 2: {
        auto* r = static_cast<LengthRecord*>(record);
        if (!ValidLength(r->length)) return ORVO_E_OUT_OF_RANGE;
        result = ControlTransferOut(kRequestWriteMemory, 0, 0, r->data, static_cast<uint32_t>(r->length));
        break;
    }
    case 4: {
        auto* r = static_cast<ControlRecord*>(record);
        result = ControlTransferOut(r->request, r->value, r->index, r->data, r->length);
        break;
    }
    default:
        break;
    }
    if (result == ORVO_OK) *id = infoId;
    return result;
}

int32_t CZelCamera::CreateBuffer(int kind, int pixelFormat, int reserved, int width, int height, int frameCount,
                                 int* bufferIndex) {
    if (!bufferIndex) return ORVO_E_UNSUPPORTED;
    *bufferIndex = -1;
    if (reserved != 0) return ORVO_E_BAD_PARAM;
    return m_rings.Create(kind, pixelFormat, width, height, frameCount, bufferIndex);
}

int32_t CZelCamera::SetPalette(int, void*) {
    return ORVO_E_NOT_IMPLEMENTED;
}

int32_t CZelCamera::DeleteBuffer(int bufferIndex) {
    return m_rings.Delete(bufferIndex);
}

int32_t CZelCamera::GetFrame(int bufferIndex, int* frameIndex, FrameDesc* frame) {
    if (!frameIndex || !frame) return ORVO_E_UNSUPPORTED;
    return m_rings.GetFrame(bufferIndex, frameIndex, frame);
}

int32_t CZelCamera::ReleaseFrame(int bufferIndex, int frameIndex) {
    return m_rings.Release(bufferIndex, frameIndex);
}

bool CZelCamera::SettleStillSet(int bufferIndex) noexcept {
    CriticalSectionLock buffers(m_rings.Lock());
    BufferSet* set = m_rings.Allocated(bufferIndex);
    if (!set || set->kind != kBufferKindStill) return false;
    set->active = m_rings.AnyFrameLocked(*set) ? 1 : 0;
    return true;
}

int32_t CZelCamera::GetParam(int bufferIndex, int paramId, int* value) {
    if (!value) return ORVO_E_UNSUPPORTED;
    CriticalSectionLock api(m_apiLock);
    if (bufferIndex != -1) {
        CriticalSectionLock buffers(m_rings.Lock());
        BufferSet* set = m_rings.Allocated(bufferIndex);
        if (!set) return ORVO_E_BAD_BUFFER;
        const int32_t result = GetBufferParam(*set, paramId, value);
        if (result != ORVO_E_BAD_PARAM) return result;
    }
    return GetCameraParam(paramId, value);
}

int32_t CZelCamera::GetParamRange(int bufferIndex, int paramId, ParamRange* range) {
    if (!range) return ORVO_E_UNSUPPORTED;
    *range = ParamRange{0, 0, 1, 1, 0};
    CriticalSectionLock api(m_apiLock);
    if (bufferIndex != -1) {
        CriticalSectionLock buffers(m_rings.Lock());
        BufferSet* set = m_rings.Allocated(bufferIndex);
        if (!set) return ORVO_E_BAD_BUFFER;
        const int32_t result = GetBufferParamRange(*set, paramId, range);
        if (result != ORVO_E_BAD_PARAM) return result;
    }
    return GetCameraParamRange(paramId, range);
}

int32_t CZelCamera::SetParam(int bufferIndex, int paramId, int* value) {
    if (!value) return ORVO_E_UNSUPPORTED;
    const int newValue = *value;
    CriticalSectionLock api(m_apiLock);   // recursive: GetParamRange takes it again
    ParamRange range{};
    const int32_t known = GetParamRange(bufferIndex, paramId, &range);
    if (known != ORVO_OK) return known;
    if (newValue < range.min || newValue > range.max) return ORVO_E_OUT_OF_RANGE;
    if (bufferIndex == -1) return SetCameraParam(paramId, newValue);
    {
        CriticalSectionLock buffers(m_rings.Lock());
        BufferSet* set = m_rings.Allocated(bufferIndex);
        if (!set) return ORVO_E_BAD_BUFFER;
        const int32_t result = SetBufferParam(*set, paramId, newValue);
        if (result != ORVO_E_BAD_PARAM) return result;
    }
    return SetCameraParam(paramId, newValue);
}

int32_t CZelCamera::GetCameraParam(int paramId, int* value) {
    if (paramId != kParamStatus) return ORVO_E_BAD_PARAM;
    CriticalSectionLock lock(m_statusLock);
    *value = static_cast<int>(m_status);
    m_status = 0;
    return ORVO_OK;
}

int32_t CZelCamera::GetCameraParamRange(int paramId, ParamRange* range) {
    if (paramId != kParamStatus) return ORVO_E_BAD_PARAM;
    range->min = 1;
    range->max = 0x8000;
    return ORVO_OK;
}

int32_t CZelCamera::SetCameraParam(int paramId, int) {
    return paramId == kParamStatus ? ORVO_E_READ_ONLY : ORVO_E_BAD_PARAM;
}

int32_t CZelCamera::GetBufferParam(BufferSet&, int, int*) {
    return ORVO_E_BAD_PARAM;
}

int32_t CZelCamera::GetBufferParamRange(BufferSet&, int, ParamRange*) {
    return ORVO_E_BAD_PARAM;
}

int32_t CZelCamera::SetBufferParam(BufferSet&, int, int) {
    return ORVO_E_BAD_PARAM;
}

int32_t CZelCamera::SetFramePos(int, int, int) {
    return ORVO_E_NOT_IMPLEMENTED;
}

int32_t CZelCamera::UpdateParams() {
    return ORVO_E_NOT_IMPLEMENTED;
}

int32_t CZelCamera::StartCapture(int) {
    return ORVO_E_NOT_IMPLEMENTED;
}

int32_t CZelCamera::StopCapture() {
    return ORVO_E_FAIL;
}

}  // namespace orvo
