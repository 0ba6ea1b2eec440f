// The cameras with their own processor against emulated ones: the opening
// handshake, the parameter tables and their rules, the changed-parameter
// queue, pending changes on the wire, info records and buffer rules.
#include <gtest/gtest.h>

#include <cstring>

#include "command_status_rig.h"
#include "win32/unique_handle.h"

using namespace orvo;
using orvo::cmdstat::Family;
using orvo::emu::CommandStatusModel;
using orvo::test::CommandStatusRig;

namespace {

constexpr uint32_t kItemsFollow = cmdstat::kCommandItemsFollow;

TEST(CommandStatusCamera, HandshakeAsksForEverythingAndMirrorsTheCamera) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusRig rig(family);
        rig.model.ChangeValue(family == Family::Alder ? 15 : 9, 0x5A);
        ASSERT_TRUE(rig.Open());
        const auto& commands = rig.model.Commands();
        ASSERT_GE(commands.size(), 3u);
        EXPECT_EQ(commands[0].command, cmdstat::kCommandHandshake | kItemsFollow);
        EXPECT_EQ(commands[0].items, (std::vector<uint16_t>{0x0001}));
        EXPECT_EQ(commands[1].command, cmdstat::kCommandParamsOnly | kItemsFollow);
        EXPECT_EQ(commands[1].items, (std::vector<uint16_t>{0x0102, 0}));
        EXPECT_EQ(commands[2].command & kItemsFollow, kItemsFollow);
        EXPECT_EQ(commands[2].items.size(), family == Family::Alder ? 22u : 20u);

        EXPECT_EQ(rig.Get(4), 0x5A);
        int info[5] = {};
        ASSERT_EQ(rig.camera->GetInfo(1, info), ORVO_OK);
        EXPECT_EQ(info[0], 1);
        EXPECT_EQ(info[1], 1280);
        EXPECT_EQ(info[2], 720);
        EXPECT_EQ(info[3], family == Family::Alder ? 640 : 1280);
        EXPECT_EQ(info[4], family == Family::Alder ? 480 : 720);

        // The camera reported its whole state once: the queue names each
        // mapped parameter, then runs dry.
        const std::vector<int> changes = rig.DrainChanges();
        EXPECT_NE(std::find(changes.begin(), changes.end(), 4), changes.end());
        EXPECT_NE(std::find(changes.begin(), changes.end(), 13), changes.end());
        EXPECT_EQ(rig.Get(46), 47);
        EXPECT_NE(rig.Get(24) & 0x800, 0) << "settings-changed status bit";
    }
}

TEST(CommandStatusCamera, OpenFailsWhenTheCameraDoesNotAnswer) {
    CommandStatusRig mute(Family::Alder);
    mute.model.faults.mute = true;
    EXPECT_FALSE(mute.Open());
    CommandStatusRig deaf(Family::Birch);
    deaf.device.FailWrites(true);
    EXPECT_FALSE(deaf.Open());
    EXPECT_TRUE(deaf.model.Commands().empty());
}

