// The packet and item code of the cameras with their own processor, on raw
// bytes: what a well-formed status packet changes, and that a malformed one
// changes nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_api/cameras/command_status_protocol.h"

using namespace orvo::cmdstat;

namespace {

std::vector<uint8_t> StatusHeader(Family family) {
    const Layout& layout = LayoutOf(family);
    std::vector<uint8_t> packet(layout.headerSize, 0);
    std::memcpy(packet.data(), layout.statusTag, 4);
    return packet;
}

void SetItemsFlag(Family family, std::vector<uint8_t>& packet) {
    const size_t at = family == Family::Alder ? 16 : 12;
    StoreU32(packet.data() + at, LoadU32(packet.data() + at) | kPacketItemsFollow);
}

void AddItem(std::vector<uint8_t>& packet, uint8_t type, std::vector<uint16_t> words) {
    packet.push_back(type);
    packet.push_back(uint8_t(words.size()));
    for (uint16_t w : words) packet.push_back(uint8_t(w)), packet.push_back(uint8_t(w >> 8));
}

bool SameMirror(const DeviceState& a, const DeviceState& b) {
    return a.flags == b.flags && std::memcmp(a.values, b.values, sizeof(a.values)) == 0 &&
           a.reportedFlags == b.reportedFlags && a.reportedValues == b.reportedValues && a.list1 == b.list1 &&
           a.list2 == b.list2 && a.modes == b.modes && a.cameraWidth == b.cameraWidth &&
           a.p63Value == b.p63Value && a.capabilities == b.capabilities && a.handshakeSeen == b.handshakeSeen;
}

}  // namespace

TEST(CommandStatusPackets, ShortOrMistaggedPacketsChangeNothing) {
    for (Family family : {Family::Alder, Family::Birch}) {
        const Layout& layout = LayoutOf(family);
        std::vector<uint8_t> packet = StatusHeader(family);
        SetItemsFlag(family, packet);
        std::memset(packet.data() + 4, 0xFF, 12);   // every mask bit
        AddItem(packet, kItem63Value, {5, 0});
        DeviceState state, before;
        uint32_t bits = 1;

        EXPECT_FALSE(ApplyStatusPacket(layout, state, packet.data(), layout.headerSize - 1, &bits));
        EXPECT_EQ(bits, 0u);
        for (size_t at = 0; at < 4; ++at) {
            std::vector<uint8_t> wrong = packet;
            wrong[at] ^= 0x20;
            EXPECT_FALSE(ApplyStatusPacket(layout, state, wrong.data(), wrong.size(), &bits));
        }
        EXPECT_FALSE(ApplyStatusPacket(layout, state, nullptr, 100, &bits));
        EXPECT_TRUE(SameMirror(state, before));

        EXPECT_TRUE(ApplyStatusPacket(layout, state, packet.data(), packet.size(), &bits));
        EXPECT_EQ(state.p63Value, 5);
        EXPECT_EQ(bits, kStatusSettingsChanged | kStatusParam63Changed);
    }
}

TEST(CommandStatusPackets, ItemsRunningPastTheEndAreIgnoredWhole) {
    const Layout& layout = LayoutOf(Family::Alder);
    DeviceState state;
    std::vector<uint8_t> items;
    AddItem(items, kItem63Max, {0x1234, 0});
    AddItem(items, kItemList2, {1, 0, 2, 0});
    items.resize(items.size() - 2);   // the list item now lacks its last word
    EXPECT_EQ(ApplyItems(layout, state, items.data(), items.size()), 0u);
    EXPECT_EQ(state.p63Max, 0x1234);
    EXPECT_TRUE(state.list2.empty());

    // A type-0 item ends the run; an unknown type is skipped by its length.
    items.clear();
    AddItem(items, 0x77, {9, 9, 9});
    AddItem(items, kItem65Step, {512});
    AddItem(items, kItemEnd, {});
    AddItem(items, kItem65Min, {3, 0});
    ApplyItems(layout, state, items.data(), items.size());
    EXPECT_EQ(state.p65Step, 512);
    EXPECT_EQ(state.p65Min, 1) << "after the end item";

    // Too short to carry their value: ignored.
    items.clear();
    AddItem(items, kItem63Value, {7});
    AddItem(items, kItemCapabilities, {});
    AddItem(items, kItemFrameSize, {800});
    AddItem(items, kItemList1, {});
    ApplyItems(layout, state, items.data(), items.size());
    EXPECT_EQ(state.p63Value, 0);
    EXPECT_EQ(state.cameraWidth, 640u);
}

