#include "camera_api/cameras/zel_cedar.h"

#include <algorithm>
#include <cstring>

#include "camera_api/cameras/sensor/sensor_timing.h"
#include "camera_api/transport/device.h"

namespace orvo {
namespace {

using win32::CriticalSectionLock;

constexpr uint16_t kMemoryValue = 0x151;
constexpr uint8_t kMemoryWriteRequest = 0x20;
constexpr uint8_t kMemoryReadOnRequest = 0x21;
constexpr uint8_t kMemoryReadAtRequest = 0x22;
constexpr uint32_t kMemorySize = 0x4000;
constexpr uint32_t kMemoryReadPiece = 32;
constexpr uint32_t kMemoryWritePiece = 253;
constexpr uint32_t kPresetAddress = 0x3000;
constexpr uint32_t kBadPixelHeader = 0x3040;
constexpr uint32_t kBadPixelRest = 0x3060;
constexpr uint32_t kHeaderEntries = 6;
constexpr uint32_t kTagLiWb = 'L' | 'i' << 8 | 'W' << 16 | 'b' << 24;
constexpr uint32_t kTagBadP = 'B' | 'a' << 8 | 'd' << 16 | 'P' << 24;
constexpr DWORD kResponseWaitMs = 500;

}  // namespace

CZelCedar::CZelCedar(CDevice* device, int variantFlag) noexcept
    : CZelCamera(device), m_variant(variantFlag ? 1 : 0), m_regulation(*this) {
    m_preset1.tag = kTagLiWb;
    m_preset2.tag = 'Z' | 'l' << 8 | 'W' << 16 | 'b' << 24;
}

CZelCedar::~CZelCedar() {
    StopVideoThread();
    // A thread that outlived its bound is never terminated; every wait inside
    // it is bounded, so it ends, and the camera waits for that before freeing
    // anything the thread uses.
    m_threads.StopAndWait();
    if (Device() && Device()->IsIsochronous()) {
        CriticalSectionLock device(m_deviceLock);
        Device()->StopThreads();
        Send(kOpStopStream, {});
    }
    // Contexts of sets that are still allocated belong to this camera.
    CriticalSectionLock buffers(Rings().Lock());
    for (int i = 0; i < kMaxBufferSets; ++i) {
        BufferSet& set = Rings().At(i);
        delete static_cast<CSensorContext*>(set.context);
        set.context = nullptr;
    }
}

bool CZelCedar::EnableCameraEvent(int index, HANDLE event) {
    return CZelCamera::EnableCameraEvent(index, event);
}

bool CZelCedar::Send(uint8_t opcode, const std::vector<uint8_t>& body) {
    const std::vector<uint8_t> packet = SensorPacket(opcode, body.data(), body.size());
    return Device() && Device()->Write(packet.data(), static_cast<uint32_t>(packet.size()));
}

bool CZelCedar::SendRuns(uint8_t opcode, const std::vector<uint8_t>& runs) {
    if (!Send(opcode, runs)) return false;
    std::vector<uint8_t> answer(std::max<size_t>(runs.size(), 2));
    uint32_t read = 0;
    if (!Device()->ReadResponse(answer.data(), static_cast<uint32_t>(answer.size()), &read)) return false;
    CriticalSectionLock registers(m_registerLock);
    return ConfirmEcho(runs.data(), runs.size(), answer.data(), read, m_confirmed);
}

bool CZelCedar::SendChanges(uint8_t opcode) {
    std::vector<uint8_t> runs;
    {
        CriticalSectionLock registers(m_registerLock);
        if (AppendChangedRuns(m_desired, m_confirmed, runs) == 0) return true;
    }
    return SendRuns(opcode, runs);
}

bool CZelCedar::ReadRegisters() {
    const std::vector<uint8_t> headers{0x80, 0x00, 0x80, 0x40, 0x80, 0x80, 0x80, 0xC0};
    if (!Send(kOpReadRegisters, headers)) return false;
    uint8_t answer[2 * kSensorRegisterCount];
    uint32_t read = 0;
    if (!Device()->ReadResponse(answer, sizeof answer, &read) || read < sizeof answer) return false;
    CriticalSectionLock registers(m_registerLock);
    if (!ParseRegisterDump(answer, read, m_confirmed)) return false;
    m_desired = m_confirmed;
    return true;
}

bool CZelCedar::ProgramPll() {
    {
        CriticalSectionLock registers(m_registerLock);
        if (m_confirmed.value[kRegPllControl] & kPllPower) return true;
        m_desired.value[kRegPllControl] = m_confirmed.value[kRegPllControl] | kPllPower;
        m_desired.value[kRegPllConfig] = kPllConfig;
        m_desired.value[kRegPllDivider] = static_cast<uint16_t>(PllOutputDivider(m_pixelClock) - 1);
    }
    std::vector<uint8_t> runs;
    {
        CriticalSectionLock registers(m_registerLock);
        AppendRun(m_desired, kRegPllControl, 3, runs);
    }
    if (!SendRuns(kOpWriteRegisters, runs)) return false;
    ::Sleep(1);
    runs.clear();
    {
        CriticalSectionLock registers(m_registerLock);
        m_desired.value[kRegPllControl] |= kPllPower | kPllUse;
        AppendRun(m_desired, kRegPllControl, 1, runs);
    }
    return SendRuns(kOpWriteRegistersNow, runs);
}

bool CZelCedar::Initialize(const DeviceRecord& record) {
    if (!CZelCamera::Initialize(record)) return false;
    CriticalSectionLock device(m_deviceLock);
    if (!Send(kOpReset, {})) return false;
    ::Sleep(10);
    ReadPresets();
    ReadBadPixels();
    if (!ReadRegisters()) return false;
    {
        CriticalSectionLock registers(m_registerLock);
        m_chipValid = m_confirmed.value[kRegChipVersion] == kChipVersion &&
                      m_confirmed.value[kRegChipVersionMirror] == kChipVersion;
        if (!m_chipValid) return false;
        m_sensor.width = m_confirmed.value[kRegColumnSize] + 1;
        m_sensor.height = m_confirmed.value[kRegRowSize] + 1;
        m_sensor.columnStart = m_confirmed.value[kRegColumnStart];
        m_sensor.rowStart = m_confirmed.value[kRegRowStart];
        // Info 3 carries the info 1 values; they are known from the open on,
        // not only once a client has read info 1.
        const int32_t k = m_sensor.width / 640;
        const int32_t info1[4] = {640 * k, 480 * k, 0, 0};
        std::memcpy(m_info1, info1, sizeof info1);
    }
    const size_t frameBytes = static_cast<size_t>(m_sensor.width + 8) * static_cast<size_t>(m_sensor.height + 8);
    m_raw[0].assign(frameBytes, 0);
    m_raw[1].assign(frameBytes, 0);
    return ProgramPll();
}

// --- camera memory ---------------------------------------------------------

bool CZelCedar::ReadMemory(uint32_t address, uint8_t* data, uint32_t length) {
    if (address >= kMemorySize || length > kMemorySize - address) return false;
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min(kMemoryReadPiece, length - done);
        const bool at = done == 0 || m_memoryPosition != address + done;
        const int32_t ok = Device()->ControlIn(kControlVendor, kRecipientDevice,
                                               at ? kMemoryReadAtRequest : kMemoryReadOnRequest, kMemoryValue,
                                               static_cast<uint16_t>(at ? address + done : 0), data + done, piece);
        if (!ok) return false;
        done += piece;
        m_memoryPosition = address + done;
    }
    return true;
}

