// The emulated sensor camera at the wire: the library's packet and echo
// logic against the model.
#include <gtest/gtest.h>

#include "camera_api/cameras/sensor/sensor_registers.h"
#include "tests/cameras/sensor_registers_bridge.h"
#include "emulator/sensor/sensor_model.h"

namespace orvo {
namespace {

using emu::UsbStatus;

class SensorModelTest : public ::testing::Test {
protected:
    SensorModelTest() : model(emu::DeviceIdentity{}) {}

    void Send(const std::vector<uint8_t>& packet) {
        uint32_t moved = 0;
        ASSERT_EQ(model.WriteOut(emu::kCommandEndpoint, packet.data(), static_cast<uint32_t>(packet.size()), &moved),
                  UsbStatus::Ok);
    }
    std::vector<uint8_t> Read(uint8_t endpoint, uint32_t length) {
        std::vector<uint8_t> out(length);
        uint32_t moved = 0;
        if (model.ReadIn(endpoint, out.data(), length, &moved) != UsbStatus::Ok) return {};
        out.resize(moved);
        return out;
    }
    // A frame is read out for a frame time before the data pipe has it.
    std::vector<uint8_t> ReadFrame() {
        for (int polls = 0; polls < 1000; ++polls, ::Sleep(5)) {
            std::vector<uint8_t> frame = Read(emu::kDataEndpoint, 4u << 20);
            if (!frame.empty()) return frame;
        }
        return {};
    }
    emu::CSensorUsbModel model;
};

TEST_F(SensorModelTest, RegisterDumpRunsAndEchoes) {
    // The registers asked for, in blocks of 64: the camera answers what the
    // run headers name, nothing for a body that names nothing.
    Send(SensorPacket(kOpReadRegisters));
    EXPECT_TRUE(Read(emu::kResponseEndpoint, 512).empty());
    const uint8_t two[] = {0x04, 0xFE};
    Send(SensorPacket(kOpReadRegisters, two, sizeof two));
    const std::vector<uint8_t> tail = Read(emu::kResponseEndpoint, 512);
    ASSERT_EQ(tail.size(), 4u);
    EXPECT_EQ(tail[2] << 8 | tail[3], kChipVersion) << "register 0xFF mirrors the chip version";
    const uint8_t blocks[] = {0x80, 0x00, 0x80, 0x40, 0x80, 0x80, 0x80, 0xC0};
    Send(SensorPacket(kOpReadRegisters, blocks, sizeof blocks));
    const std::vector<uint8_t> dump = Read(emu::kResponseEndpoint, 512);
    SensorRegisters confirmed;
    ASSERT_TRUE(ParseRegisterDump(dump.data(), dump.size(), confirmed));
    EXPECT_EQ(confirmed.value[kRegChipVersion], kChipVersion);
    EXPECT_EQ(confirmed.value[kRegChipVersionMirror], kChipVersion);

    SensorRegisters desired = confirmed;
    desired.value[kRegVerticalBlanking] = 77;
    desired.value[kRegShutterHigh] = 1;
    desired.value[kRegShutterLow] = 2;
    std::vector<uint8_t> runs;
    ASSERT_EQ(AppendChangedRuns(desired, confirmed, runs), 3);
    std::vector<uint8_t> packet = SensorPacket(kOpUpdateRegisters, runs.data(), runs.size());
    Send(packet);
    std::vector<uint8_t> echo = Read(emu::kResponseEndpoint, 64);
    ASSERT_TRUE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size(), confirmed));
    EXPECT_EQ(confirmed.value[kRegVerticalBlanking], 77);
    EXPECT_EQ(model.Registers().value[kRegShutterLow], 2);

    // A wrong echo is caught and confirms nothing.
    desired.value[kRegVerticalBlanking] = 78;
    runs.clear();
    AppendChangedRuns(desired, confirmed, runs);
    model.CorruptNextEchoes(1);
    Send(SensorPacket(kOpUpdateRegisters, runs.data(), runs.size()));
    echo = Read(emu::kResponseEndpoint, 64);
    EXPECT_FALSE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size(), confirmed));
    EXPECT_EQ(confirmed.value[kRegVerticalBlanking], 77);

    // The chip version cannot be written: its echo differs.
    desired = confirmed;
    desired.value[kRegChipVersion] = 0x1234;
    runs.clear();
    AppendChangedRuns(desired, confirmed, runs);
    Send(SensorPacket(kOpWriteRegistersNow, runs.data(), runs.size()));
    echo = Read(emu::kResponseEndpoint, 64);
    EXPECT_FALSE(ConfirmEcho(runs.data(), runs.size(), echo.data(), echo.size(), confirmed));
}

