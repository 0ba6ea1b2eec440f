// The device tables in one process: the cross-process table through two
// objects (as two processes would hold it) and the process table.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "camera_api/cameras/model_params.h"
#include "camera_api/devices/device_tables.h"
#include "support/child_process.h"

using namespace orvo;

namespace {

std::wstring DevicePath(int n) {
    return L"\\\\?\\usb#vid_2d4e&pid_0317#serial" + std::to_wstring(n) +
           L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

DeviceRecord NewRecord(uint32_t devInst = 0x100, int model = 9) {
    DeviceRecord record{};
    record.entry.deviceId = -1;
    record.entry.model = model;
    record.entry.devInst = devInst;
    record.transport = kTransportWinUsb;
    return record;
}

// A fresh pair of table names per test, so tests never see each other's devices.
class SharedTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(first.Open(mapping.c_str()));
        ASSERT_TRUE(second.Open(mapping.c_str()));
    }
    int Add(CSharedDeviceData& table, int n) {
        DeviceRecord record = NewRecord();
        EXPECT_TRUE(table.Add(DevicePath(n).c_str(), record));
        return record.entry.deviceId;
    }
    std::wstring mutexName = test::UniqueName(L"tableMutex");
    std::wstring mapping = test::UniqueName(L"table");
    CSharedDeviceData first{mutexName.c_str()};
    CSharedDeviceData second{mutexName.c_str()};
};

TEST_F(SharedTableTest, IdsStartAtOneAndAPathKeepsItsId) {
    EXPECT_EQ(first.Count(), 0);
    EXPECT_EQ(Add(first, 1), 1);
    DeviceRecord again = NewRecord();
    EXPECT_TRUE(second.Add(DevicePath(1).c_str(), again));
    EXPECT_EQ(again.entry.deviceId, -1) << "a present path succeeds without change";
    EXPECT_EQ(second.IdForPath(DevicePath(1).c_str()), 1);

    std::wstring upper = DevicePath(1);
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_EQ(second.IdForPath(upper.c_str()), 1) << "paths compare case-insensitively";
    EXPECT_EQ(Add(second, 2), 2);
    EXPECT_EQ(first.Count(), 2);
}

TEST_F(SharedTableTest, IdsAreNeverReusedAndTheTableHoldsEight) {
    for (int n = 1; n <= 8; ++n) EXPECT_EQ(Add(first, n), n);
    DeviceRecord ninth = NewRecord();
    EXPECT_FALSE(first.Add(DevicePath(9).c_str(), ninth));
    EXPECT_TRUE(first.RemoveById(3));
    EXPECT_FALSE(first.RemoveById(3));
    EXPECT_EQ(Add(first, 9), 9) << "the freed slot is reused, its id is not";
    wchar_t path[kPathChars];
    DeviceRecord record{};
    ASSERT_TRUE(first.GetById(9, path, kPathChars, &record));
    EXPECT_EQ(DevicePath(9), path);
    EXPECT_FALSE(first.GetById(3, path, kPathChars, &record));
}

TEST_F(SharedTableTest, PathsThatCannotBeStoredAreRefused) {
    DeviceRecord record = NewRecord();
    EXPECT_FALSE(first.Add(L"", record));
    EXPECT_FALSE(first.Add(nullptr, record));
    const std::wstring longest(kMaxPathLength, L'p');
    EXPECT_TRUE(first.Add(longest.c_str(), record));
    const std::wstring tooLong(kMaxPathLength + 1, L'q');
    DeviceRecord other = NewRecord();
    EXPECT_FALSE(first.Add(tooLong.c_str(), other));
    EXPECT_EQ(first.Count(), 1);
}

TEST_F(SharedTableTest, OwnershipChangesOnlyOnARealChange) {
    const int id = Add(first, 1);
    DeviceRecord record{};
    wchar_t path[kPathChars];

    EXPECT_FALSE(first.SetOwner(id, false)) << "not in use: closing changes nothing";
    EXPECT_TRUE(first.SetOwner(id, true));
    ASSERT_TRUE(second.GetById(id, path, kPathChars, &record));
    EXPECT_EQ(record.entry.inUse, 1);
    EXPECT_EQ(record.ownerProcessId, static_cast<int32_t>(::GetCurrentProcessId()));
    EXPECT_EQ(record.changeCounter, 1);

    EXPECT_FALSE(second.SetOwner(id, true)) << "already in use";
    EXPECT_TRUE(second.SetOwner(id, false));
    ASSERT_TRUE(first.GetById(id, path, kPathChars, &record));
    EXPECT_EQ(record.entry.inUse, 0);
    EXPECT_EQ(record.ownerProcessId, 0);
    EXPECT_EQ(record.changeCounter, 2);

    EXPECT_FALSE(first.SetOwner(-1, true));
    EXPECT_FALSE(first.RemoveById(-1));
    EXPECT_FALSE(first.SetOwner(id + 100, true));
}

