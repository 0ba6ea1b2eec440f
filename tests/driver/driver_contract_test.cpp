// The driver's I/O control contract, pipe files, cached strings, start-up
// failures and pipe recovery.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "tests/driver/driver_fixture.h"

extern "C" {
extern const GUID* const orvoDriverInterfaceClass;
extern const ULONG orvoDriverIoctls[6];
extern const ULONG orvoDriverLayouts[8];
}

namespace orvo::test {
namespace {

DWORD ErrorOf(NTSTATUS status) { return kmdf::CIoManager::Win32Error(status); }

// The driver's public header and the library's view of the contract agree.
TEST(DriverPublicHeader, AgreesWithTheLibrary) {
    EXPECT_EQ(std::memcmp(orvoDriverInterfaceClass, &orvo::kOrvoUsbInterfaceClass, sizeof(GUID)), 0);
    const DWORD codes[6] = {orvo::IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR, orvo::IOCTL_ORVOUSB_RESET_DEVICE,
                            orvo::IOCTL_ORVOUSB_RESET_PIPE, orvo::IOCTL_ORVOUSB_GET_DESCRIPTOR,
                            orvo::IOCTL_ORVOUSB_CONTROL_IN, orvo::IOCTL_ORVOUSB_CONTROL_OUT};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(orvoDriverIoctls[i], codes[i]) << i;
    const ULONG layouts[8] = {sizeof(OrvoUsbDescriptorRequest), offsetof(OrvoUsbDescriptorRequest, index),
                              offsetof(OrvoUsbDescriptorRequest, languageId), sizeof(OrvoUsbControlRequest),
                              offsetof(OrvoUsbControlRequest, recipient), offsetof(OrvoUsbControlRequest, request),
                              offsetof(OrvoUsbControlRequest, value), offsetof(OrvoUsbControlRequest, index)};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(orvoDriverLayouts[i], layouts[i]) << i;
}

class ContractTest : public DriverTest {
public:
    Result Descriptor(HANDLE file, uint8_t type, uint8_t index, uint16_t language, void* out, DWORD outLength) {
        const OrvoUsbDescriptorRequest request{type, index, language};
        return Ioctl(file, orvo::IOCTL_ORVOUSB_GET_DESCRIPTOR, &request, sizeof(request), out, outLength);
    }
    Result Control(HANDLE file, DWORD code, uint8_t type, uint8_t recipient, uint8_t request, void* data,
                   DWORD length) {
        const OrvoUsbControlRequest setup{type, recipient, 0, request, 0x1234, 0x0002};
        return Ioctl(file, code, &setup, sizeof(setup), data, length);
    }
    // Waits for the recovery work item to have reset something.
    bool WaitCalls(const char* routine, unsigned count) {
        for (int i = 0; i < 2000; ++i) {
            if (host->Verifier().Calls(routine) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void TearDown() override {
        if (host) {
            host->Remove();
            EXPECT_VERIFIER_CLEAN();
        }
        DriverTest::TearDown();
    }
};

TEST_F(ContractTest, PipeFilesBindByTheirLastDigitsAndRefuseWhatIsNotAPipe) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    const std::wstring path = host->InterfacePath();
    EXPECT_NE(OpenName(path + L"\\\\.\\orvoUsb1"), INVALID_HANDLE_VALUE);
    EXPECT_NE(OpenName(path + L"\\pipe002x"), INVALID_HANDLE_VALUE);  // the last run of digits counts
    for (const wchar_t* name : {L"\\\\.\\orvoUsb12", L"\\\\.\\orvoUsb3", L"\\\\.\\orvoUsb", L"\\\\.\\orvoUsb256",
                                L"\\\\.\\orvoUsb4294967298"}) {
        EXPECT_EQ(OpenName(path + name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(::GetLastError(), ErrorOf(STATUS_INVALID_DEVICE_REQUEST)) << name;
    }
}

TEST_F(ContractTest, DescriptorsConfigurationAndStrings) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE device = Open(-1);
    uint8_t descriptor[32] = {};
    Result r = Descriptor(device, 1, 0, 0, descriptor, 18);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.bytes, 18u);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x2D4E);
    EXPECT_FALSE(Descriptor(device, 1, 0, 0, descriptor, 17).ok);

    uint8_t config[256] = {};
    r = Ioctl(device, orvo::IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR, nullptr, 0, config, 9);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 9u);
    const DWORD total = config[2] | config[3] << 8;
    r = Ioctl(device, orvo::IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR, nullptr, 0, config, sizeof(config));
    EXPECT_EQ(r.bytes, total);
    EXPECT_EQ(Ioctl(device, orvo::IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR, nullptr, 0, nullptr, 0).error,
              ErrorOf(STATUS_INVALID_PARAMETER));