TEST(CommandStatusPackets, ItemsFillListsTextsAndSizes) {
    const Layout& birch = LayoutOf(Family::Birch);
    DeviceState state;
    state.videoWidth = 1;
    std::vector<uint8_t> items;
    AddItem(items, kItemText1, {uint16_t('A' << 8 | 3), uint16_t('B' << 8), 0});   // index 3, "AB"
    AddItem(items, kItemText1, {uint16_t('Z' << 8 | 3), 0});                        // kept: 3 exists
    AddItem(items, kItemText2, {uint16_t('Q' << 8 | 9), 0});                        // index 9: no such entry
    AddItem(items, kItemFrameSize, {1280, 1024});
    AddItem(items, kItemFrameSize, {8000, 8000});                                   // not a real size
    AddItem(items, kItemList2, {1, 0, 0xFFFF, 0x7FFF});
    EXPECT_EQ(ApplyItems(birch, state, items.data(), items.size()), kStatusList2Changed);
    EXPECT_TRUE(state.text1Present[3]);
    EXPECT_EQ(state.text1[3], u"AB");
    for (bool present : state.text2Present) EXPECT_FALSE(present);
    EXPECT_EQ(state.cameraWidth, 1280u);
    EXPECT_EQ(state.cameraHeight, 1024u);
    EXPECT_EQ(state.videoWidth, 640u) << "the single-mask family resets its video size";
    EXPECT_EQ(state.list2, (std::vector<uint32_t>{1, 0x7FFFFFFF}));

    // A new list 1 replaces the old one and empties text table 1.
    items.clear();
    AddItem(items, kItemList1, {0x0102, 0x00FF});
    ApplyItems(birch, state, items.data(), items.size());
    EXPECT_EQ(state.list1, (std::vector<uint32_t>{0x00010002, 0x000000FF}));
    EXPECT_FALSE(state.text1Present[3]);

    // Modes are appended up to sixteen.
    items.clear();
    std::vector<uint16_t> modes;
    for (int i = 0; i < 10; ++i) modes.push_back(uint16_t(100 + i)), modes.push_back(50);
    AddItem(items, kItemVideoModes, modes);
    AddItem(items, kItemVideoModes, modes);
    ApplyItems(birch, state, items.data(), items.size());
    ASSERT_EQ(state.modes.size(), 16u);
    EXPECT_EQ(state.modes[10], (50u << 16) | 100u);
}

TEST(CommandStatusPackets, MirrorTakesTheReportedBitsOnly) {
    // Single mask: only this packet's bits are copied.
    const Layout& birch = LayoutOf(Family::Birch);
    DeviceState state;
    std::vector<uint8_t> packet = StatusHeader(Family::Birch);
    StoreU32(packet.data() + 4, 0x1u | (1u << (16 + 9)));   // flag 0, value 9
    StoreU32(packet.data() + 12, 0xFFFF);                     // every flag on
    std::memset(packet.data() + 16, 0x42, 16);
    uint32_t bits;
    ASSERT_TRUE(ApplyStatusPacket(birch, state, packet.data(), packet.size(), &bits));
    EXPECT_EQ(state.flags, 0x1u);
    EXPECT_EQ(state.values[9], 0x42);
    EXPECT_EQ(state.values[8], 0);
    EXPECT_EQ(bits, kStatusSettingsChanged);

    // Split masks: bits reported earlier and not yet drained are copied too.
    const Layout& alder = LayoutOf(Family::Alder);
    DeviceState a;
    packet = StatusHeader(Family::Alder);
    StoreU32(packet.data() + 12, 1u << 15);   // value 15
    packet[24 + 15] = 9;
    ASSERT_TRUE(ApplyStatusPacket(alder, a, packet.data(), packet.size(), &bits));
    StoreU32(packet.data() + 12, 0);
    packet[24 + 15] = 10;
    ASSERT_TRUE(ApplyStatusPacket(alder, a, packet.data(), packet.size(), &bits));
    EXPECT_EQ(a.values[15], 10);
    EXPECT_EQ(NextChangedParam(alder, a), 4);
    EXPECT_EQ(NextChangedParam(alder, a), kNoChangedParam);
}