TEST_F(SharedTableTest, ListingStopsAtTheCapacity) {
    for (int n = 1; n <= 3; ++n) Add(first, n);
    DeviceEntry entries[3];
    int count = -1;
    EXPECT_EQ(second.ListEntries(2, entries, &count), ORVO_E_MORE_DATA);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(entries[0].deviceId, 1);
    EXPECT_EQ(entries[1].deviceId, 2);
    EXPECT_EQ(second.ListEntries(3, entries, &count), ORVO_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(second.ListEntries(3, nullptr, &count), ORVO_E_FAIL);

    DeviceRecord records[3];
    first.RemoveById(2);
    EXPECT_EQ(second.SnapshotRecords(3, records, &count), ORVO_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(records[1].entry.deviceId, 3) << "slot order, skipping free slots";
    first.RemoveById(1);
    first.RemoveById(3);
    EXPECT_EQ(second.ListEntries(3, entries, &count), ORVO_E_NO_DEVICES);
}

// Both tables, as the device manager combines them.
class DeviceTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mine.OpenShared(mapping.c_str()));
        ASSERT_TRUE(theirs.OpenShared(mapping.c_str()));
    }
    int Register(DeviceTables& tables, int n, uint32_t devInst) {
        DeviceRecord record = NewRecord(devInst);
        EXPECT_TRUE(tables.Register(DevicePath(n).c_str(), record));
        return record.entry.deviceId;
    }
    std::wstring mutexName = test::UniqueName(L"tableMutex");
    std::wstring mapping = test::UniqueName(L"table");
    DeviceTables mine{mutexName.c_str()};
    DeviceTables theirs{mutexName.c_str()};
};