bool CZelCedar::WriteMemory(uint32_t address, const uint8_t* data, uint32_t length) {
    if (address >= kMemorySize || length > kMemorySize - address) return false;
    uint8_t packet[2 + kMemoryWritePiece];
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min(kMemoryWritePiece, length - done);
        const uint32_t at = address + done;
        packet[0] = static_cast<uint8_t>(at >> 8);
        packet[1] = static_cast<uint8_t>(at);
        std::memcpy(packet + 2, data + done, piece);
        if (!Device()->ControlOut(kControlVendor, kRecipientDevice, kMemoryWriteRequest, kMemoryValue, 0, packet,
                                  piece + 2))
            return false;
        done += piece;
        m_memoryPosition = address + done;
        // Early firmware needs time to commit each write.
        if (m_releaseMajor == 0 && m_releaseMinor < 9) ::Sleep(5);
    }
    return true;
}

void CZelCedar::ReadPresets() {
    int32_t record[3];
    if (!ReadMemory(kPresetAddress, reinterpret_cast<uint8_t*>(record), sizeof record)) return;
    if (static_cast<uint32_t>(record[0]) != kTagLiWb) return;
    m_preset1 = {kTagLiWb, record[1], record[2]};
    ApplyBalancePreset();
}

void CZelCedar::ReadBadPixels() {
    m_badPixels.clear();
    m_hasBadPixels = false;
    uint32_t header[8];
    if (!ReadMemory(kBadPixelHeader, reinterpret_cast<uint8_t*>(header), sizeof header)) return;
    const uint32_t count = header[1];
    // The count comes from the camera: anything outside the list's room means no list.
    if (header[0] != kTagBadP || count < 1 || count > kMaxBadPixels) return;
    std::vector<uint32_t> list(header + 2, header + 2 + std::min(count, kHeaderEntries));
    if (count > kHeaderEntries) {
        std::vector<uint32_t> rest(count - kHeaderEntries);
        if (!ReadMemory(kBadPixelRest, reinterpret_cast<uint8_t*>(rest.data()),
                        static_cast<uint32_t>(rest.size() * 4)))
            return;
        list.insert(list.end(), rest.begin(), rest.end());
    }
    m_badPixels = std::move(list);
    m_hasBadPixels = true;
}

