// The in-process device object over an emulated device, as camera unit tests
// will use it.
#include <gtest/gtest.h>

#include "emulator/model_device.h"
#include "emulator/model_factory.h"
#include "emulator/scripted_model.h"
#include "win32/unique_handle.h"

namespace orvo::emu {
namespace {

DeviceIdentity Identity(uint8_t subClass = 0) {
    DeviceIdentity id;
    id.vendorId = 0x2D4E;
    id.productId = 0x0007;
    id.release = 0x0102;
    id.subClass = subClass;
    id.product = L"In-process camera";
    id.serial = L"IP1";
    return id;
}

std::vector<uint8_t> Bytes(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 13 + (i >> 9));
    return bytes;
}

class Listener : public IDeviceListener {
public:
    void OnData(const uint8_t*, uint32_t) override {}
    void OnDeviceLost() override { ++lost; }
    void OnOpened() override { ++opened; }
    int lost = 0, opened = 0;
};

TEST(ModelDevice, IdentifiesAndOpensLikeAWinUsbDevice) {
    CScriptedUsbModel model(Identity(), PipeLayout{});
    CModelDevice device(model);
    ASSERT_TRUE(device.OpenDevice(L"any"));
    EXPECT_EQ(device.GetVendorId(), 0x2D4E);
    EXPECT_EQ(device.GetProductId(), 7);
    EXPECT_EQ(device.GetReleaseMajor(), 1);
    EXPECT_EQ(device.GetReleaseMinor(), 2);
    wchar_t product[32] = {};
    ASSERT_TRUE(device.GetProductString(31, product));
    EXPECT_STREQ(product, L"In-process camera");
    Listener listener;
    ASSERT_TRUE(device.Open(L"any", &listener));
    EXPECT_EQ(listener.opened, 1);
    EXPECT_FALSE(device.Open(L"any", &listener));
    EXPECT_EQ(device.IsIsochronous(), 0);
}

TEST(ModelDevice, CommandsAndResponsesInPieces) {
    CScriptedUsbModel model(Identity(0x83), PipeLayout{});
    CModelDevice device(model);
    ASSERT_TRUE(device.Open(L"any", nullptr));
    const auto command = Bytes(100, 1);
    ASSERT_TRUE(device.Write(command.data(), 100));
    ASSERT_EQ(model.Commands().size(), 2u);
    EXPECT_EQ(model.Commands()[1].size(), 36u);
    const auto response = Bytes(70, 2);
    model.QueueResponse({response.begin(), response.begin() + 64});
    model.QueueResponse({response.begin() + 64, response.end()});
    uint8_t got[128] = {};
    uint32_t n = 0;
    ASSERT_TRUE(device.ReadResponse(got, sizeof(got), &n));
    ASSERT_EQ(n, 70u);
    EXPECT_TRUE(std::equal(response.begin(), response.end(), got));
    EXPECT_FALSE(device.WaitResponse(&n, 10));  // nothing begun
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(device.BeginReadResponse(got, 8, event.get()));
    EXPECT_FALSE(device.WaitResponse(&n, 30));  // nothing comes
}

TEST(ModelDevice, BulkAndIsochronousFrames) {
    CScriptedUsbModel bulk(Identity(), PipeLayout{});
    CModelDevice bulkDevice(bulk);
    ASSERT_TRUE(bulkDevice.Open(L"any", nullptr));
    const auto frame = Bytes(300000, 3);
    bulk.QueueData(frame);
    std::vector<uint8_t> out(400000);
    uint32_t n = 0;
    ASSERT_TRUE(bulkDevice.ReadData(out.data(), 400000, &n));
    ASSERT_EQ(n, 300000u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin()));

    PipeLayout layout;
    layout.dataType = kPipeIsochronous;
    layout.bytesPerInterval = 1024;
    CScriptedUsbModel isoch(Identity(), layout);
    CModelDevice isochDevice(isoch);
    ASSERT_TRUE(isochDevice.Open(L"any", nullptr));
    EXPECT_EQ(isochDevice.IsIsochronous(), 1);
    const auto a = Bytes(5000, 4), b = Bytes(3000, 5);
    isoch.QueueIsochFrame(a, 6);
    isoch.QueueIsochFrame(b, 6);
    ASSERT_TRUE(isochDevice.ReadData(out.data(), 4500, &n));  // ends inside a packet
    EXPECT_EQ(n, 4500u);
    ASSERT_TRUE(isochDevice.ReadData(out.data(), 10000, &n));  // the rest, then the gap
    EXPECT_EQ(n, 500u);
    EXPECT_TRUE(std::equal(a.begin() + 4500, a.end(), out.begin()));
    ASSERT_TRUE(isochDevice.ReadData(out.data(), 10000, &n));
    EXPECT_EQ(n, 3000u);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), out.begin()));
}

TEST(ModelDevice, FaultsReachTheCaller) {
    CScriptedUsbModel model(Identity(), PipeLayout{});
    CModelDevice device(model);
    Listener listener;
    ASSERT_TRUE(device.Open(L"any", &listener));
    model.Faults().Add(kCommandEndpoint, {FaultKind::Stall, 0});
    const uint8_t command[4] = {};
    EXPECT_FALSE(device.Write(command, 4));
    EXPECT_EQ(listener.lost, 1);
    EXPECT_FALSE(device.Write(command, 4));
    EXPECT_EQ(listener.lost, 1);
    device.Close();
    ASSERT_TRUE(device.Open(L"any", &listener));
    model.Faults().Add(kDataEndpoint, {FaultKind::Short, 1000});
    model.QueueData(Bytes(5000, 6));
    std::vector<uint8_t> out(5000);
    uint32_t n = 0;
    ASSERT_TRUE(device.ReadData(out.data(), 5000, &n));
    EXPECT_EQ(n, 1000u);
    model.Faults().Add(0, {FaultKind::Stall, 0});
    uint8_t in[4];
    EXPECT_FALSE(device.ControlIn(2, 0, 1, 0, 0, in, 4));
    model.Unplug();
    EXPECT_FALSE(device.ReadData(out.data(), 10, &n));
    EXPECT_FALSE(device.OpenDevice(L"any"));
}

TEST(ModelFactory, DescriptionsBuildModels) {
    const DeviceSettings settings = ParseDeviceSettings(
        "# a camera\r\nmodel=scripted\nvid=0x2D4E\npid=12\nproduct=From text\nendpoints=2\n=skipped\nnoequals\n");
    EXPECT_EQ(settings.size(), 5u);
    auto model = CreateModel(settings);
    ASSERT_TRUE(model);
    uint8_t descriptor[18];
    model->DeviceDescriptor(descriptor);
    EXPECT_EQ(descriptor[10], 12);
    EXPECT_EQ(model->Settings()[1].endpoints.size(), 2u);
    EXPECT_FALSE(CreateModel({{"model", "unknown-kind"}}));
    EXPECT_EQ(ParseDeviceSettings(FormatDeviceSettings(settings)), settings);
}

}  // namespace
}  // namespace orvo::emu
