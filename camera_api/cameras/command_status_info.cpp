// Info records of the cameras with their own processor: the frame size, the
// lists, texts and video modes the camera reported, and the stored blocks
// "GUID" and "CALB" in its memory.
#include <algorithm>
#include <cstring>

#include "camera_api/cameras/command_status_camera.h"
#include "camera_api/transport/device.h"

namespace orvo {

using win32::CriticalSectionLock;
using namespace cmdstat;

namespace {

constexpr int kMaxListEntries = 1021;
constexpr int kMaxModePairs = 510;
constexpr size_t kTextChars = 510;   // terminator included
constexpr uint8_t kRequestReadBlock = 0x53;
constexpr uint8_t kRequestWriteBlock = 0x52;
constexpr uint32_t kBlockHeader = 12;
constexpr int32_t kBlockPart = 512;
constexpr uint32_t kBlockTransfer = 256;
constexpr DWORD kBlockReadPauseMs = 100;
constexpr DWORD kBlockWritePauseMs = 1000;

constexpr uint32_t Tag(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kTagGuid = Tag('G', 'U', 'I', 'D');
constexpr uint32_t kTagCalb = Tag('C', 'A', 'L', 'B');

struct ListRecord {
    int32_t infoId;
    int32_t start;
    int32_t returned;
    int32_t total;
    uint32_t entries[1];
};

struct TextRecord {
    int32_t infoId;
    int32_t index;
    wchar_t text[kTextChars];
};

struct BlockRecord {
    int32_t infoId;
    uint32_t tag;
    int32_t offset;
    int32_t total;
    uint8_t data[1];
};
static_assert(offsetof(BlockRecord, data) == 16, "stored block record layout");

// Copies entries from start; total is written whatever the outcome.
int32_t CopyList(const std::vector<uint32_t>& list, ListRecord* record, int limit, int perEntry,
                 const std::vector<uint32_t>* second) {
    const int total = int(list.size());
    record->total = total;
    if (total == 0 || record->start < 0 || record->start >= total) return ORVO_E_OUT_OF_RANGE;
    const int count = std::min(total - record->start, limit);
    for (int i = 0; i < count; ++i) {
        const size_t at = size_t(record->start + i);
        record->entries[i * perEntry] = list[at];
        if (second) record->entries[i * perEntry + 1] = at < second->size() ? (*second)[at] : 0;
    }
    record->returned = count;
    return ORVO_OK;
}

}  // namespace

int32_t CZelCommandStatusCamera::GetInfo(int infoId, void* record) {
    switch (infoId) {
    case 1: case 3: {
        CriticalSectionLock api(m_apiLock);
        CriticalSectionLock status(m_statusLock);
        m_info1[0] = int32_t(m_state.cameraWidth);
        m_info1[1] = int32_t(m_state.cameraHeight);
        m_info1[2] = IsAlder() ? 640 : int32_t(m_state.cameraWidth);
        m_info1[3] = IsAlder() ? 480 : int32_t(m_state.cameraHeight);
        break;
    }
    case 8: case 13: return ListInfo(infoId, record);
    case 9: case 14: return TextInfo(infoId, record);
    case 10: return IsAlder() ? ModeInfo(record) : ORVO_E_BAD_INFO;
    case 11: return IsAlder() ? ReadStoredBlock(kTagGuid, record) : ORVO_E_BAD_INFO;
    case 12: return IsAlder() ? ReadStoredBlock(kTagCalb, record) : ORVO_E_BAD_INFO;
    default: break;
    }
    return CZelCamera::GetInfo(infoId, record);
}

int32_t CZelCommandStatusCamera::SetInfo(int infoId, void* record) {
    if (IsAlder() && (infoId == 11 || infoId == 12)) {
        return WriteStoredBlock(infoId == 11 ? kTagGuid : kTagCalb, record);
    }
    return CZelCamera::SetInfo(infoId, record);
}

int32_t CZelCommandStatusCamera::ListInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<ListRecord*>(record);
    r->infoId = -1;
    CriticalSectionLock api(m_apiLock);
    CriticalSectionLock status(m_statusLock);
    const int32_t result = CopyList(infoId == 8 ? m_state.list1 : m_state.list2, r, kMaxListEntries, 1, nullptr);
    if (result == ORVO_OK) r->infoId = infoId;
    return result;
}

int32_t CZelCommandStatusCamera::ModeInfo(void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<ListRecord*>(record);
    r->infoId = -1;
    CriticalSectionLock api(m_apiLock);
    CriticalSectionLock status(m_statusLock);
    const int32_t result = CopyList(m_state.modes, r, kMaxModePairs, 2, &m_state.frameRates);
    if (result == ORVO_OK) r->infoId = 10;
    return result;
}

int32_t CZelCommandStatusCamera::TextInfo(int infoId, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<TextRecord*>(record);
    r->infoId = -1;
    CriticalSectionLock api(m_apiLock);
    CriticalSectionLock status(m_statusLock);
    const std::u16string* text = nullptr;
    if (infoId == 9 && r->index >= 0 && r->index < kText1Entries && m_state.text1Present[size_t(r->index)]) {
        text = &m_state.text1[size_t(r->index)];
    } else if (infoId == 14 && r->index >= 0 && r->index < kText2Entries && m_state.text2Present[r->index]) {
        text = &m_state.text2[r->index];
    }
    if (!text) return ORVO_E_OUT_OF_RANGE;
    const size_t chars = std::min(text->size(), kTextChars - 1);
    for (size_t i = 0; i < chars; ++i) r->text[i] = wchar_t((*text)[i]);
    r->text[chars] = 0;
    r->infoId = infoId;
    return ORVO_OK;
}

int32_t CZelCommandStatusCamera::ReadStoredBlock(uint32_t tag, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<BlockRecord*>(record);
    r->infoId = -1;
    CriticalSectionLock api(m_apiLock);
    r->tag = tag;
    int32_t result = ORVO_OK;
    if (r->total == 0) {
        // The first part: the camera's header (tag, offset, total) and up to 512 bytes.
        auto* head = reinterpret_cast<uint8_t*>(&r->tag);
        CriticalSectionLock device(m_deviceLock);
        const uint16_t value = uint16_t(tag >> 16), index = uint16_t(tag);
        uint32_t got = uint32_t(
            Device()->ControlInCount(kControlVendor, kRecipientDevice, kRequestReadBlock, value, index, head,
                                     kBlockTransfer));
        if (got < kBlockHeader || got > kBlockTransfer || r->total < 0) {
            result = ORVO_E_FAIL;
        } else {
            const uint32_t target = kBlockHeader + uint32_t(std::min(r->total, kBlockPart));
            while (got < target) {
                const uint32_t piece = std::min(kBlockTransfer, target - got);
                if (!Device()->ControlIn(kControlVendor, kRecipientDevice, kRequestReadBlock, value, index, head + got,
                                         piece)) {
                    result = ORVO_E_FAIL;
                    break;
                }
                got += piece;
            }
        }
    } else {
        if (r->total < 0 || r->offset < 0 || r->offset > r->total - kBlockPart - 1) return ORVO_E_OUT_OF_RANGE;
        const int32_t offset = r->offset + kBlockPart;
        const uint32_t count = uint32_t(std::min(r->total - offset, kBlockPart));
        CriticalSectionLock device(m_deviceLock);
        for (uint32_t done = 0; done < count; done += kBlockTransfer) {
            const uint32_t address = uint32_t(offset) + kBlockHeader + done;
            const uint32_t piece = std::min(kBlockTransfer, count - done);
            if (!Device()->ControlIn(kControlVendor, kRecipientDevice, kRequestReadBlock, uint16_t(address >> 16),
                                     uint16_t(address), r->data + done, piece)) {
                result = ORVO_E_FAIL;
                break;
            }
        }
        if (result == ORVO_OK) r->offset = offset;
    }
    ::Sleep(kBlockReadPauseMs);   // the camera's memory needs the pause between parts
    if (result == ORVO_OK) r->infoId = 11 + (tag == kTagCalb ? 1 : 0);
    return result;
}

int32_t CZelCommandStatusCamera::WriteStoredBlock(uint32_t tag, void* record) {
    if (!record) return ORVO_E_UNSUPPORTED;
    auto* r = static_cast<BlockRecord*>(record);
    r->infoId = -1;
    CriticalSectionLock api(m_apiLock);
    // The whole block, header included, must be addressable with 16 bits.
    if (r->total <= 0 || r->total > 0xFFFF - int32_t(kBlockHeader) || r->offset < 0 || r->offset >= r->total) {
        return ORVO_E_OUT_OF_RANGE;
    }
    r->tag = tag;
    const uint32_t count = uint32_t(std::min(r->total - r->offset, kBlockPart));
    uint8_t stream[kBlockHeader + kBlockPart];
    uint32_t length = 0;
    uint32_t address = 0;
    if (r->offset == 0) {
        std::memcpy(stream, &r->tag, kBlockHeader);
        length = kBlockHeader;
    } else {
        address = uint32_t(r->offset) + kBlockHeader;
    }
    std::memcpy(stream + length, r->data, count);
    length += count;
    const uint16_t value = uint16_t(r->total + int32_t(kBlockHeader));
    int32_t result = ORVO_OK;
    {
        CriticalSectionLock device(m_deviceLock);
        for (uint32_t done = 0; done < length; done += kBlockTransfer) {
            const uint32_t piece = std::min(kBlockTransfer, length - done);
            if (!Device()->ControlOut(kControlVendor, kRecipientDevice, kRequestWriteBlock, value,
                                      uint16_t(address + done), stream + done, piece)) {
                result = ORVO_E_FAIL;
                break;
            }
        }
    }
    if (result != ORVO_OK) return result;
    r->offset += int32_t(count);
    ::Sleep(kBlockWritePauseMs);   // the camera writes its memory meanwhile
    r->infoId = 11 + (tag == kTagCalb ? 1 : 0);
    return ORVO_OK;
}

}  // namespace orvo