bool CZelCedar::StoreBadPixels(const std::vector<uint32_t>& list) {
    std::vector<uint32_t> image(2 + list.size());
    image[0] = kTagBadP;
    image[1] = static_cast<uint32_t>(list.size());
    std::copy(list.begin(), list.end(), image.begin() + 2);
    const uint32_t bytes = static_cast<uint32_t>(image.size() * 4);
    CriticalSectionLock device(m_deviceLock);
    if (!WriteMemory(kBadPixelHeader, reinterpret_cast<const uint8_t*>(image.data()), bytes)) return false;
    std::vector<uint32_t> back(image.size());
    if (!ReadMemory(kBadPixelHeader, reinterpret_cast<uint8_t*>(back.data()), bytes)) return false;
    return back == image;
}

// --- info records ------------------------------------------------------------

int32_t CZelCedar::GetInfo1(int32_t* out) {
    if (!m_chipValid) {
        const int32_t fallback[4] = {320, 240, 0, 0};
        std::memcpy(out, fallback, sizeof fallback);
        return ORVO_OK;
    }
    // m_info1 holds 640k x 480k from the open; reading it narrows the sensor to that area.
    CriticalSectionLock registers(m_registerLock);
    const int32_t w = m_info1[0], h = m_info1[1];
    if (w > 0) {
        m_sensor.columnStart += ((m_sensor.width - w) / 2) & ~3;
        m_sensor.rowStart += ((m_sensor.height - h) / 2) & ~1;
        m_sensor.width = w;
        m_sensor.height = h;
    }
    std::memcpy(out, m_info1, sizeof m_info1);
    return ORVO_OK;
}

int32_t CZelCedar::PresetInfo(int infoId, bool write, int32_t* record) {
    if (!m_variant) return ORVO_E_BAD_INFO;
    auto* fields = record + 1;
    if (!write) {
        CriticalSectionLock registers(m_registerLock);
        const WhiteBalancePreset& p = infoId == 5 ? m_preset1 : m_preset2;
        fields[0] = static_cast<int32_t>(p.tag);
        fields[1] = p.red;
        fields[2] = p.blue;
        return ORVO_OK;
    }
    if (infoId == 5) {
        int32_t image[3];
        {
            CriticalSectionLock registers(m_registerLock);
            image[0] = static_cast<int32_t>(kTagLiWb);
            image[1] = m_preset1.red;
            image[2] = m_preset1.blue;
        }
        CriticalSectionLock device(m_deviceLock);
        int32_t stored[3];
        if (ReadMemory(kPresetAddress, reinterpret_cast<uint8_t*>(stored), sizeof stored) &&
            std::memcmp(stored, image, sizeof image) == 0)
            return ORVO_OK;
        return WriteMemory(kPresetAddress, reinterpret_cast<const uint8_t*>(image), sizeof image) ? ORVO_OK
                                                                                                 : ORVO_E_OPEN_FAILED;
    }
    if (static_cast<uint32_t>(fields[0]) != m_preset2.tag) return ORVO_E_OUT_OF_RANGE;
    CriticalSectionLock registers(m_registerLock);
    m_preset2.red = fields[1];
    m_preset2.blue = fields[2];
    ApplyBalancePreset();
    if (m_lightMode == 0) m_regulation.SetGainsFromBase(Gains().green);
    return ORVO_OK;
}

