#include "camera_api/cameras/command_status_protocol.h"

#include <algorithm>
#include <cstring>

namespace orvo::cmdstat {
namespace {

constexpr Layout kAlder{Family::Alder, {'V', 'I', 'Z', ':'}, {':', 'C', 'A', 'M'}, 56, 13, 19, 32};
constexpr Layout kBirch{Family::Birch, {'T', 'W', 'I', 'G'}, {'B', 'A', 'R', 'K'}, 32, 16, 16, 16};

constexpr uint32_t kAlderFlagBits = (1u << 13) - 1;
constexpr uint32_t kAlderValueBits = (1u << 19) - 1;

// Parameter ids of reported changes, by bit (0: not a parameter).
constexpr int kAlderFlagParams[13] = {0, 0, 13, 40, 55, 14, 15, 0, 0, 0, 0, 57, 71};
constexpr int kAlderValueParams[19] = {58, 59, 60, 69, 43, 0, 0, 0, 42, 0, 70, 61, 62, 17, 6, 4, 0, 0, 0};
constexpr int kBirchParams[32] = {23, 41, 13, 40, 55, 0, 0, 0, 0, 0, 0, 57, 0, 0, 0, 0,
                                  0,  0,  0,  45, 43, 0, 0, 0, 6, 4, 42, 0, 0, 72, 74, 0};

uint32_t ItemU32(const uint8_t* words) noexcept {
    return uint32_t(LoadU16(words)) | uint32_t(LoadU16(words + 2)) << 16;
}

// A wide string after an index byte: the characters start at byte 1 and run
// to a terminator or the end of the item.
std::u16string ItemText(const uint8_t* data, size_t bytes) {
    std::u16string text;
    for (size_t at = 1; at + 2 <= bytes; at += 2) {
        const char16_t c = static_cast<char16_t>(LoadU16(data + at));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

void AppendEntries(std::vector<uint32_t>& list, const uint8_t* data, size_t words, size_t limit) {
    for (size_t i = 0; i + 2 <= words && list.size() < limit; i += 2) list.push_back(ItemU32(data + 2 * i));
}

// Scans a reported-changes mask upwards from its cursor, clearing the bits it
// meets, until one stands for a parameter. Wraps to bit 0, so a change below
// the cursor is never left behind.
int ScanMask(uint32_t& mask, uint32_t& cursor, const int* params, int bits) noexcept {
    const uint32_t used = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    mask &= used;
    while (mask != 0) {
        if (cursor == 0 || (cursor & used) == 0) cursor = 1;
        const uint32_t bit = cursor;
        int index = 0;
        while ((1u << index) != bit) ++index;
        cursor = bit << 1;
        if (mask & bit) {
            mask &= ~bit;
            if (params[index] != 0) return params[index];
        }
    }
    return 0;
}

void ApplyItem(const Layout& layout, DeviceState& state, uint8_t type, const uint8_t* data, size_t words,
               uint32_t& bits) {
    const size_t bytes = words * 2;
    switch (type) {
    case kItemList1:
        if (words == 0) return;
        state.list1.clear();
        for (size_t i = 0; i < words; ++i) {
            const uint16_t w = LoadU16(data + 2 * i);
            state.list1.push_back(uint32_t(w >> 8) << 16 | (w & 0xFFu));
        }
        std::fill(state.text1Present.begin(), state.text1Present.end(), false);
        for (auto& text : state.text1) text.clear();
        return;
    case kItemText1:
        if (words == 0 || state.text1Present[data[0]]) return;
        state.text1[data[0]] = ItemText(data, bytes);
        state.text1Present[data[0]] = true;
        return;
    case kItemText2:
        if (words == 0 || data[0] >= kText2Entries) return;
        state.text2[data[0]] = ItemText(data, bytes);
        state.text2Present[data[0]] = true;
        return;
    case kItemFrameSize: {
        if (words < 2) return;
        const uint32_t width = LoadU16(data), height = LoadU16(data + 2);
        if (width == 0 || height == 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) return;
        state.cameraWidth = width;
        state.cameraHeight = height;
        if (layout.family == Family::Birch) state.videoWidth = 640, state.videoHeight = 480;
        return;
    }
    case kItemVideoModes:
        AppendEntries(state.modes, data, words, kMaxModes);
        return;
    case kItemFrameRates:
        AppendEntries(state.frameRates, data, words, kMaxModes);
        return;
    case kItem65Step:
        if (words >= 1) state.p65Step = LoadU16(data);
        return;
    default:
        break;
    }
    if (words < 2) return;
    const uint32_t value = ItemU32(data);
    switch (type) {
    case kItem63Value: state.p63Value = int32_t(value), bits |= kStatusParam63Changed; break;
    case kItem63Max: state.p63Max = int32_t(value); break;
    case kItem65Value: state.p65Value = int32_t(value), bits |= kStatusParam65Changed; break;
    case kItem65Max: state.p65Max = int32_t(value); break;
    case kItem63Min: state.p63Min = int32_t(value); break;
    case kItem65Min: state.p65Min = int32_t(value); break;
    case kItemList2:
        state.list2.clear();
        AppendEntries(state.list2, data, words, words);
        bits |= kStatusList2Changed;
        break;
    case kItemCapabilities: state.capabilities = value; break;
    default: break;   // unknown types are skipped by their length
    }
}

}  // namespace

const Layout& LayoutOf(Family family) noexcept {
    return family == Family::Alder ? kAlder : kBirch;
}

void PendingCommand::SetFlag(int bit, bool on) noexcept {
    if (bit < 0 || bit > 31) return;
    flagMask |= 1u << bit;
    if (on) flagValues |= 1u << bit;
    else flagValues &= ~(1u << bit);
}

void PendingCommand::SetValue(int index, uint8_t value) noexcept {
    if (index < 0 || index > 31) return;
    valueMask |= 1u << index;
    values[index] = value;
}

void BuildCommand(const Layout& layout, PendingCommand& pending, uint32_t commandFlags, uint32_t dataSize,
                  bool withItems, std::vector<uint8_t>& out) {
    if (withItems && !pending.items.empty()) commandFlags |= kCommandItemsFollow;
    const size_t itemBytes = (commandFlags & kCommandItemsFollow) ? 2 * pending.items.size() + 2 : 0;
    out.assign(layout.headerSize + itemBytes, 0);
    uint8_t* p = out.data();
    std::memcpy(p, layout.commandTag, 4);
    if (layout.family == Family::Alder) {
        StoreU32(p + 4, dataSize);
        StoreU32(p + 8, pending.flagMask);
        StoreU32(p + 12, pending.valueMask);
        StoreU32(p + 16, commandFlags);
        StoreU32(p + 20, pending.flagValues);
        std::memcpy(p + 24, pending.values, 32);
    } else {
        StoreU32(p + 4, (pending.flagMask & 0xFFFFu) | pending.valueMask << 16);
        StoreU32(p + 8, dataSize);
        StoreU32(p + 12, commandFlags | (pending.flagValues & 0xFFFFu));
        std::memcpy(p + 16, pending.values, 16);
    }
    if (itemBytes) {
        uint8_t* item = p + layout.headerSize;
        for (uint16_t word : pending.items) StoreU16(item, word), item += 2;
        StoreU16(item, 0);
        pending.items.clear();
    }
    pending.flagMask = pending.flagValues = pending.valueMask = 0;
    std::memset(pending.values, 0, sizeof(pending.values));
}

std::vector<uint16_t> HandshakeRequestItems(const Layout& layout, int step) {
    if (step == 0) return {0x0001};
    if (step == 1) return {0x0102, 0};
    static constexpr uint16_t kAlderAsks[] = {0x0103, 0x0104, 0x0105, 0x010A, 0x0107, 0x0108,
                                              0x010B, 0x0109, 0x010C, 0x010E, 0x010D};
    static constexpr uint16_t kBirchAsks[] = {0x0103, 0x010A, 0x0107, 0x0108, 0x010B,
                                              0x0109, 0x010C, 0x010E, 0x010D, 0x010F};
    std::vector<uint16_t> items;
    auto add = [&items](const auto& asks) {
        for (uint16_t ask : asks) items.push_back(ask), items.push_back(0);
    };
    if (layout.family == Family::Alder) add(kAlderAsks);
    else add(kBirchAsks);
    return items;
}

bool ApplyStatusPacket(const Layout& layout, DeviceState& state, const uint8_t* data, size_t size,
                       uint32_t* statusBits) {
    *statusBits = 0;
    if (!data || size < layout.headerSize || std::memcmp(data, layout.statusTag, 4) != 0) return false;
    size = std::min(size, kStatusPacketCapacity);
    uint32_t packetFlags;
    bool changed;
    if (layout.family == Family::Alder) {
        packetFlags = LoadU32(data + 16);
        state.reportedFlags |= LoadU32(data + 8) & kAlderFlagBits;
        state.reportedValues |= LoadU32(data + 12) & kAlderValueBits;
        const uint32_t flagValues = LoadU32(data + 20);
        state.flags = (state.flags & ~state.reportedFlags) | (flagValues & state.reportedFlags);
        for (int n = 0; n < layout.valueCount; ++n) {
            if (state.reportedValues & (1u << n)) state.values[n] = data[24 + n];
        }
        changed = state.reportedFlags != 0 || state.reportedValues != 0;
    } else {
        const uint32_t mask = LoadU32(data + 4);
        packetFlags = LoadU32(data + 12);
        state.reportedFlags |= mask;
        const uint32_t flagMask = mask & 0xFFFFu;
        state.flags = (state.flags & ~flagMask) | (packetFlags & flagMask);
        for (int n = 0; n < layout.valueCount; ++n) {
            if (mask & (1u << (16 + n))) state.values[n] = data[16 + n];
        }
        changed = state.reportedFlags != 0;
    }
    if (packetFlags & kPacketHandshake) state.handshakeSeen = true;
    uint32_t bits = changed ? kStatusSettingsChanged : 0;
    if (packetFlags & kPacketItemsFollow) {
        bits |= ApplyItems(layout, state, data + layout.headerSize, size - layout.headerSize);
    }
    *statusBits = bits;
    return true;
}

uint32_t ApplyItems(const Layout& layout, DeviceState& state, const uint8_t* data, size_t size) {
    uint32_t bits = 0;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t type = data[at];
        const size_t words = data[at + 1];
        if (type == kItemEnd) break;
        if (at + 2 + 2 * words > size) break;
        ApplyItem(layout, state, type, data + at + 2, words, bits);
        at += 2 + 2 * words;
    }
    return bits;
}

int NextChangedParam(const Layout& layout, DeviceState& state) noexcept {
    int id;
    if (layout.family == Family::Alder) {
        id = ScanMask(state.reportedFlags, state.flagCursor, kAlderFlagParams, 13);
        if (id == 0) id = ScanMask(state.reportedValues, state.valueCursor, kAlderValueParams, 19);
    } else {
        id = ScanMask(state.reportedFlags, state.flagCursor, kBirchParams, 32);
    }
    return id != 0 ? id : kNoChangedParam;
}

}  // namespace orvo::cmdstat
