// The agent's camera list against a fake library and a fake capture source:
// registration, naming, bookkeeping values, broadcasts and stale clean-up.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>
#include <objbase.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "watchdog/agent/bookkeeping.h"
#include "watchdog/agent/camera_list.h"
#include "watchdog/common/bitness.h"
#include "watchdog/common/names.h"
#include "win32/unique_reg_key.h"

namespace orvo::watchdog {
namespace {

// --- fakes ------------------------------------------------------------------
struct FakeWorld {
    std::vector<DeviceEntry> devices;
    bool failCount = false;
    std::map<std::wstring, std::wstring> registered;  // CLSID string -> name
    std::vector<GUID> kinds;
    int failRegistrations = 0;
    bool failUnregister = false;
    std::vector<std::wstring> unregistered;
};
FakeWorld* g_world = nullptr;

std::wstring ClsidString(const GUID& clsid) {
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

int32_t ORVO_CALL FakeGetNumDevices(int* count) {
    if (g_world->failCount) return ORVO_E_FAIL;
    *count = static_cast<int>(g_world->devices.size());
    return ORVO_OK;
}
int32_t ORVO_CALL FakeGetDeviceList(uint32_t bytes, DeviceEntry* entries, int* count) {
    const size_t fit = std::min<size_t>(bytes / sizeof(DeviceEntry), g_world->devices.size());
    std::memcpy(entries, g_world->devices.data(), fit * sizeof(DeviceEntry));
    *count = static_cast<int>(fit);
    return ORVO_OK;
}
HRESULT STDAPICALLTYPE FakeInitialize() { return S_OK; }
HRESULT STDAPICALLTYPE FakeRegister(const GUID* clsid, const GUID* kind, UINT32, const wchar_t* name) {
    if (g_world->failRegistrations > 0) {
        --g_world->failRegistrations;
        return E_ACCESSDENIED;
    }
    g_world->registered[ClsidString(*clsid)] = name;
    g_world->kinds.push_back(*kind);
    return S_OK;
}
HRESULT STDAPICALLTYPE FakeUnregister(const GUID* clsid) {
    if (g_world->failUnregister) return E_FAIL;
    g_world->unregistered.push_back(ClsidString(*clsid));
    g_world->registered.erase(ClsidString(*clsid));
    return S_OK;
}

DeviceEntry Camera(int id, int model, const wchar_t* product, bool inUse = false) {
    DeviceEntry e{};
    e.deviceId = id;
    e.model = model;
    e.inUse = inUse ? 1 : 0;
    wcsncpy(e.product, product, 31);
    return e;
}

// Broadcasts reach this thread's own top-level window directly.
class BroadcastListener {
public:
    BroadcastListener() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"CameraListTestListener";
        RegisterClassW(&wc);
        m_window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   wc.hInstance, nullptr);
        Events().clear();
    }
    ~BroadcastListener() { DestroyWindow(m_window); }
    static std::vector<WPARAM>& Events() {
        static std::vector<WPARAM> events;
        return events;
    }

private:
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_DEVICECHANGE && lp) {
            auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
            if (record->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE && IsEqualGUID(record->dbcc_classguid, kMediaClass))
                Events().push_back(wp);
        }
        return DefWindowProcW(w, m, wp, lp);
    }
    HWND m_window;
};

std::map<std::wstring, BookkeepingEntry> BookkeepingValues() {
    std::map<std::wstring, BookkeepingEntry> values;
    win32::UniqueRegKey key;
    if (FAILED(OpenBookkeepingKey(key))) return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (auto entry = ReadBookkeepingValue(key.get(), name)) values[name] = *entry;
    }
    return values;
}

void ClearBookkeeping() {
    win32::UniqueRegKey key;
    ASSERT_TRUE(SUCCEEDED(OpenBookkeepingKey(key)));
    for (;;) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        RegDeleteValueW(key.get(), name);
    }
}

void Plant(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
    win32::UniqueRegKey key;
    ASSERT_TRUE(SUCCEEDED(OpenBookkeepingKey(key)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes));
}

DWORD OwnSession() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

class CameraListTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        g_world = &world;
        library.GetNumDevices = &FakeGetNumDevices;
        library.GetDeviceList = &FakeGetDeviceList;
        source.Initialize = &FakeInitialize;
        source.RegisterCamera = &FakeRegister;
        source.UnregisterCamera = &FakeUnregister;
        ClearBookkeeping();
    }
    void TearDown() override {
        ClearBookkeeping();
        g_world = nullptr;
        CoUninitialize();
    }
    FakeWorld world;
    CameraLibraryEntryPoints library;
    CaptureSourceEntryPoints source;
    BroadcastListener listener;
};

