// orvoApi.dll seen as a client sees it: loaded by name, exports looked up.
#include <gtest/gtest.h>

#include "camera_api/api/orvo_api_client.h"
#include "support/child_process.h"

namespace {

const char* const kExportsInOrdinalOrder[] = {
    "orvo_GetApiVersion",  "orvo_SetClientApiVersion", "orvo_InitializeApi",   "orvo_GetNumDevices",
    "orvo_GetDeviceList",  "orvo_EnableApiEvent",      "orvo_Open",            "orvo_Close",
    "orvo_EnableCameraEvent", "orvo_GetInfo",          "orvo_SetInfo",         "orvo_CreateBuffer",
    "orvo_DeleteBuffer",   "orvo_SetPalette",          "orvo_GetFrame",        "orvo_ReleaseFrame",
    "orvo_GetParam",       "orvo_GetParamRange",       "orvo_SetParam",        "orvo_SetFramePos",
    "orvo_UpdateParams",   "orvo_StartCapture",        "orvo_StopCapture",     "orvo_IsParamSupported"};

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(api.Load()) << "orvoApi.dll not found beside the test"; }
    orvo::OrvoApiClient api;
};

TEST_F(ExportsTest, NamesAndOrdinalsMatchTheModuleDefinition) {
    for (int ordinal = 1; ordinal <= 24; ++ordinal) {
        const char* name = kExportsInOrdinalOrder[ordinal - 1];
        FARPROC byName = ::GetProcAddress(api.module(), name);
        FARPROC byOrdinal = ::GetProcAddress(api.module(), MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(byName, nullptr) << name << " is not exported undecorated";
        EXPECT_EQ(byName, byOrdinal) << name << " is not ordinal " << ordinal;
    }
    EXPECT_EQ(::GetProcAddress(api.module(), MAKEINTRESOURCEA(25)), nullptr);
}

// One test, in order: the library is a process-wide singleton, so the calls
// that must not initialise are checked before the first that does.
TEST_F(ExportsTest, LibraryLevelContract) {
    ApiVersion version{9, 9, 9};
    EXPECT_EQ(api.orvo_GetApiVersion(&version), ORVO_OK);
    EXPECT_EQ(version.major, 3u);
    EXPECT_EQ(version.minor, 7u);
    EXPECT_EQ(version.build, 0u);
    EXPECT_EQ(api.orvo_SetClientApiVersion(&version), ORVO_OK);

    // Before initialisation: open and the parameter query do not initialise.
    int handle = 77;
    EXPECT_EQ(api.orvo_Open(1, &handle), ORVO_E_NOT_FOUND);
    EXPECT_EQ(api.orvo_IsParamSupported(1, 0), ORVO_E_FAIL);
    EXPECT_EQ(api.orvo_Close(1), ORVO_E_FAIL);

    // Pointer checks of the calls that make them.
    EXPECT_EQ(api.orvo_GetNumDevices(nullptr), ORVO_E_FAIL);
    DeviceEntry entries[2];
    EXPECT_EQ(api.orvo_GetDeviceList(sizeof(entries), entries, nullptr), ORVO_E_FAIL);

    // The device count initialises the library.
    int count = -1;
    EXPECT_EQ(api.orvo_GetNumDevices(&count), ORVO_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(api.orvo_InitializeApi(), ORVO_OK);
    EXPECT_EQ(api.orvo_InitializeApi(), ORVO_OK);

    count = -1;
    EXPECT_EQ(api.orvo_GetDeviceList(sizeof(entries), entries, &count), ORVO_E_NO_DEVICES);
    EXPECT_EQ(api.orvo_GetDeviceList(119, entries, &count), ORVO_E_NO_DEVICES)
        << "the empty table is reported before the capacity is looked at";

    EXPECT_EQ(api.orvo_EnableApiEvent(1, nullptr), ORVO_E_BAD_INDEX);
    EXPECT_EQ(api.orvo_EnableApiEvent(0, nullptr), ORVO_OK);

    EXPECT_EQ(api.orvo_Open(12345, nullptr), ORVO_E_UNSUPPORTED);
    handle = 77;
    EXPECT_EQ(api.orvo_Open(12345, &handle), ORVO_E_NOT_FOUND);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(api.orvo_IsParamSupported(12345, 0), ORVO_E_NOT_FOUND);
}

TEST_F(ExportsTest, CameraExportsRefuseUnknownHandles) {
    api.orvo_InitializeApi();
    int value = 0;
    int index = 0;
    FrameDesc frame{};
    ParamRange range{};
    int info[16] = {};
    for (int handle : {0, 1, -1, 1000}) {
        EXPECT_EQ(api.orvo_Close(handle), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_EnableCameraEvent(handle, 0, nullptr), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_GetInfo(handle, 0, info), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_SetInfo(handle, 2, info), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_CreateBuffer(handle, 0, 1, 0, 640, 480, 4, &index), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_DeleteBuffer(handle, 0), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_SetPalette(handle, 0, nullptr), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_GetFrame(handle, 0, &index, &frame), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_ReleaseFrame(handle, 0, 0), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_GetParam(handle, -1, 24, &value), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_GetParamRange(handle, -1, 24, &range), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_SetParam(handle, -1, 24, &value), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_SetFramePos(handle, 0, 0, 0), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_UpdateParams(handle), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_StartCapture(handle, 0), ORVO_E_BAD_HANDLE);
        EXPECT_EQ(api.orvo_StopCapture(handle), ORVO_E_BAD_HANDLE);
    }
}

// The API mutex is shared by every process of the session: one that dies
// holding it must not lock the others out, one that keeps it makes them give
// up after the time-out with a clear failure.
TEST_F(ExportsTest, ApiMutexAbandonedOrHeldByAnotherProcess) {
    ASSERT_EQ(api.orvo_InitializeApi(), ORVO_OK);
    const std::wstring peer = orvo::test::ExeFolder() + L"camera_api_table_peer.exe";
    const std::wstring suffix = orvo::test::UniqueName(L"m");
    int count = -1;

    orvo::test::ChildProcess dies;
    ASSERT_TRUE(dies.Start(peer, suffix + L" hold-mutex|ORVO_API_MUTEX|0"));
    ASSERT_EQ(dies.Wait(), 0);
    ASSERT_NE(dies.Output().find("held=1"), std::string::npos);
    EXPECT_EQ(api.orvo_GetNumDevices(&count), ORVO_OK);
    EXPECT_EQ(count, 0);

    orvo::test::ChildProcess keeps;
    ASSERT_TRUE(keeps.Start(peer, suffix + L" hold-mutex|ORVO_API_MUTEX|11000"));
    ::Sleep(500);   // let it take the mutex
    EXPECT_EQ(api.orvo_GetNumDevices(&count), ORVO_E_FAIL);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(keeps.Wait(), 0);
    EXPECT_EQ(api.orvo_GetNumDevices(&count), ORVO_OK);
}

TEST(ResultCodes, CarryTheVendorIdAndTheErrorNumber) {
    EXPECT_EQ(static_cast<uint32_t>(ORVO_E_FAIL), 0x80000000u | (uint32_t{ORVO_VENDOR_ID} << 12));
    EXPECT_EQ(static_cast<uint32_t>(ORVO_E_WRITE_ONLY) & 0xFFFu, 0x17u);
    EXPECT_EQ(static_cast<uint32_t>(ORVO_E_CONFLICT) & 0xFFFu, 0x15u);
    EXPECT_LT(ORVO_E_FAIL, 0);
}

}  // namespace