TEST_F(DeviceTablesTest, EachProcessListsWhatItFoundWithItsOwnDevInst) {
    const int shared = Register(theirs, 1, 0xAAA);
    EXPECT_EQ(Register(mine, 1, 0xBBB), shared);
    Register(theirs, 2, 0xCCC);   // found only by the other process

    EXPECT_TRUE(mine.IsKnown(DevicePath(1).c_str()));
    EXPECT_FALSE(mine.IsKnown(DevicePath(2).c_str()));

    DeviceEntry entries[8];
    int count = -1;
    EXPECT_EQ(mine.DeviceList(8, entries, &count), ORVO_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(entries[0].deviceId, shared);
    EXPECT_EQ(entries[0].devInst, 0xBBBu);

    DeviceRecord record{};
    wchar_t path[kPathChars];
    ASSERT_TRUE(mine.Lookup(shared, path, kPathChars, &record));
    EXPECT_EQ(record.entry.devInst, 0xBBBu);
    EXPECT_FALSE(mine.Lookup(shared + 1, path, kPathChars, &record)) << "not found by this process";
}

TEST_F(DeviceTablesTest, DeviceListResults) {
    DeviceEntry entries[8];
    int count = -1;
    EXPECT_EQ(mine.DeviceList(8, entries, nullptr), ORVO_E_FAIL);
    EXPECT_EQ(mine.DeviceList(8, entries, &count), ORVO_E_NO_DEVICES);

    Register(theirs, 9, 1);
    EXPECT_EQ(mine.DeviceList(8, entries, &count), ORVO_E_NO_DEVICES) << "this process found nothing";
    EXPECT_EQ(mine.DeviceList(0, entries, &count), ORVO_E_UNSUPPORTED);
    EXPECT_EQ(mine.DeviceList(8, nullptr, &count), ORVO_E_UNSUPPORTED);

    Register(mine, 1, 1);
    Register(mine, 2, 2);
    Register(mine, 3, 3);
    count = -1;
    EXPECT_EQ(mine.DeviceList(2, entries, &count), ORVO_E_MORE_DATA);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(mine.DeviceList(3, entries, &count), ORVO_OK);
    EXPECT_EQ(count, 3);
}

TEST_F(DeviceTablesTest, AFailedProcessAddIsUndoneInTheSharedTable) {
    for (int n = 1; n <= 8; ++n) Register(mine, n, n);
    // Another process handled the removal of every device: the shared slots
    // are free, this process still holds its eight entries.
    for (int id = 1; id <= 8; ++id) theirs.Forget(id);
    EXPECT_EQ(mine.SharedCount(), 0);
    EXPECT_EQ(mine.LocalCount(), 8);

    DeviceRecord record = NewRecord();
    EXPECT_FALSE(mine.Register(DevicePath(20).c_str(), record));
    EXPECT_EQ(mine.SharedCount(), 0) << "the shared add was rolled back";
}

TEST_F(DeviceTablesTest, ForgetClearsBothTables) {
    const int id = Register(mine, 1, 5);
    EXPECT_TRUE(mine.Forget(id));
    EXPECT_FALSE(mine.IsKnown(DevicePath(1).c_str()));
    EXPECT_EQ(mine.LocalCount(), 0);
    EXPECT_FALSE(mine.Forget(id));
}

TEST(LocalDeviceTable, APathMovesToItsNewId) {
    LocalDeviceTable table;
    EXPECT_FALSE(table.Add(L"", 1, 1));
    EXPECT_TRUE(table.Add(L"\\\\?\\a", 1, 4));
    EXPECT_TRUE(table.Add(L"\\\\?\\A", 2, 4)) << "same path, same id: unchanged";
    EXPECT_TRUE(table.Add(L"\\\\?\\a", 3, 6));
    EXPECT_EQ(table.Count(), 1);
    EXPECT_EQ(table.IdForPath(L"\\\\?\\a"), 6);
    uint32_t devInst = 0;
    EXPECT_FALSE(table.DevInstForId(4, &devInst));
    EXPECT_TRUE(table.DevInstForId(6, &devInst));
    EXPECT_EQ(devInst, 3u);
    wchar_t path[kPathChars];
    int id = 0;
    EXPECT_TRUE(table.GetSlot(0, path, kPathChars, &id));
    EXPECT_FALSE(table.GetSlot(8, path, kPathChars, &id));
    EXPECT_FALSE(table.RemoveById(-1));
}

// Any bytes at all: the repair leaves a table whose every operation is safe.
TEST(SharedTableRepair, AnyContentBecomesConsistent) {
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        SharedDeviceData data;
        auto* raw = reinterpret_cast<unsigned char*>(&data);
        for (size_t i = 0; i < sizeof(data); ++i) raw[i] = static_cast<unsigned char>(random());
        if (round % 3 == 0) {
            // Mostly-sane tables exercise the occupied-slot rules too.
            for (auto& path : data.paths) path[round % 5] = L'\0';
        }
        RepairSharedDeviceData(data);

        int occupied = 0;
        int highest = 0;
        for (int slot = 0; slot < kMaxDevices; ++slot) {
            ASSERT_EQ(data.paths[slot][kMaxPathLength], L'\0');
            if (data.paths[slot][0] == L'\0') continue;
            ++occupied;
            const DeviceEntry& entry = data.records[slot].entry;
            ASSERT_GT(entry.deviceId, 0);
            ASSERT_TRUE(entry.inUse == 0 || entry.inUse == 1);
            ASSERT_EQ(entry.product[31], L'\0');
            ASSERT_EQ(entry.serialNumber[15], L'\0');
            highest = std::max(highest, static_cast<int>(entry.deviceId));
        }
        ASSERT_EQ(data.count, occupied);
        ASSERT_TRUE(data.nextDeviceId > highest || data.nextDeviceId == INT_MAX);
        ASSERT_GE(data.nextDeviceId, 1);
    }
}

TEST(ModelParams, AnswerByModelFamily) {
    EXPECT_TRUE(ModelSupportsParam(0, 53));
    EXPECT_TRUE(ModelSupportsParam(4, 0));
    EXPECT_FALSE(ModelSupportsParam(0, 24)) << "the status word is not listed for raw-sensor models";
    EXPECT_TRUE(ModelSupportsParam(5, 24));
    EXPECT_TRUE(ModelSupportsParam(5, 46));
    EXPECT_FALSE(ModelSupportsParam(2, 46));
    EXPECT_TRUE(ModelSupportsParam(12, 70));
    EXPECT_FALSE(ModelSupportsParam(12, 72));
    EXPECT_FALSE(ModelSupportsParam(1, 4)) << "model 1 is never served";
    EXPECT_FALSE(ModelSupportsParam(13, 4));
    EXPECT_FALSE(ModelSupportsParam(-1, 4));
}

}  // namespace