TEST_F(CameraListTest, RegistersNamesAndRemovesCameras) {
    CameraList list(library, source);
    world.devices = {Camera(1, 2, L"Alder"), Camera(2, 2, L"Alder"), Camera(3, 4, L"Cedar")};
    list.Scan();
    EXPECT_EQ((std::vector<std::wstring>{L"Alder", L"Alder 2", L"Cedar"}), list.Names());
    ASSERT_EQ(3u, world.kinds.size());
    EXPECT_TRUE(IsEqualGUID(kKindGeneral, world.kinds[0]));
    EXPECT_TRUE(IsEqualGUID(kKindCedar, world.kinds[2]));
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEARRIVAL}), BroadcastListener::Events());

    // One bookkeeping value per registration: this session, this bitness.
    auto values = BookkeepingValues();
    ASSERT_EQ(3u, values.size());
    for (const auto& [name, entry] : values) {
        EXPECT_EQ(1u, world.registered.count(name)) << name.c_str();
        EXPECT_EQ(OwnSession(), entry.sessionId);
        EXPECT_EQ(RunsUnderWow64() ? 1u : 0u, entry.flags);
    }

    // A scan without changes registers nothing and says nothing.
    BroadcastListener::Events().clear();
    list.Scan();
    EXPECT_EQ(3u, world.registered.size());
    EXPECT_TRUE(BroadcastListener::Events().empty());

    // The first Alder leaves and a third arrives in one scan: numbers are
    // handed out before removals give theirs back; arrival is announced first.
    world.devices = {Camera(2, 2, L"Alder"), Camera(3, 4, L"Cedar"), Camera(4, 2, L"Alder")};
    list.Scan();
    EXPECT_EQ((std::vector<std::wstring>{L"Alder 2", L"Cedar", L"Alder 3"}), list.Names());
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}), BroadcastListener::Events());
    EXPECT_EQ(3u, BookkeepingValues().size());

    // One leaves, then another arrives: the freed number is used again, so
    // two cameras are called "Alder 2".
    world.devices = {Camera(2, 2, L"Alder"), Camera(3, 4, L"Cedar")};
    list.Scan();
    world.devices.push_back(Camera(5, 2, L"Alder"));
    list.Scan();
    EXPECT_EQ((std::vector<std::wstring>{L"Alder 2", L"Cedar", L"Alder 2"}), list.Names());

    // An empty list removes everything with one removal broadcast.
    BroadcastListener::Events().clear();
    world.devices.clear();
    list.Scan();
    EXPECT_EQ(0u, list.Count());
    EXPECT_TRUE(world.registered.empty());
    EXPECT_TRUE(BookkeepingValues().empty());
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE}), BroadcastListener::Events());
}

TEST_F(CameraListTest, InUseChangesAnnounceWithoutReregistering) {
    CameraList list(library, source);
    world.devices = {Camera(1, 2, L"Alder")};
    list.Scan();
    BroadcastListener::Events().clear();
    world.devices[0].inUse = 1;
    list.Scan();
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE}), BroadcastListener::Events());
    world.devices[0].inUse = 0;
    list.Scan();
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL}), BroadcastListener::Events());
    EXPECT_EQ(1u, world.registered.size());
}

TEST_F(CameraListTest, FailedRegistrationLeavesNoValueAndRetries) {
    CameraList list(library, source);
    world.devices = {Camera(1, 2, L"Alder")};
    world.failRegistrations = 1;
    list.Scan();
    EXPECT_EQ(0u, list.Count());
    EXPECT_TRUE(BookkeepingValues().empty());
    // The retry takes the next number: the counter is not given back.
    list.Scan();
    EXPECT_EQ((std::vector<std::wstring>{L"Alder 2"}), list.Names());
    EXPECT_EQ(1u, BookkeepingValues().size());

    // A device list that cannot be read changes nothing.
    world.failCount = true;
    world.devices.clear();
    list.Scan();
    EXPECT_EQ(1u, list.Count());
}

TEST_F(CameraListTest, TeardownUnregistersEverything) {
    {
        CameraList list(library, source);
        world.devices = {Camera(1, 2, L"Alder"), Camera(2, 0, L"Cedar")};
        list.Scan();
        BroadcastListener::Events().clear();
        list.Teardown();
        EXPECT_EQ(0u, list.Count());
    }
    EXPECT_TRUE(world.registered.empty());
    EXPECT_TRUE(BookkeepingValues().empty());
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE}), BroadcastListener::Events());
}