TEST(CommandStatusCamera, ParameterTablesOfBothFamilies) {
    CommandStatusRig alder(Family::Alder);
    ASSERT_TRUE(alder.Open());
    int value = 0;
    ParamRange range{};
    EXPECT_EQ(alder.camera->GetParam(-1, 44, &value), ORVO_E_WRITE_ONLY);
    EXPECT_EQ(alder.Set(58, 1), ORVO_E_READ_ONLY);
    EXPECT_EQ(alder.Set(9, 1), ORVO_E_BAD_PARAM) << "readable, not writable";
    EXPECT_EQ(alder.Get(17), 30);
    EXPECT_EQ(alder.Get(16), 60);
    EXPECT_EQ(alder.Set(16, 50), ORVO_OK);
    EXPECT_EQ(alder.Get(16), 50) << "kept on the host";
    EXPECT_EQ(alder.Set(16, 70), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(alder.Set(60, 7), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(alder.camera->GetParamRange(-1, 55, &range), ORVO_E_BAD_PARAM);
    EXPECT_EQ(alder.Set(55, 1), ORVO_E_BAD_PARAM);
    EXPECT_EQ(alder.camera->GetParam(-1, 7, &value), ORVO_E_BAD_PARAM) << "a Birch-only id";
    EXPECT_EQ(alder.Get(58), (0x10 + 16) << 8 | 0x10);
    ASSERT_EQ(alder.camera->GetParamRange(-1, 6, &range), ORVO_OK);
    EXPECT_EQ(range.max, 255);
    EXPECT_EQ(range.extra, 0);
    ASSERT_EQ(alder.camera->GetParamRange(-1, 65, &range), ORVO_OK);
    EXPECT_EQ(range.min, 256);
    EXPECT_EQ(range.max, 4096);
    EXPECT_EQ(range.step, 256);
    ASSERT_EQ(alder.camera->GetParamRange(-1, 24, &range), ORVO_OK);
    EXPECT_EQ(range.max, 0x8000);
    EXPECT_EQ(alder.Get(63), 0) << "item 6 is not asked for: the camera reports it when it has one";
    alder.WithModel([](CommandStatusModel& m) { m.SetItemValue(cmdstat::kItem63Value, 100); });
    ASSERT_TRUE(alder.WaitUntil([&] { return alder.Get(63) == 100; }));
    EXPECT_EQ(alder.Get(24) & 0x4000, 0x4000);
    EXPECT_EQ(alder.Set(6, 3), ORVO_OK);
    EXPECT_EQ(alder.Get(63), 0) << "writing 6 clears the stored 63 value";
    EXPECT_EQ(alder.camera->GetParam(3, 4, &value), ORVO_E_BAD_BUFFER);

    CommandStatusRig birch(Family::Birch);
    ASSERT_TRUE(birch.Open());
    EXPECT_EQ(birch.Get(17), 30);
    EXPECT_EQ(birch.Set(17, 30), ORVO_E_READ_ONLY);
    ASSERT_EQ(birch.camera->GetParamRange(-1, 7, &range), ORVO_OK);
    EXPECT_EQ(range.max, 1278);
    EXPECT_EQ(range.step, 2);
    EXPECT_EQ(birch.Get(8), 0);
    EXPECT_EQ(birch.Set(54, 5), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(birch.camera->GetParam(-1, 54, &value), ORVO_E_BAD_PARAM);
    EXPECT_EQ(birch.Get(72), 4);
    EXPECT_EQ(birch.camera->GetParam(-1, 58, &value), ORVO_E_BAD_PARAM) << "an Alder-only id";
}

TEST(CommandStatusCamera, BirchCapabilityWordGatesItsOptionalParameters) {
    CommandStatusRig rig(Family::Birch);
    ASSERT_TRUE(rig.Open());
    EXPECT_EQ(rig.Get(65), 512);
    rig.WithModel([](CommandStatusModel& m) { m.SetItemValue(cmdstat::kItemCapabilities, 0x1); });
    int value = -1;
    ASSERT_TRUE(rig.WaitUntil([&] { return rig.camera->GetParam(-1, 65, &value) == ORVO_E_BAD_PARAM; }));
    EXPECT_EQ(value, 512) << "the value is still written";
    EXPECT_EQ(rig.Get(63), 0) << "bit 0 is still offered";
    EXPECT_EQ(rig.camera->GetParam(-1, 72, &value), ORVO_E_BAD_PARAM);
    EXPECT_EQ(rig.Set(57, 1), ORVO_E_BAD_PARAM);
    ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
    EXPECT_EQ(rig.LastCommand().flagMask, 1u << 11) << "the refused write was recorded all the same";
}

TEST(CommandStatusCamera, PendingChangesReachTheCameraWithUpdateParams) {
    for (Family family : {Family::Alder, Family::Birch}) {
        CommandStatusRig rig(family);
        ASSERT_TRUE(rig.Open());
        rig.DrainChanges();
        const size_t before = rig.CommandCount();
        EXPECT_EQ(rig.camera->UpdateParams(), ORVO_OK);
        EXPECT_EQ(rig.CommandCount(), before) << "nothing pending, nothing sent";

        // Parameter 13 is inverted: 0 turns flag 2 on.
        ASSERT_EQ(rig.Set(13, 0), ORVO_OK);
        ASSERT_EQ(rig.Set(42, 0x00AB00CD), ORVO_OK);
        ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
        auto sent = rig.LastCommand();
        EXPECT_EQ(sent.command, cmdstat::kCommandParamsOnly);
        EXPECT_EQ(sent.flagMask, 1u << 2);
        EXPECT_EQ(sent.flagValues & (1u << 2), 1u << 2);
        const int hi = family == Family::Alder ? 8 : 10;
        EXPECT_EQ(sent.valueMask, (1u << hi) | (1u << (hi + 1)));
        EXPECT_EQ(sent.values[hi], 0xAB);
        EXPECT_EQ(sent.values[hi + 1], 0xCD);
        // The camera reports the change back; the mirror and the queue follow.
        ASSERT_TRUE(rig.WaitUntil([&] { return rig.Get(13) == 0; }));
        EXPECT_EQ(rig.Get(42), 0x00AB00CD);
        const std::vector<int> changes = rig.DrainChanges();
        EXPECT_NE(std::find(changes.begin(), changes.end(), 13), changes.end());
        EXPECT_NE(std::find(changes.begin(), changes.end(), 42), changes.end());

        ASSERT_EQ(rig.Set(13, 1), ORVO_OK);
        ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
        sent = rig.LastCommand();
        EXPECT_EQ(sent.flagMask, 1u << 2);
        EXPECT_EQ(sent.flagValues & (1u << 2), 0u) << "changed, and now off";
        EXPECT_EQ(sent.valueMask, 0u) << "sent changes are not sent twice";

        // A write that fails keeps the changes for the next attempt.
        ASSERT_EQ(rig.Set(23, 1), ORVO_OK);
        rig.device.FailWrites(true);
        EXPECT_EQ(rig.camera->UpdateParams(), ORVO_E_OPEN_FAILED);
        rig.device.FailWrites(false);
        ASSERT_EQ(rig.camera->UpdateParams(), ORVO_OK);
        EXPECT_EQ(rig.LastCommand().flagMask, 1u << 0);
    }
}

TEST(CommandStatusCamera, ChangesMadeOnTheCameraAreQueuedAndSignalled) {
    CommandStatusRig rig(Family::Alder);
    ASSERT_TRUE(rig.Open());
    rig.DrainChanges();
    rig.Get(24);
    win32::UniqueHandle statusEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_TRUE(rig.camera->EnableCameraEvent(kEventStatus, statusEvent.get()));
    EXPECT_EQ(rig.Get(46), 47);

    rig.WithModel([](CommandStatusModel& m) { m.ChangeValue(15, 77); });
    ASSERT_EQ(::WaitForSingleObject(statusEvent.get(), 3000), WAIT_OBJECT_0);
    EXPECT_EQ(rig.Get(4), 77);
    EXPECT_EQ(rig.Get(24) & 0x800, 0x800);
    EXPECT_EQ(rig.Get(46), 4);
    EXPECT_EQ(rig.Get(46), 47);

    rig.WithModel([](CommandStatusModel& m) { m.SetItemValue(cmdstat::kItem65Value, 1024); });
    ASSERT_TRUE(rig.WaitUntil([&] { return rig.Get(65) == 1024; }));
    EXPECT_EQ(rig.Get(24) & 0x8000, 0x8000);
}

TEST(CommandStatusCamera, MalformedStatusPacketsChangeNothing) {
    CommandStatusRig rig(Family::Alder);
    ASSERT_TRUE(rig.Open());
    rig.DrainChanges();
    const int before4 = rig.Get(4), before63 = rig.Get(63);
    std::vector<uint8_t> good(56, 0);
    std::memcpy(good.data(), ":CAM", 4);
    cmdstat::StoreU32(&good[12], 1u << 15);   // value 15 changed
    good[24 + 15] = 200;
    cmdstat::StoreU32(&good[16], cmdstat::kPacketItemsFollow);
    good.insert(good.end(), {cmdstat::kItem63Value, 2, 9, 0, 0, 0});
    std::vector<uint8_t> shortPacket(good.begin(), good.begin() + 55);
    std::vector<uint8_t> wrongTag = good;
    wrongTag[3] = 'N';
    std::vector<uint8_t> itemPastEnd(good.begin(), good.begin() + 56);
    itemPastEnd.insert(itemPastEnd.end(), {cmdstat::kItem63Value, 40, 1, 0});
    cmdstat::StoreU32(&itemPastEnd[12], 0);
    rig.WithModel([&](CommandStatusModel& m) {
        m.InjectStatus(shortPacket);
        m.InjectStatus(wrongTag);
        m.InjectStatus(itemPastEnd);
        m.InjectStatus({});
    });
    ASSERT_TRUE(rig.WaitStatusRead());
    EXPECT_EQ(rig.Get(4), before4);
    EXPECT_EQ(rig.Get(63), before63);
    EXPECT_EQ(rig.Get(46), 47);

    rig.WithModel([&](CommandStatusModel& m) { m.InjectStatus(good); });
    ASSERT_TRUE(rig.WaitUntil([&] { return rig.Get(4) == 200; }));
    EXPECT_EQ(rig.Get(63), 9);
}

TEST(CommandStatusCamera, InfoRecordsOfListsTextsAndModes) {
    CommandStatusRig rig(Family::Alder);
    std::vector<uint32_t> modes;
    for (uint32_t i = 0; i < 5; ++i) modes.push_back((480u + i) << 16 | 640u);
    rig.model.SetModes(modes, {0x1E0F, 0x1E, 0x0F, 0x05, 0x0A});
    ASSERT_TRUE(rig.Open());

    int32_t list[8] = {};
    list[1] = 0;
    ASSERT_EQ(rig.camera->GetInfo(8, list), ORVO_OK);
    EXPECT_EQ(list[0], 8);
    EXPECT_EQ(list[2], 2);
    EXPECT_EQ(list[3], 2);
    EXPECT_EQ(uint32_t(list[4]), 0x00020001u);
    list[1] = 2;
    EXPECT_EQ(rig.camera->GetInfo(8, list), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(list[0], -1);
    EXPECT_EQ(list[3], 2) << "total is written all the same";
    list[1] = 1;
    ASSERT_EQ(rig.camera->GetInfo(13, list), ORVO_OK);
    EXPECT_EQ(list[2], 2);
    EXPECT_EQ(list[4], 20);

    int32_t pairs[4 + 2 * 16] = {};
    pairs[1] = 2;
    ASSERT_EQ(rig.camera->GetInfo(10, pairs), ORVO_OK);
    EXPECT_EQ(pairs[2], 3);
    EXPECT_EQ(pairs[3], 5);
    EXPECT_EQ(uint32_t(pairs[4]), modes[2]);
    EXPECT_EQ(pairs[5], 0x0F);
    EXPECT_EQ(uint32_t(pairs[8]), modes[4]);
    ParamRange range{};
    ASSERT_EQ(rig.camera->GetParamRange(-1, 70, &range), ORVO_OK);
    EXPECT_EQ(range.max, 5);

    struct {
        int32_t id;
        int32_t index;
        wchar_t text[510];
    } text{};
    text.index = 7;
    ASSERT_EQ(rig.camera->GetInfo(9, &text), ORVO_OK);
    EXPECT_STREQ(text.text, L"Emulated");
    for (int index : {1, 256, -1}) {
        text.index = index;
        EXPECT_EQ(rig.camera->GetInfo(9, &text), ORVO_E_OUT_OF_RANGE) << index;
    }
    text.index = 1;
    ASSERT_EQ(rig.camera->GetInfo(14, &text), ORVO_OK);
    EXPECT_STREQ(text.text, L"Low light");
    text.index = 8;
    EXPECT_EQ(rig.camera->GetInfo(14, &text), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(rig.camera->SetInfo(8, list), ORVO_E_BAD_INFO);

    CommandStatusRig birch(Family::Birch, true);
    ASSERT_TRUE(birch.Open());
    EXPECT_EQ(birch.camera->GetInfo(10, pairs), ORVO_E_BAD_INFO);
    EXPECT_EQ(birch.camera->GetInfo(11, pairs), ORVO_E_BAD_INFO);
    uint8_t winUsb[8] = {};
    ASSERT_EQ(birch.camera->GetInfo(15, winUsb), ORVO_OK);
    EXPECT_EQ(winUsb[4], 1);
}

TEST(CommandStatusCamera, StoredBlocksAreReadAndWrittenInParts) {
    CommandStatusRig rig(Family::Alder);
    ASSERT_TRUE(rig.Open());
    struct Block {
        int32_t id;
        uint32_t tag;
        int32_t offset;
        int32_t total;
        uint8_t data[600];
    } block{};
    const auto expected = rig.WithModel([](CommandStatusModel& m) { return m.blocks.at(m.Tag("CALB")); });
    ASSERT_EQ(rig.camera->GetInfo(12, &block), ORVO_OK);
    EXPECT_EQ(block.id, 12);
    EXPECT_EQ(block.tag, CommandStatusModel::Tag("CALB"));
    EXPECT_EQ(block.total, 700);
    EXPECT_EQ(block.offset, 0);
    EXPECT_EQ(std::memcmp(block.data, expected.data() + 12, 512), 0);
    std::memset(block.data, 0, sizeof(block.data));
    ASSERT_EQ(rig.camera->GetInfo(12, &block), ORVO_OK);
    EXPECT_EQ(block.offset, 512);
    EXPECT_EQ(std::memcmp(block.data, expected.data() + 12 + 512, 188), 0);
    EXPECT_EQ(rig.camera->GetInfo(12, &block), ORVO_E_OUT_OF_RANGE) << "nothing after the end";
    EXPECT_EQ(block.offset, 512);

    Block write{};
    write.total = 20;
    for (int i = 0; i < 20; ++i) write.data[i] = uint8_t(0xC0 + i);
    ASSERT_EQ(rig.camera->SetInfo(11, &write), ORVO_OK);
    EXPECT_EQ(write.offset, 20);
    const auto stored = rig.WithModel([](CommandStatusModel& m) { return m.blocks.at(m.Tag("GUID")); });
    ASSERT_EQ(stored.size(), 32u);
    EXPECT_EQ(std::memcmp(stored.data(), "GUID", 4), 0);
    EXPECT_EQ(stored[12], 0xC0);
    EXPECT_EQ(stored[31], 0xC0 + 19);
    Block back{};
    ASSERT_EQ(rig.camera->GetInfo(11, &back), ORVO_OK);
    EXPECT_EQ(back.total, 20);
    EXPECT_EQ(std::memcmp(back.data, write.data, 20), 0);

    write.total = 0x10000;
    write.offset = 0;
    EXPECT_EQ(rig.camera->SetInfo(11, &write), ORVO_E_OUT_OF_RANGE);

    // Info 0 and 2: the camera's memory.
    struct {
        int32_t id;
        int32_t length;
        uint8_t data[16];
    } memory{2, 4, {1, 2, 3, 4}};
    ASSERT_EQ(rig.camera->SetInfo(2, &memory), ORVO_OK);
    memory = {};
    memory.length = 4;
    ASSERT_EQ(rig.camera->GetInfo(0, &memory), ORVO_OK);
    EXPECT_EQ(memory.data[3], 4);
}

TEST(CommandStatusCamera, BufferRulesRefuseSetsThatCannotHoldAFrame) {
    CommandStatusRig alder(Family::Alder);
    ASSERT_TRUE(alder.Open());
    int index = 9;
    EXPECT_EQ(alder.camera->CreateBuffer(0, 0, 0, 640, 480, 2, &index), ORVO_E_BAD_FORMAT);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(alder.camera->CreateBuffer(0, 1, 0, 800, 600, 2, &index), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(alder.camera->CreateBuffer(2, 1, 0, 640, 480, 2, &index), ORVO_E_BAD_BUFFER);
    EXPECT_EQ(alder.camera->CreateBuffer(1, 1, 0, 640, 480, 2, &index), ORVO_E_OUT_OF_RANGE)
        << "a still set smaller than the camera's frames";
    EXPECT_EQ(alder.camera->CreateBuffer(0, 1, 0, 640, 480, 2, &index), ORVO_OK);
    const int video = index;
    EXPECT_EQ(alder.camera->CreateBuffer(0, 1, 0, 1280, 720, 2, &index), ORVO_E_BUSY);
    EXPECT_EQ(alder.camera->DeleteBuffer(video), ORVO_OK);
    EXPECT_EQ(alder.camera->CreateBuffer(0, 1, 0, 1280, 720, 2, &index), ORVO_OK);
    EXPECT_EQ(alder.camera->CreateBuffer(1, 1, 0, 1280, 720, 1, &index), ORVO_OK);

    CommandStatusRig small(Family::Alder);
    small.model.SetFrameSize(640, 480);
    ASSERT_TRUE(small.Open());
    EXPECT_EQ(small.camera->CreateBuffer(0, 1, 0, 1280, 720, 2, &index), ORVO_E_OUT_OF_RANGE)
        << "larger than the staging frames";

    CommandStatusRig huge(Family::Alder);
    huge.model.SetModes({0xFFFFFFFFu}, {0x1E});   // a mode whose byte count overflows 32 bits
    ASSERT_TRUE(huge.Open());
    EXPECT_EQ(huge.camera->CreateBuffer(0, 1, 0, 0xFFFF, 0xFFFF, 2, &index), ORVO_E_OUT_OF_RANGE);

    CommandStatusRig birch(Family::Birch);
    ASSERT_TRUE(birch.Open());
    EXPECT_EQ(birch.camera->CreateBuffer(0, 1, 0, 320, 240, 2, &index), ORVO_E_OUT_OF_RANGE);
    EXPECT_EQ(birch.camera->CreateBuffer(0, 1, 0, 2000, 480, 2, &index), ORVO_E_OUT_OF_RANGE);
    ASSERT_EQ(birch.camera->CreateBuffer(0, 1, 0, 640, 360, 2, &index), ORVO_OK);
    ASSERT_EQ(birch.camera->UpdateParams(), ORVO_OK);
    const auto sent = birch.LastCommand();
    EXPECT_EQ(sent.valueMask, 1u << 12);
    EXPECT_EQ(sent.values[12], 4) << "640 x 360 is asked for through parameter 54";
    EXPECT_EQ(birch.camera->CreateBuffer(1, 1, 0, 1280, 720, 1, &index), ORVO_OK);
}

}  // namespace
