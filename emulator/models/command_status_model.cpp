#include "emulator/models/command_status_model.h"

#include <algorithm>
#include <cstring>

#include "emulator/models/frame_pattern.h"

namespace orvo::emu {

namespace {

constexpr uint8_t kReadMemory = 0x51, kWriteMemory = 0x50, kReadBlock = 0x53, kWriteBlock = 0x52;
constexpr uint32_t kBlockHeader = 12;
constexpr uint32_t kFirstPartData = 512;

void PutWord(std::vector<uint8_t>& item, uint16_t word) {
    item.push_back(uint8_t(word)), item.push_back(uint8_t(word >> 8));
}

std::vector<uint8_t> Item(uint8_t type, const std::vector<uint16_t>& words) {
    std::vector<uint8_t> item{type, uint8_t(words.size())};
    for (uint16_t w : words) PutWord(item, w);
    return item;
}

std::vector<uint8_t> TextItem(uint8_t type, int index, const std::u16string& text) {
    // Index byte, the characters from byte 1, a terminator, padded to words.
    const size_t bytes = 1 + 2 * (text.size() + 1);
    const size_t words = (bytes + 1) / 2;
    std::vector<uint8_t> item(2 + 2 * words, 0);
    item[0] = type;
    item[1] = uint8_t(words);
    item[2] = uint8_t(index);
    for (size_t i = 0; i < text.size(); ++i) {
        item[3 + 2 * i] = uint8_t(text[i]);
        item[4 + 2 * i] = uint8_t(text[i] >> 8);
    }
    return item;
}

void PutU32(std::vector<uint16_t>& words, uint32_t value) {
    words.push_back(uint16_t(value)), words.push_back(uint16_t(value >> 16));
}

}  // namespace

uint32_t CommandStatusModel::Tag(const char (&text)[5]) noexcept {
    return Le32(reinterpret_cast<const uint8_t*>(text));
}

CommandStatusModel::CommandStatusModel(Family family) : m_family(family), m_shape(ShapeOf(family)) {
    for (int n = 0; n < 32; ++n) m_values[n] = uint8_t(0x10 + n);
    m_flags = 0x0029;   // flags 0, 3 and 5 on
    if (family == Family::Alder) {
        m_values[2] = 3, m_values[10] = 0, m_values[11] = 1, m_values[12] = 2, m_values[13] = 30;
    } else {
        m_values[8] = 5, m_values[13] = 4, m_values[14] = 6;
        m_itemValues[item::kFeatures] = 0x1F;
    }
    m_itemValues[item::kLevelValue] = 100, m_itemValues[item::kLevelMax] = 1000, m_itemValues[item::kLevelMin] = 1;
    m_itemValues[item::kStepValue] = 512, m_itemValues[item::kStepMax] = 4096, m_itemValues[item::kStepMin] = 256;
    m_itemValues[item::kStepSize] = 256;
    list1 = {0x00020001, 0x00040003};
    list2 = {10, 20, 30};
    text1 = {{0, u"Zel camera"}, {7, u"Emulated"}};
    text2 = {{1, u"Low light"}};
    PutBlock(Tag("GUID"), 16);
    PutBlock(Tag("CALB"), 700);
}

void CommandStatusModel::SetFrameRate(uint8_t fps) {
    if (m_family == Family::Alder) m_values[13] = fps;
    else m_fixedRate = fps;
}

double CommandStatusModel::FramePeriod() const noexcept {
    const uint8_t fps = m_family == Family::Alder ? m_values[13] : m_fixedRate;
    return fps ? 1.0 / fps : 1.0 / 30;
}

void CommandStatusModel::PutBlock(uint32_t tag, uint32_t dataBytes) {
    std::vector<uint8_t> block(kBlockHeader + dataBytes);
    PutLe32(block.data(), tag);
    PutLe32(block.data() + 8, dataBytes);
    for (uint32_t i = 0; i < dataBytes; ++i) block[kBlockHeader + i] = uint8_t(i * 7 + (tag & 0xFF));
    blocks[tag] = std::move(block);
}

bool CommandStatusModel::Decode(const uint8_t* data, size_t size, Command& out) const {
    const PacketShape& f = m_shape;
    if (size < f.headerBytes || std::memcmp(data, f.commandTag, 4) != 0) return false;
    out.dataSize = Le32(data + f.cmdDataSize);
    const uint32_t mask = Le32(data + f.cmdMask);
    const uint32_t word = Le32(data + f.cmdWord);
    if (f.splitMasks) {
        out.flagMask = mask;
        out.valueMask = Le32(data + f.cmdValueMask);
        out.command = word;
        out.flagValues = Le32(data + f.cmdFlagValues);
    } else {
        out.flagMask = mask & 0xFFFF;
        out.valueMask = mask >> 16;
        out.command = word & 0xFFFF0000u;
        out.flagValues = word & 0xFFFF;
    }
    std::memcpy(out.values, data + f.cmdValues, size_t(f.commandValueBytes));
    if (out.command & command::kItemsAttached) {
        // Items up to the closing 0 word: a type and length word, then its data words.
        size_t at = m_shape.headerBytes;
        while (at + 2 <= size) {
            const uint16_t head = Le16(data + at);
            if (head == 0) break;
            out.items.push_back(head);
            at += 2;
            for (size_t k = 0; k < size_t(head >> 8) && at + 2 <= size; ++k, at += 2) {
                out.items.push_back(Le16(data + at));
            }
        }
    }
    return true;
}

void CommandStatusModel::OnCommand(const uint8_t* data, size_t size) {
    Command command;
    if (!data || !Decode(data, size, command)) {
        ++m_rejected;
        return;
    }
    m_commands.push_back(command);
    Apply(command);
}

void CommandStatusModel::Apply(const Command& command) {
    const uint32_t usedFlags = (1u << m_shape.flagBits) - 1;
    const uint32_t usedValues = (1u << m_shape.valueBytes) - 1;
    const uint32_t flagMask = command.flagMask & usedFlags;
    m_flags = (m_flags & ~flagMask) | (command.flagValues & flagMask);
    m_changedFlags |= flagMask;
    for (int n = 0; n < m_shape.valueBytes; ++n) {
        if (command.valueMask & (1u << n)) m_values[n] = command.values[n];
    }
    m_changedValues |= command.valueMask & usedValues;
    if (command.command & command::kHello) {
        m_handshake = true;
        m_changedFlags = usedFlags;   // the host learns everything once
        m_changedValues = usedValues;
    }
    std::vector<std::vector<uint8_t>> items;
    // Request items: a type byte and a length in words, the data skipped.
    for (size_t i = 0; i < command.items.size(); ++i) {
        const uint8_t type = uint8_t(command.items[i]);
        const size_t words = command.items[i] >> 8;
        if (type == 0) break;
        for (auto& item : ItemsFor(type)) items.push_back(std::move(item));
        i += words;
    }
    if ((command.command & command::kSendFrame) == command::kSendFrame) m_frameRequests.push_back(command.dataSize);
    // Every command is answered with the camera's state, a plain frame request too.
    Report(items);
}

std::vector<std::vector<uint8_t>> CommandStatusModel::ItemsFor(uint8_t type) const {
    std::vector<std::vector<uint8_t>> items;
    std::vector<uint16_t> words;
    switch (type) {
    case item::kNumberList:
        for (uint32_t e : list1) words.push_back(uint16_t(((e >> 16) & 0xFF) << 8 | (e & 0xFF)));
        items.push_back(Item(type, words));
        break;
    case item::kNameTable:
        for (const auto& [index, text] : text1) items.push_back(TextItem(type, index, text));
        break;
    case item::kModeNames:
        for (const auto& [index, text] : text2) items.push_back(TextItem(type, index, text));
        break;
    case item::kPictureSize:
        items.push_back(Item(type, {m_width, m_height}));
        break;
    case item::kVideoModes:
    case item::kModeRates:
        if (m_modes.empty()) break;
        for (uint32_t e : type == item::kVideoModes ? m_modes : m_rates) PutU32(words, e);
        items.push_back(Item(type, words));
        break;
    case item::kWordList:
        for (uint32_t e : list2) PutU32(words, e);
        items.push_back(Item(type, words));
        break;
    case item::kStepSize:
        items.push_back(Item(type, {uint16_t(m_itemValues.at(type))}));
        break;
    default:
        if (auto found = m_itemValues.find(type); found != m_itemValues.end()) {
            PutU32(words, found->second);
            items.push_back(Item(type, words));
        }
        break;
    }
    return items;
}

std::vector<uint8_t> CommandStatusModel::Header() const {
    const PacketShape& f = m_shape;
    std::vector<uint8_t> bytes(f.headerBytes, 0);
    uint8_t* p = bytes.data();
    std::memcpy(p, f.statusTag, 4);
    const uint32_t packetFlags = m_handshake ? packet::kHelloAnswer : 0;
    if (f.splitMasks) {
        PutLe32(p + f.stsMask, m_changedFlags);
        PutLe32(p + f.stsValueMask, m_changedValues);
        PutLe32(p + f.stsFlags, packetFlags);
        PutLe32(p + f.stsFlagValues, m_flags);
    } else {
        PutLe32(p + f.stsMask, (m_changedFlags & 0xFFFF) | m_changedValues << 16);
        PutLe32(p + f.stsFlags, packetFlags | (m_flags & 0xFFFF));
    }
    std::memcpy(p + f.stsValues, m_values, size_t(f.valueBytes));
    return bytes;
}

void CommandStatusModel::Report(const std::vector<std::vector<uint8_t>>& items) {
    if (faults.mute) return;
    size_t next = 0;
    do {
        std::vector<uint8_t> out = Header();
        m_changedFlags = m_changedValues = 0;   // only the first packet reports them
        const size_t flagsAt = m_shape.stsFlags;
        bool any = false;
        while (next < items.size() && out.size() + items[next].size() + 2 <= packet::kLargest) {
            out.insert(out.end(), items[next].begin(), items[next].end());
            ++next, any = true;
        }
        if (any) {
            out.push_back(0), out.push_back(0);
            PutLe32(out.data() + flagsAt, Le32(out.data() + flagsAt) | packet::kItemsAttached);
        } else if (next < items.size()) {
            ++next;   // an item too large for any packet is not sent
        }
        m_status.push_back(std::move(out));
    } while (next < items.size());
}

bool CommandStatusModel::NextStatus(std::vector<uint8_t>& packet) {
    if (m_status.empty()) return false;
    packet = std::move(m_status.front());
    m_status.pop_front();
    return true;
}

void CommandStatusModel::ChangeFlag(int bit, bool on) {
    if (on) m_flags |= 1u << bit;
    else m_flags &= ~(1u << bit);
    m_changedFlags |= 1u << bit;
    Report({});
}

void CommandStatusModel::ChangeValue(int n, uint8_t value) {
    m_values[n] = value;
    m_changedValues |= 1u << n;
    Report({});
}

void CommandStatusModel::SetItemValue(uint8_t type, uint32_t value) {
    m_itemValues[type] = value;
    Report(ItemsFor(type));
}

void CommandStatusModel::FrameGeometry(uint32_t bytes, uint32_t* width, uint32_t* rows) const {
    std::vector<uint32_t> sizes = m_modes;
    sizes.push_back(uint32_t(m_height) << 16 | m_width);
    sizes.push_back(480u << 16 | 640u);
    for (uint32_t size : sizes) {
        const uint32_t w = size & 0xFFFF, h = size >> 16;
        if (w * h * 3 == bytes) {
            *width = w, *rows = h;
            return;
        }
    }
    *width = m_width;
    *rows = bytes / (3u * m_width);
}

bool CommandStatusModel::NextFrame(uint8_t* buffer, uint32_t capacity, uint32_t* bytes) {
    if (m_frameRequests.empty()) return false;
    const uint32_t requested = m_frameRequests.front();
    m_frameRequests.pop_front();
    if (faults.droppedFrames > 0) {
        --faults.droppedFrames;
        return false;
    }
    uint32_t width, rows;
    FrameGeometry(requested, &width, &rows);
    const uint32_t fits = std::min(rows, width ? capacity / (3 * width) : 0);
    ++m_frameCounter;
    if (stampOnly && std::find(m_painted.begin(), m_painted.end(), buffer) != m_painted.end()) {
        StampPatternFrame(buffer, width, fits, size_t(width) * 3, m_frameCounter);
    } else {
        FillPatternFrame(buffer, width, fits, size_t(width) * 3, m_frameCounter);
        if (stampOnly) m_painted.push_back(buffer);
    }
    *bytes = std::min(requested, capacity);
    if (faults.shortFrames > 0 && *bytes >= 3 * width) {
        --faults.shortFrames;
        *bytes -= 3 * width;
    }
    return true;
}

uint32_t CommandStatusModel::ControlIn(uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                                       uint32_t length) {
    if (request == kReadMemory) {
        const uint32_t n = std::min<uint32_t>(length, uint32_t(memory.size()));
        std::memcpy(data, memory.data(), n);
        return n;
    }
    if (request != kReadBlock) {
        for (uint32_t i = 0; i < length; ++i) data[i] = uint8_t(request + i);
        return length;
    }
    const uint32_t address = uint32_t(value) << 16 | index;
    if (blocks.count(address)) {
        // Reading by tag: the block's header and first part, in as many
        // transfers as the host likes.
        const auto& block = blocks.at(address);
        const uint32_t firstEnd = kBlockHeader + std::min<uint32_t>(uint32_t(block.size()) - kBlockHeader,
                                                                    kFirstPartData);
        if (m_readTag != address || m_readCursor >= firstEnd) m_readCursor = 0;
        m_readTag = address;
        const uint32_t n = std::min(length, firstEnd - m_readCursor);
        std::memcpy(data, block.data() + m_readCursor, n);
        m_readCursor += n;
        return n;
    }
    auto found = blocks.find(m_readTag);
    if (found == blocks.end() || address >= found->second.size()) return 0;
    const uint32_t n = std::min<uint32_t>(length, uint32_t(found->second.size()) - address);
    std::memcpy(data, found->second.data() + address, n);
    m_readCursor = address + n;
    return n;
}

bool CommandStatusModel::ControlOut(uint8_t request, uint16_t value, uint16_t index, const uint8_t* data,
                                    uint32_t length) {
    if (request == kWriteMemory) {
        if (length > memory.size()) return false;
        std::memcpy(memory.data(), data, length);
        return true;
    }
    if (request != kWriteBlock) return true;
    const uint32_t blockSize = value, address = index;
    if (address == 0) {
        if (length < kBlockHeader) return false;
        m_writeTag = Le32(data);
        blocks[m_writeTag].assign(blockSize, 0);
    }
    auto found = blocks.find(m_writeTag);
    if (found == blocks.end() || address + length > blockSize) return false;
    if (found->second.size() < blockSize) found->second.resize(blockSize);
    std::memcpy(found->second.data() + address, data, length);
    return true;
}

}  // namespace orvo::emu