int32_t CZelCedar::BadPixelInfo(bool write, int32_t* record) {
    struct Record {
        int32_t id, start, returned, total;
        uint32_t entries[253];
    };
    auto* r = reinterpret_cast<Record*>(record);
    constexpr int32_t kPiece = 253;
    if (!write) {
        const int32_t total = static_cast<int32_t>(m_badPixels.size());
        if (!m_hasBadPixels || r->start < 0 || r->start >= total) return ORVO_E_OUT_OF_RANGE;
        r->returned = std::min(kPiece, total - r->start);
        r->total = total;
        std::copy_n(m_badPixels.begin() + r->start, r->returned, r->entries);
        return ORVO_OK;
    }
    const int32_t held = m_hasBadPixels ? static_cast<int32_t>(m_badPixels.size()) : 0;
    if (r->start < held && m_upload.empty()) return ORVO_E_READ_ONLY;
    if (r->returned < 0 || r->returned > kPiece || r->total < 1 || r->total > static_cast<int32_t>(kMaxBadPixels))
        return ORVO_E_OUT_OF_RANGE;
    if (m_upload.empty()) m_upload = m_hasBadPixels ? m_badPixels : std::vector<uint32_t>{};
    if (r->start != static_cast<int32_t>(m_upload.size()) ||
        static_cast<int32_t>(m_upload.size()) + r->returned > r->total)
        return ORVO_E_OUT_OF_RANGE;
    m_upload.insert(m_upload.end(), r->entries, r->entries + r->returned);
    if (static_cast<int32_t>(m_upload.size()) < r->total) return ORVO_OK;
    std::vector<uint32_t> list = std::move(m_upload);
    m_upload.clear();
    if (!StoreBadPixels(list)) return ORVO_E_OPEN_FAILED;
    // The capture threads read the list under the register lock.
    CriticalSectionLock buffers(Rings().Lock());
    CriticalSectionLock registers(m_registerLock);
    m_badPixels = std::move(list);
    m_hasBadPixels = true;
    if (CSensorContext* ctx = VideoContext()) ctx->BuildBadPixels(m_badPixels, m_columnMirror, m_rowMirror);
    return ORVO_OK;
}

int32_t CZelCedar::GetInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<int32_t*>(record);
    int32_t result;
    {
        CriticalSectionLock api(m_apiLock);
        switch (infoId) {
        case 1: result = GetInfo1(r + 1); break;
        case 5:
        case 6: result = PresetInfo(infoId, false, r); break;
        case 7: result = BadPixelInfo(false, r); break;
        default: return CZelCamera::GetInfo(infoId, record);
        }
    }
    r[0] = result == ORVO_OK ? infoId : -1;
    return result;
}

int32_t CZelCedar::SetInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<int32_t*>(record);
    int32_t result;
    {
        CriticalSectionLock api(m_apiLock);
        switch (infoId) {
        case 1: result = ORVO_E_READ_ONLY; break;
        case 5:
        case 6: result = PresetInfo(infoId, true, r); break;
        case 7: result = BadPixelInfo(true, r); break;
        default: return CZelCamera::SetInfo(infoId, record);
        }
    }
    r[0] = result == ORVO_OK ? infoId : -1;
    return result;
}

// --- the regulation's view of the sensor ---------------------------------------

SensorGains CZelCedar::Gains() {
    const GainMode mode = Mode();
    return {DecodeGain(m_desired.value[kRegRedGain], mode), DecodeGain(m_desired.value[kRegGreen1Gain], mode),
            DecodeGain(m_desired.value[kRegBlueGain], mode)};
}

void CZelCedar::SetGains(const SensorGains& g) {
    const GainMode mode = Mode();
    const int32_t max = m_regulation.maxGain;
    m_desired.value[kRegRedGain] = EncodeGain(g.red, max, mode);
    m_desired.value[kRegGreen1Gain] = m_desired.value[kRegGreen2Gain] = EncodeGain(g.green, max, mode);
    m_desired.value[kRegBlueGain] = EncodeGain(g.blue, max, mode);
}

void CZelCedar::ProgramShutter(int64_t exposure) {
    const int32_t rowTime = m_videoRowTime;
    if (rowTime <= 0) {
        m_exposure = std::clamp<int64_t>(exposure, 1, m_maxExposure);
        return;
    }
    m_exposure = orvo::ProgramShutter(m_desired, rowTime, exposure, m_maxExposure);
}

void CZelCedar::UpdateStatus(uint32_t set, uint32_t clear) {
    ReportStatus(set, clear);
}

void CZelCedar::StoreBalance(int32_t redRatio, int32_t blueRatio) {
    WhiteBalancePreset& p = m_lightMode == 1 ? m_preset1 : m_preset2;
    p.red = redRatio;
    p.blue = blueRatio;
}

void CZelCedar::ApplyBalancePreset() {
    const WhiteBalancePreset& p = m_lightMode == 1 ? m_preset1 : m_preset2;
    m_regulation.redRatio = p.red;
    m_regulation.blueRatio = p.blue;
}

}  // namespace orvo