TEST_F(CameraListTest, FailedUnregisterKeepsTheValueForALaterCleanup) {
    CameraList list(library, source);
    world.devices = {Camera(1, 2, L"Alder")};
    list.Scan();
    world.failUnregister = true;
    world.devices.clear();
    list.Scan();
    EXPECT_EQ(0u, list.Count());
    EXPECT_EQ(1u, BookkeepingValues().size());
    world.failUnregister = false;
    list.CleanUpStale(OwnSession());
    EXPECT_TRUE(BookkeepingValues().empty());
}

TEST_F(CameraListTest, CleanupRemovesOnlyWellFormedValuesOfItsSessionAndBitness) {
    const uint32_t own = RunsUnderWow64() ? 1 : 0;
    const DWORD session = OwnSession();
    const std::wstring mine = L"{11111111-2222-3333-4444-555555555555}";
    const std::wstring mineExtraBits = L"{11111111-2222-3333-4444-555555555556}";
    const std::wstring otherSession = L"{11111111-2222-3333-4444-555555555557}";
    const std::wstring otherBitness = L"{11111111-2222-3333-4444-555555555558}";
    const std::wstring asText = L"{11111111-2222-3333-4444-555555555559}";
    const std::wstring shortValue = L"{11111111-2222-3333-4444-55555555555A}";
    const std::wstring longValue = L"{11111111-2222-3333-4444-55555555555B}";
    const std::wstring notClsid = L"not a clsid";
    const BookkeepingEntry entryMine{session, own};
    const BookkeepingEntry entryExtra{session, own | 0x10};
    const BookkeepingEntry entryOther{session + 7, own};
    const BookkeepingEntry entryOtherBitness{session, own ^ 1};
    Plant(mine, REG_BINARY, &entryMine, 8);
    Plant(mineExtraBits, REG_BINARY, &entryExtra, 8);
    Plant(otherSession, REG_BINARY, &entryOther, 8);
    Plant(otherBitness, REG_BINARY, &entryOtherBitness, 8);
    Plant(asText, REG_SZ, L"12345678", 18);
    // Four bytes: the flags would come from stale memory.
    Plant(shortValue, REG_BINARY, &entryMine, 4);
    uint8_t twelve[12] = {};
    std::memcpy(twelve, &entryMine, 8);
    Plant(longValue, REG_BINARY, twelve, 12);
    Plant(notClsid, REG_BINARY, &entryMine, 8);

    CameraList list(library, source);
    list.CleanUpStale(session);
    auto values = BookkeepingValues();
    EXPECT_EQ(0u, values.count(mine));
    EXPECT_EQ(0u, values.count(mineExtraBits));
    EXPECT_EQ(1u, values.count(otherSession));
    EXPECT_EQ(1u, values.count(otherBitness));
    EXPECT_EQ(1u, values.count(notClsid));
    EXPECT_EQ(2u, world.unregistered.size());
    EXPECT_EQ((std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE}), BroadcastListener::Events());
    {
        // Values that are not 8-byte records stay where they are.
        win32::UniqueRegKey key;
        ASSERT_TRUE(SUCCEEDED(OpenBookkeepingKey(key)));
        for (const auto& name : {asText, shortValue, longValue}) {
            EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr));
        }
    }
    // A clean-up run takes every session of its bitness.
    list.CleanUpStale(std::nullopt);
    values = BookkeepingValues();
    EXPECT_EQ(0u, values.count(otherSession));
    EXPECT_EQ(1u, values.count(otherBitness));
}

TEST_F(CameraListTest, DeviceChangeChecksTheHeaderSize) {
    CameraList list(library, source);
    world.devices = {Camera(1, 2, L"Alder")};
    list.Scan();
    // A header claiming an interface type with a short size is not read further.
    DEV_BROADCAST_HDR shortHeader{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_DEVICEINTERFACE, 0};
    list.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&shortHeader));
    list.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
    DEV_BROADCAST_DEVICEINTERFACE_W full{};
    full.dbcc_size = sizeof(full);
    full.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    // Without a proxy the feeders have nothing to attach to: the camera stays.
    list.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&full));
    EXPECT_EQ(1u, list.Count());
}

TEST(ProductName, EndsWithinThirtyTwoCharacters) {
    DeviceEntry e{};
    for (auto& c : e.product) c = L'x';
    e.serialNumber[0] = L'S';
    EXPECT_EQ(32u, ProductName(e).size());
    EXPECT_TRUE(IsEqualGUID(kKindCedar, CameraKindOf(0)));
    EXPECT_TRUE(IsEqualGUID(kKindCedar, CameraKindOf(4)));
    for (int model : {1, 2, 3, 5, 12}) EXPECT_TRUE(IsEqualGUID(kKindGeneral, CameraKindOf(model)));
}

}  // namespace
}  // namespace orvo::watchdog