    // The length first, then the whole string, as the library asks.
    uint8_t header[4] = {};
    r = Descriptor(device, 3, 2, 0x0409, header, 4);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 4u);
    EXPECT_EQ(header[0], 2 + 2 * 11);  // "Test camera"
    EXPECT_EQ(header[1], 3);
    std::vector<uint8_t> whole(header[0]);
    r = Descriptor(device, 3, 2, 0x0409, whole.data(), DWORD(whole.size()));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, whole.size());
    EXPECT_TRUE(whole == emu::MakeStringDescriptor(L"Test camera"));
    // Too small for the characters: a warning, nothing beyond the buffer.
    std::vector<uint8_t> small(10, 0xEE);
    r = Descriptor(device, 3, 2, 0x0409, small.data(), 8);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrorOf(STATUS_BUFFER_OVERFLOW));
    EXPECT_EQ(small[8], 0xEE);
    EXPECT_EQ(small[9], 0xEE);
    EXPECT_EQ(Descriptor(device, 2, 0, 0, descriptor, 18).error, ErrorOf(STATUS_INVALID_PARAMETER));
    EXPECT_EQ(Ioctl(device, orvo::IOCTL_ORVOUSB_GET_DESCRIPTOR, descriptor, 3, descriptor, 18).error,
              ErrorOf(STATUS_INVALID_PARAMETER));
}

TEST_F(ContractTest, OneToThreeByteStringOutputsGetNothing) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE device = Open(-1);
    for (DWORD length = 1; length <= 3; ++length) {
        uint8_t out[8];
        std::fill(std::begin(out), std::end(out), 0xEE);
        const Result r = Descriptor(device, 3, 2, 0x0409, out, length);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, ErrorOf(STATUS_BUFFER_TOO_SMALL));
        EXPECT_EQ(r.bytes, 0u);
        EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](uint8_t b) { return b == 0xEE; })) << length;
    }
}

TEST_F(ContractTest, CachedStringsNeedNoDeviceAndAnUnansweredStringTimesOut) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE device = Open(-1);
    // The device would stall whatever it is asked now.
    camera->Faults().Add(0, {emu::FaultKind::Stall, 0});
    uint8_t out[64] = {};
    for (uint8_t index : {0, 1, 2, 3}) EXPECT_TRUE(Descriptor(device, 3, index, 0x0409, out, sizeof(out)).ok);
    EXPECT_FALSE(Descriptor(device, 3, 2, 0x0407, out, sizeof(out)).ok);  // another language asks the device
    camera->Faults().Clear();
    // A string the device never answers ends with the control time-out.
    camera->Faults().Add(0, {emu::FaultKind::Timeout, 0});
    const auto start = std::chrono::steady_clock::now();
    const Result r = Descriptor(device, 3, 7, 0x0409, out, sizeof(out));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrorOf(STATUS_IO_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(ContractTest, ControlTransfers) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE device = Open(-1);
    camera->SetControlAnswer(0x42, {1, 2, 3, 4, 5});
    uint8_t in[8] = {};
    Result r = Control(device, orvo::IOCTL_ORVOUSB_CONTROL_IN, 2, 0, 0x42, in, 5);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.bytes, 5u);
    EXPECT_EQ(in[4], 5);
    uint8_t outData[3] = {9, 8, 7};
    r = Control(device, orvo::IOCTL_ORVOUSB_CONTROL_OUT, 1, 1, 0x43, outData, 3);
    ASSERT_TRUE(r.ok) << r.error;
    const auto records = camera->ControlRequests();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().setup.requestType, 0x21);  // host-to-device, class, interface
    EXPECT_EQ(records.back().setup.request, 0x43);
    EXPECT_EQ(records.back().setup.value, 0x1234);
    EXPECT_EQ(records.back().setup.length, 3);

    EXPECT_EQ(Control(device, orvo::IOCTL_ORVOUSB_CONTROL_IN, 0, 0, 6, in, 4).error,
              ErrorOf(STATUS_INVALID_PARAMETER));  // standard requests are not passed through
    EXPECT_EQ(Control(device, orvo::IOCTL_ORVOUSB_CONTROL_IN, 2, 4, 6, in, 4).error, ErrorOf(STATUS_INVALID_PARAMETER));
    std::vector<uint8_t> big(65536);
    EXPECT_EQ(Control(device, orvo::IOCTL_ORVOUSB_CONTROL_IN, 2, 0, 0x42, big.data(), DWORD(big.size())).error,
              ErrorOf(STATUS_INVALID_PARAMETER));  // wLength is 16 bits
    EXPECT_EQ(Ioctl(device, 0x220300, nullptr, 0, nullptr, 0).error, ErrorOf(STATUS_INVALID_DEVICE_REQUEST));
    EXPECT_EQ(Ioctl(device, orvo::IOCTL_ORVOUSB_RESET_PIPE, nullptr, 0, nullptr, 0).error,
              ErrorOf(STATUS_INVALID_PARAMETER));
    EXPECT_TRUE(Ioctl(device, orvo::IOCTL_ORVOUSB_RESET_DEVICE, nullptr, 0, nullptr, 0).ok);
}