TEST(CommandStatusPackets, ChangedParameterQueueDrainsEveryBitOnce) {
    const Layout& alder = LayoutOf(Family::Alder);
    DeviceState a;
    EXPECT_EQ(NextChangedParam(alder, a), kNoChangedParam);
    a.reportedFlags = (1u << 2) | (1u << 7) | (1u << 12);   // 13, unmapped, 71
    a.reportedValues = (1u << 0) | (1u << 18);               // 58, unmapped
    EXPECT_EQ(NextChangedParam(alder, a), 13);
    a.reportedFlags |= 1u << 3;                              // below nothing: found on the way up
    EXPECT_EQ(NextChangedParam(alder, a), 40);
    EXPECT_EQ(NextChangedParam(alder, a), 71);
    a.reportedFlags |= 1u << 5;                              // below the cursor now
    EXPECT_EQ(NextChangedParam(alder, a), 14) << "the scan wraps to bit 0";
    EXPECT_EQ(NextChangedParam(alder, a), 58);
    EXPECT_EQ(NextChangedParam(alder, a), kNoChangedParam);
    EXPECT_EQ(a.reportedValues, 0u) << "unmapped bits are cleared on the way";

    const Layout& birch = LayoutOf(Family::Birch);
    DeviceState b;
    b.reportedFlags = (1u << 30) | (1u << 0);
    EXPECT_EQ(NextChangedParam(birch, b), 23);
    EXPECT_EQ(NextChangedParam(birch, b), 74);
    b.reportedFlags = 1u << 1;   // the cursor passed bit 31: a low bit is still found
    EXPECT_EQ(NextChangedParam(birch, b), 41);
    EXPECT_EQ(NextChangedParam(birch, b), kNoChangedParam);
}

TEST(CommandStatusPackets, CommandsCarryAndClearThePendingState) {
    PendingCommand pending;
    pending.SetFlag(2, true);
    pending.SetValue(15, 0xAB);
    pending.items = {0x0103, 0};
    std::vector<uint8_t> out;
    BuildCommand(LayoutOf(Family::Alder), pending, kCommandParamsOnly, 0, true, out);
    ASSERT_EQ(out.size(), 56u + 6u);
    EXPECT_EQ(std::memcmp(out.data(), "VIZ:", 4), 0);
    EXPECT_EQ(LoadU32(&out[8]), 1u << 2);
    EXPECT_EQ(LoadU32(&out[12]), 1u << 15);
    EXPECT_EQ(LoadU32(&out[16]), kCommandParamsOnly | kCommandItemsFollow);
    EXPECT_EQ(LoadU32(&out[20]), 1u << 2);
    EXPECT_EQ(out[24 + 15], 0xAB);
    EXPECT_EQ(LoadU16(&out[56]), 0x0103);
    EXPECT_EQ(LoadU16(&out[60]), 0) << "closing word";
    EXPECT_TRUE(pending.Empty());
    EXPECT_EQ(pending.values[15], 0);

    pending.SetFlag(2, false);
    pending.SetValue(9, 7);
    BuildCommand(LayoutOf(Family::Birch), pending, kCommandFrameRequest, 921600, false, out);
    ASSERT_EQ(out.size(), 32u);
    EXPECT_EQ(std::memcmp(out.data(), "TWIG", 4), 0);
    EXPECT_EQ(LoadU32(&out[4]), (1u << 2) | (1u << (16 + 9)));
    EXPECT_EQ(LoadU32(&out[8]), 921600u);
    EXPECT_EQ(LoadU32(&out[12]), kCommandFrameRequest) << "flag 2 is off";
    EXPECT_EQ(out[16 + 9], 7);
}