TEST_F(SensorModelTest, FramesFollowTheWindowAndCanBeShort) {
    SensorRegisters regs = test::AsLibrary(model.Registers()), desired = regs;
    desired.value[kRegColumnSize] = 2 * (320 + 8) - 1;
    desired.value[kRegRowSize] = 2 * (240 + 8) - 1;
    desired.value[kRegColumnAddressMode] = desired.value[kRegRowAddressMode] = 0x11;
    std::vector<uint8_t> runs;
    AppendChangedRuns(desired, regs, runs);
    std::vector<uint8_t> packet = SensorPacket(kOpFrameWithRegisters);
    AppendBigEndian32(packet, 0);
    packet.insert(packet.end(), runs.begin(), runs.end());
    Send(packet);  // this frame still has the full sensor
    EXPECT_TRUE(Read(emu::kDataEndpoint, 4u << 20).empty()) << "no frame before its frame time";
    EXPECT_EQ(ReadFrame().size(), 1288u * 1032u);
    EXPECT_FALSE(Read(emu::kResponseEndpoint, 64).empty());
    std::vector<uint8_t> request = SensorPacket(kOpFrame);
    AppendBigEndian32(request, 328 * 248);
    Send(request);
    EXPECT_EQ(ReadFrame().size(), 328u * 248u);
    model.ShortenNextFrames(1);
    Send(request);
    EXPECT_EQ(ReadFrame().size(), 328u * 248u / 2);
    // Stopping the stream drops a frame nobody read.
    Send(request);
    Send(SensorPacket(kOpStopStream));
    ::Sleep(200);
    EXPECT_TRUE(Read(emu::kDataEndpoint, 4u << 20).empty());
}

TEST_F(SensorModelTest, MemoryReadsContinueAndWritesMoveThePosition) {
    model.SetPreset1(900, 1100);
    emu::SetupPacket at{0xC0, emu::plum::kMemoryReadAt, emu::plum::kMemoryValue, 0x3000, 8};
    uint8_t buffer[255] = {};
    uint32_t moved = 0;
    ASSERT_EQ(model.Control(at, buffer, 8, &moved), UsbStatus::Ok);
    EXPECT_EQ(0, memcmp(buffer, "LiWb", 4));
    emu::SetupPacket on{0xC0, emu::plum::kMemoryReadOn, emu::plum::kMemoryValue, 0, 4};
    ASSERT_EQ(model.Control(on, buffer, 4, &moved), UsbStatus::Ok);
    int32_t blue = 0;
    memcpy(&blue, buffer, 4);
    EXPECT_EQ(blue, 1100);
    uint8_t write[] = {0x30, 0x60, 1, 2, 3};
    emu::SetupPacket out{0x40, emu::plum::kMemoryWrite, emu::plum::kMemoryValue, 0, 5};
    ASSERT_EQ(model.Control(out, write, 5, &moved), UsbStatus::Ok);
    EXPECT_EQ(model.Memory(0x3060, 3), (std::vector<uint8_t>{1, 2, 3}));
    // Out of range or oversized requests stall and change nothing.
    emu::SetupPacket beyond{0xC0, emu::plum::kMemoryReadAt, emu::plum::kMemoryValue, 0x4000, 4};
    EXPECT_EQ(model.Control(beyond, buffer, 4, &moved), UsbStatus::Stall);
    EXPECT_EQ(model.Control(at, buffer, 300, &moved), UsbStatus::Stall);
    // Writing and reading on carry no address in the index.
    out.index = 0x3060;
    write[2] = 9;
    EXPECT_EQ(model.Control(out, write, 5, &moved), UsbStatus::Stall);
    EXPECT_EQ(model.Memory(0x3060, 1), (std::vector<uint8_t>{1}));
    on.index = 4;
    EXPECT_EQ(model.Control(on, buffer, 4, &moved), UsbStatus::Stall);
}

TEST(SensorModelSettings, DescribedModelKeepsIdentityAndLight) {
    auto model = emu::CSensorUsbModel::FromSettings({{"vid", "0x1c2d"}, {"pid", "0x0010"}, {"illumination", "bad"}});
    uint8_t descriptor[18] = {};
    model->DeviceDescriptor(descriptor);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x1c2d);
    EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x0010);
    EXPECT_EQ(model->Registers().value[kRegChipVersion], kChipVersion);
}

}  // namespace
}  // namespace orvo