TEST_F(ContractTest, NoMaximumTransferSizeNoDevice) {
    kmdf::HostOptions options;
    options.maximumTransferSize.reset();
    EXPECT_EQ(StartHost(options), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(host->Started());
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(ContractTest, AFailureAtEachPrepareHardwareStepFailsTheStartCleanly) {
    for (const char* routine : {"WdfUsbTargetDeviceCreate", "WdfUsbTargetDeviceRetrieveConfigDescriptor",
                                "WdfUsbTargetDeviceSelectConfig", "WdfUsbTargetDeviceRetrieveInformation",
                                "WdfDeviceCreate", "WdfIoQueueCreate", "WdfDeviceCreateDeviceInterface"}) {
        camera = MakeCamera();
        host = std::make_unique<kmdf::CDriverHost>(*camera, kmdf::HostOptions{&DriverEntry, 65536});
        host->Verifier().FailAt(routine, 1, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(host->Start(), STATUS_INSUFFICIENT_RESOURCES) << routine;
        EXPECT_VERIFIER_CLEAN() << routine;
        host.reset();
    }
    // The configuration's memory: the second WdfMemoryCreate after the
    // descriptor's size query.
    camera = MakeCamera();
    host = std::make_unique<kmdf::CDriverHost>(*camera, kmdf::HostOptions{&DriverEntry, 65536});
    host->Verifier().FailAt("WdfMemoryCreate", 1, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(host->Start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_VERIFIER_CLEAN();
    host.reset();
    // Strings are optional: a failed string query still starts the device.
    camera = MakeCamera();
    host = std::make_unique<kmdf::CDriverHost>(*camera, kmdf::HostOptions{&DriverEntry, 65536});
    host->Verifier().FailAt("WdfUsbTargetDeviceQueryString", 1, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(host->Start(), STATUS_SUCCESS);
}

TEST_F(ContractTest, IsochronousPipesAreNotRead) {
    emu::DeviceIdentity identity;
    identity.vendorId = 0x2D4E;
    identity.productId = 0x0308;
    emu::PipeLayout layout;
    layout.dataType = emu::kPipeIsochronous;
    camera = std::make_unique<emu::CScriptedUsbModel>(identity, layout);
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    uint8_t buffer[64];
    EXPECT_EQ(Read(data, buffer, sizeof(buffer)).error, ErrorOf(STATUS_INVALID_DEVICE_REQUEST));
}

TEST_F(ContractTest, AStallFailsTheReadAndRecoveryResetsThePipeForTheNext) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    std::vector<uint8_t> buffer(1000000);
    // Single URB.
    camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Stall, 0});
    Result r = Read(data, buffer.data(), 1000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrorOf(STATUS_UNSUCCESSFUL));
    ASSERT_TRUE(WaitCalls("WdfUsbTargetPipeResetSynchronously", 1));
    camera->QueueData(Pattern(1000, 1));
    r = Read(data, buffer.data(), 1000);
    EXPECT_TRUE(r.ok) << r.error;

    // Staged: the second piece stalls; the stages behind it are not left
    // waiting for a frame that never comes.
    camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::None, 0});
    camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Stall, 0});
    camera->QueueData(Pattern(1000000, 2));
    r = Read(data, buffer.data(), 1000000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrorOf(STATUS_UNSUCCESSFUL));
    ASSERT_TRUE(WaitCalls("WdfUsbTargetPipeResetSynchronously", 2));
    const std::vector<uint8_t> frame = Pattern(1000000, 3);
    while (camera->QueuedDataBytes()) {
        std::vector<uint8_t> drain(kStage);
        Read(data, drain.data(), kStage);
    }
    camera->QueueData(frame);
    r = Read(data, buffer.data(), 1000000);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(buffer == frame);

    // When the pipe reset fails, the port is reset.
    host->Verifier().FailAt("WdfUsbTargetPipeResetSynchronously", 1, STATUS_UNSUCCESSFUL);
    camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Stall, 0});
    EXPECT_FALSE(Read(data, buffer.data(), 1000).ok);
    EXPECT_TRUE(WaitCalls("WdfUsbTargetDeviceResetPortSynchronously", 1));
}

}  // namespace
}  // namespace orvo::test
